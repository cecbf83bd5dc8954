#pragma once
// The mailbox viewer without its window: the header list of one configuration, the
// download of a message into the local store, the display of a stored message with its
// attachments, the code-page commands and the commands of the text pane. The window
// (TForm2) is its ViewerView; the program's check and timer reach it as ViewerServices.

#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "config/myuser.h"
#include "mail/msmsg.h"
#include "mail/mspop.h"
#include "viewer/CyrCoder.h"

namespace vigilo {

// What the window shows. Every operation does nothing by default.
class ViewerView {
 public:
  virtual ~ViewerView() = default;
  virtual void SetCaption(const std::string& caption) { (void)caption; }
  // The header records changed as a whole (fill, sort, deletion) or one of them.
  virtual void HeadsReset() {}
  virtual void HeadChanged(int record) { (void)record; }
  // The grid's current row shows `record`.
  virtual void SetCurrentRecord(int record) { (void)record; }
  virtual void SetAntivirusEnabled(bool enabled) { (void)enabled; }
  // The message pane, as UTF-8; the caret goes to the start.
  virtual void ShowText(const std::string& text) { (void)text; }
  virtual void ClearAttachments() {}
  virtual void AddAttachment(const std::string& name, int64_t size, const std::string& path) {
    (void)name;
    (void)size;
    (void)path;
  }
  // The image of the code-page button.
  virtual void ShowCodePage(TCodePage cp) { (void)cp; }
  virtual void CloseWindow() {}
  // An information box and a Yes/No question (true for Yes).
  virtual void Inform(const std::string& text) { (void)text; }
  virtual bool Ask(const std::string& text) {
    (void)text;
    return false;
  }
  // The progress window of a download, centred over the viewer.
  virtual void ShowDownloadProgress(int max) { (void)max; }
  virtual void SetDownloadProgress(int bytes, const std::string& label2) {
    (void)bytes;
    (void)label2;
  }
  virtual void HideDownloadProgress() {}
};

// What the viewer needs from the rest of the program.
class ViewerServices {
 public:
  virtual ~ViewerServices() = default;
  // Runs `action` once neither a POP3 session nor a check is running.
  virtual void WhenIdle(std::function<void()> action) { action(); }
  virtual void StopTimer() {}
  virtual void StartTimer() {}
  virtual bool EnsureConnection() { return true; }
  // Logs in to the configuration's server with the shared client; false when it fails.
  virtual bool PopLogin(int32_t conf) {
    (void)conf;
    return false;
  }
  virtual void FinishConnection() {}
  // Tooltip and tray picture from the stored counts (ends the deletion animation).
  virtual void UpdateStatus() {}
  // The tray icon cycles through the deletion pictures (ImageList3).
  virtual void StartDeleteAnimation() {}
  // The server work of an immediate deletion in configuration conf: one session that
  // deletes the messages `chosen` names and reads the others' headers again into the
  // records. Returns the keys that named several messages (none of them deleted).
  // A failed log-in changes nothing; an error of the session is raised.
  virtual std::vector<std::string> RefreshHeaders(int32_t conf,
                                                  const std::vector<tmailhead>& chosen) {
    (void)conf;
    (void)chosen;
    return {};
  }
  virtual void WriteErrorLog(const std::string& error, int32_t conf) {
    (void)error;
    (void)conf;
  }
  // Starts `program` with `args`, each one argument, no shell; false when it cannot start.
  virtual bool StartProgram(const std::string& program, const std::vector<std::string>& args) {
    (void)program;
    (void)args;
    return false;
  }
  // Opens a file or a web address with the desktop's program for it.
  virtual bool OpenDocument(const std::string& path_or_url) {
    (void)path_or_url;
    return false;
  }
};

// The compose window and the address book, as the viewer uses them. Until they exist
// the window leaves their commands disabled.
class ComposeService {
 public:
  virtual ~ComposeService() = default;
  virtual void SendMessage(int32_t conf, const std::string& to, const std::string& subject) = 0;
};
class AddressBookService {
 public:
  virtual ~AddressBookService() = default;
  virtual void AddAddress(const std::string& text) = 0;
  virtual void ShowModal() = 0;
};

// One line of a printed message.
struct PrintLine {
  std::string Text;
  int Size = 10;
  bool Bold = false;
  bool Italic = false;
};

class TMailViewer {
 public:
  TMailViewer(tusers& settings, ms::TmsPOPClient& pop, ViewerServices& services, ViewerView& view,
              std::string tempPath);

