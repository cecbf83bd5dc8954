#include "core/about.h"

#include <chrono>
#include <exception>

#include "base/text.h"
#include "base/utf8.h"
#include "mail/mshttp.h"

namespace vigilo {

const std::vector<std::string>& AboutDescription() {
  static const std::vector<std::string> text = {
      "Vigilo - почтогонялка",
      "",
      "Программа работает в фоне и следит",
      "за почтовыми ящиками POP3:",
      "значок у часов показывает,",
      "ждет ли вас почта.",
      "",
      "Работает в локальной сети",
      "и через модемное соединение,",
      "сама дозванивается до провайдера.",
      "",
      "Заголовки писем можно просмотреть",
      "и удалить лишнее прямо на сервере,",
      "не скачивая писем.",
      "",
      "Черный список отправителей.",
      "",
      "Понимает все русские кодировки:",
      "KOI8-R, DOS 866, ISO 8859-5, Windows 1251.",
      "",
      "Короткие сообщения по локальной сети.",
      "",
      "Отправка писем по SMTP",
      "и адресная книга.",
      "",
      "Запускается только одна копия программы.",
  };
  return text;
}

std::string FileVersionText(const std::string& version) {
  std::vector<std::string> numbers;
  std::string current;
  for (char c : version) {
    if (c >= '0' && c <= '9') {
      current += c;
    } else if (c == '.') {
      numbers.push_back(current.empty() ? "0" : current);
      current.clear();
    } else {
      break;  // "1.2.3-rc1": the numbers before the suffix
    }
  }
  numbers.push_back(current.empty() ? "0" : current);
  numbers.resize(4, "0");
  return numbers[0] + "." + numbers[1] + "." + numbers[2] + "." + numbers[3];
}

std::string VersionLabelText(const std::string& version, const std::string& date) {
  return "Версия: " + FileVersionText(version) + " от " + date;
}

std::string PublisherUrl(const std::string& update_url, const std::string& document) {
  std::string base = Trim(update_url);
  if (base.empty()) return {};
  while (!base.empty() && base.back() == '/')
    base.pop_back();
  return base + document;
}

std::vector<std::string> FetchedTextLines(const std::string& body) {
  const std::string text = CutChars(ToValidUtf8(body), kFetchedTextChars);
  std::vector<std::string> lines(1);
  bool full = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      if (lines.size() == kFetchedTextLines) {
        full = true;
        break;
      }
      lines.emplace_back();
    } else if (c == '\t' || c >= 0x20) {
      if (c != 0x7f) lines.back() += static_cast<char>(c);
    }
  }
  // A final line end ends the last line; it starts no empty one.
  if (!full && lines.size() > 1 && lines.back().empty()) lines.pop_back();
  return lines;
}

bool TAboutScroll::Show(int panelHeight, int lines) {
  panel_ = panelHeight;
  MemoHeight = kLineHeight * lines;
  if (Tag == kSplash) {
    Tag = kStopped;
    return false;
  }
  Tag = kScrolling;
  Restart();
  return true;
}

void TAboutScroll::Restart() {
  MemoTop = panel_ - 5;
  step_ = 0;
}

bool TAboutScroll::Tick() {
  if (Tag != kScrolling) return false;
  if (step_ >= panel_ + MemoHeight) Restart();
  --MemoTop;
  ++step_;
  return true;
}

std::optional<std::vector<std::string>> FetchText(ms::TmsHTTPClient& http, const std::string& url) {
  try {
    http.SetURL(url);
    if (http.Get() != 200) return std::nullopt;
    return FetchedTextLines(http.ResponseBody.str());
  } catch (const std::exception&) {
    return std::nullopt;  // no connection, time-out, bad address: the text stays
  }
}

struct TVersion::State {
  TextEvent OnText;
  ms::TmsHTTPClient http;
  std::mutex mutex;
  std::condition_variable changed;
  bool stopped = false;  // the owner is gone: no more events
  bool done = false;
};

TVersion::TVersion(const std::string& update_url, TextEvent OnText, int timeout_s) {
  if (PublisherUrl(update_url, "").empty()) return;  // no address: no request at all
  state_ = std::make_shared<State>();
  state_->OnText = std::move(OnText);
  thread_ = std::thread(&TVersion::Run, state_, update_url, timeout_s);
}

void TVersion::Run(std::shared_ptr<State> state, std::string base, int timeout_s) {
  ms::TmsHTTPClient& http = state->http;
  http.TimeOut = timeout_s;
  http.RequestTimeOut = timeout_s;
  http.MaxDataSize = 256 * 1024;
  const std::pair<Which, const char*> documents[] = {{Version, kVersionDocument},
                                                     {Info, kInfoDocument}};
  for (const auto& [which, document] : documents) {
    {
      std::lock_guard<std::mutex> lock(state->mutex);
      if (state->stopped) break;
    }
    auto lines = FetchText(http, PublisherUrl(base, document));
    std::lock_guard<std::mutex> lock(state->mutex);
    if (state->stopped) break;
    if (lines && state->OnText) state->OnText(which, std::move(*lines));
  }
  try {
    http.Disconnect();
  } catch (const std::exception&) {
  }
  std::lock_guard<std::mutex> lock(state->mutex);
  state->done = true;
  state->changed.notify_all();
}

bool TVersion::WaitDone(int ms) const {
  if (!state_) return true;
  std::unique_lock<std::mutex> lock(state_->mutex);
  return state_->changed.wait_for(lock, std::chrono::milliseconds(ms),
                                  [this] { return state_->done; });
}

TVersion::~TVersion() {
  if (!state_) return;
  std::unique_lock<std::mutex> lock(state_->mutex);
  state_->stopped = true;
  // A request waits in short slices and stops at the next one once canceled; the
  // flag is cleared when a connection starts, so it is set again until the end.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!state_->done && std::chrono::steady_clock::now() < deadline) {
    state_->http.Cancel();
    state_->changed.wait_for(lock, std::chrono::milliseconds(10));
  }
  const bool done = state_->done;
  lock.unlock();
  // A thread still stuck (a name lookup that does not return) keeps its own state
  // alive and, stopped, reports nothing: it must not hold up the program's end.
  if (done) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

}  // namespace vigilo
