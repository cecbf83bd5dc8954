#pragma once
// The about window's logic without widgets: its fixed texts, the version label, the
// slow upward scrolling of the information text, and the version check that fetches
// the publisher's version and information texts in the background.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace ms {
class TmsHTTPClient;
}

namespace vigilo {

// The version box's text until the server's text arrives.
inline constexpr const char* kVersionPending = "Проверка";
// Documents on the publisher's server, below its address (the setting UpdateURL).
inline constexpr const char* kVersionDocument = "/project/vigilo/version.txt";
inline constexpr const char* kInfoDocument = "/project/vigilo/info.txt";
inline constexpr const char* kHomeDocument = "/project/vigilo/vg.html";
// The maker: name and mail address shown in the about window.
inline constexpr const char* kMakerName = "Brenna";
inline constexpr const char* kMakerMail = "brenna@example.org";

// The built-in description of the information panel (26 lines).
const std::vector<std::string>& AboutDescription();

// "1.4.1" -> "1.4.1.0": the program's version as four numbers joined with ".".
std::string FileVersionText(const std::string& version);
// "Версия: 1.4.1.0 от 18.01.2002".
std::string VersionLabelText(const std::string& version, const std::string& date);

// The address of a document on the publisher's server: the trimmed UpdateURL without
// trailing "/" followed by `document`; empty when UpdateURL is empty.
std::string PublisherUrl(const std::string& update_url, const std::string& document);

// Limits for fetched texts: they are shown as plain text and cut to this size.
inline constexpr std::size_t kFetchedTextChars = 8000;
inline constexpr std::size_t kFetchedTextLines = 200;
// A fetched body as lines of plain text: valid UTF-8 (other bytes replaced), no
// control characters but tabs, CR LF or CR as line ends, cut to the limits above.
std::vector<std::string> FetchedTextLines(const std::string& body);

// The scrolling of the information text (Memo2) inside its panel (Panel1). Tag is
// the state: 3 splash (no scrolling), 0 scrolling, 1 stopped.
class TAboutScroll {
 public:
  static constexpr int kSplash = 3;
  static constexpr int kScrolling = 0;
  static constexpr int kStopped = 1;
  static constexpr int kLineHeight = 13;
  static constexpr int kStepMs = 150;

  int Tag = kSplash;

  // The window is being shown. The first showing (the splash) only ends the splash
  // state and returns false; any later one starts the text from the bottom of the
  // panel and returns true: the caller then calls Tick every kStepMs.
  bool Show(int panelHeight, int lines);
  // One step: the text moves up one pixel; after panel height + text height steps it
  // starts again from the bottom. Returns false (and moves nothing) once stopped.
  bool Tick();
  // The window is closed or hidden: the scrolling stops.
  void Stop() { Tag = kStopped; }
  // The text changed while shown: its height follows, the position stays.
  void SetLines(int lines) { MemoHeight = kLineHeight * lines; }

  int MemoTop = 0;
  int MemoHeight = 0;

 private:
  void Restart();
  int panel_ = 0;
  int step_ = 0;
};

// Fetches one document: the lines of its body when the server answers 200, nothing
// on any failure (bad address, no connection, time-out, other status).
std::optional<std::vector<std::string>> FetchText(ms::TmsHTTPClient& http, const std::string& url);

// The version check: fetches version.txt and then info.txt from the publisher's
// server on a thread of its own. Each text that arrives is handed to OnText on that
// thread (the caller moves it to its own); failures are silent. With an empty address
// no thread starts and nothing is requested.
class TVersion {
 public:
  enum Which { Version, Info };
  using TextEvent = std::function<void(Which which, std::vector<std::string> lines)>;

  // `timeout_s` bounds each request as a whole, however slowly a server answers.
  TVersion(const std::string& update_url, TextEvent OnText, int timeout_s = 30);
  // Cancels a fetch still running; OnText is never called after this returns.
  ~TVersion();
  TVersion(const TVersion&) = delete;
  TVersion& operator=(const TVersion&) = delete;

  bool Started() const { return state_ != nullptr; }
  // Waits until both fetches are over (tests); false when `ms` passed first.
  bool WaitDone(int ms) const;

 private:
  struct State;
  static void Run(std::shared_ptr<State> state, std::string base, int timeout_s);
  std::shared_ptr<State> state_;
  std::thread thread_;
};

}  // namespace vigilo