  // Sort state; survives between showings.
  int SortColumn = 3;
  bool SortAscending = true;
  // Raw message instead of its body text.
  bool ShowAll = false;
  std::string AntivirusProgram;
  ComposeService* Compose = nullptr;
  AddressBookService* AddressBook = nullptr;

  int32_t CurConf() const { return conf_; }
  tuser& Conf() { return s_.Conf.at(static_cast<std::size_t>(conf_)); }
  // The record of the current row; -1 when the list is empty.
  int Current() const { return current_; }
  int HeadCount();

  // Shows configuration conf: caption, sort, code pages from "info.txt", fill, first row.
  void Show(int32_t conf);
  // The window closes: the code-page choices are written.
  void Close();
  // Refills the grid; an empty list closes the window with "Больше сообщений нет".
  bool RefillGrid();
  // A click on a caption: sorts by the column (again: other direction).
  void ClickCaption(int column);
  // The current row moved to `record`: shows its message.
  void SelectRecord(int record);
  // Ctrl+left click: the record's Marked flag flips.
  void ToggleMarked(int record);

  // Downloads the current record's message once no check runs (asks first when it is
  // stored already). `done` receives whether a message was stored.
  void Download(std::function<void(bool)> done = nullptr);
  // Shows the stored message of the current record (nothing when it has no file).
  void DisplayMessage();

  // The record shown through page cp from now on (its row, text and attachment names).
  void SetCodePage(TCodePage cp);
  // The code-page button: guesses again from subject, sender, recipient, then the text.
  void Redetect();
  TCodePage CurrentCodePage();

  // Attachment commands by the name the list shows.
  std::string AttachmentPath(const std::string& name) const;
  void OpenAttachment(const std::string& name);
  void CheckAttachment(const std::string& name);
  // Copies the attachment to target (replacing it); "" or the failure.
  std::string SaveAttachment(const std::string& name, const std::string& target);
  // "Просмотреть как Web" / "как текст": the pane's text into view~tmp.html or .txt, opened.
  void ViewPaneText(const std::string& paneText, bool html);
  // A link the pane found under the caret (web address or mail address).
  void OfferLink(const std::string& link, bool web);

  // "Удалить" and "Удалить письма черного ящика". While deletion waits for the next
  // check (delType off) the current record's mark, or the marks of every record whose
  // stored sender is blacklisted, turn on or off. With delType on the picked records
  // (else the current one), or every record whose sender as shown is blacklisted, are
  // deleted on the server at once, once no check runs, and the list is read again.
  void DelOneClick();
  void DelBlackClick();
  // "Добавить в черный список": the sender as the list shows it joins the blacklist,
  // which is saved; its rows turn gray.
  void AddSenderToBlacklist();

  // Reply and address-book commands (need the services above).
  void Reply();
  void AddSenderToAddressBook();

  // The lines of a printout: heading, recipient, sender, subject, the pane's lines.
  std::vector<PrintLine> PrintLines(const std::vector<std::string>& paneLines,
                                    const std::string& version, const std::string& now);

  // Texts of a record as the grid shows them (UTF-8).
  std::string CellText(int record, int column);
  // The decoded body and raw text of the message on screen (bytes as stored).
  const std::string& ShownRaw() const { return shownRaw_; }

 private:
  bool DoDownload(const std::string& key);
  void DeleteNow(std::vector<tmailhead> chosen);
  void ResetAfterDeletion();
  // Finds the message whose key is `key` in the open session; its index or -1.
  TCodePage BodyPage(const tmailhead& h, const std::string& body) const;
  void ShowAttachments(const tmailhead& h, TCodePage cp);
  tmailhead* CurrentHead();
  std::string PickKey(const tmailhead& h) const;

  tusers& s_;
  ms::TmsPOPClient& pop_;
  ViewerServices& services_;
  ViewerView& view_;
  std::string temp_;
  int32_t conf_ = 0;
  int current_ = -1;
  ms::TmsMessage shown_;  // the message on screen, apart from the check's message object
  std::string shownRaw_;
  std::set<std::string> picked_;  // records whose page the user chose
  bool downloading_ = false;
  bool deleting_ = false;
};

}  // namespace vigilo
