#include "viewer/mailviewer.h"

#include <algorithm>
#include <filesystem>
#include <limits>

#include "base/text.h"
#include "base/utf8.h"
#include "mail/msexcept.h"
#include "mail/msmsgcls.h"
#include "viewer/blacklist.h"
#include "viewer/mailstore.h"
#include "viewer/msgstore.h"
#include "viewer/servermatch.h"

namespace vigilo {
namespace {

constexpr const char* kNoMoreMessages = "Больше сообщений нет";
constexpr const char* kAlreadyStored = "Это сообщение уже закачано.Повторить закачку?";
constexpr const char* kMessageGone =
    "Этого сообщения на сервере уже нет: его удалили или переместили.\rСписок обновится при "
    "следующей проверке почты.";

std::string KiB(int64_t bytes) {
  return std::to_string(bytes / 1024) + "k";
}

bool HasHighBytes(const std::string& s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The name the list shows for an attachment, before it is made safe for a file.
std::string AttachmentShownName(const std::string& name) {
  std::string n = Trim(name);
  if (const std::size_t amp = n.find('&'); amp != std::string::npos) n.erase(amp, 1);
  return n;
}

}  // namespace

TMailViewer::TMailViewer(tusers& settings, ms::TmsPOPClient& pop, ViewerServices& services,
                         ViewerView& view, std::string tempPath)
    : s_(settings), pop_(pop), services_(services), view_(view), temp_(std::move(tempPath)) {
  if (!temp_.empty() && temp_.back() != '/') temp_ += '/';
}

int TMailViewer::HeadCount() {
  if (conf_ < 0 || static_cast<std::size_t>(conf_) >= s_.Conf.size()) return 0;
  const tuser& u = Conf();
  return static_cast<int>(
      std::min(u.Heads.size(), static_cast<std::size_t>(std::max(0, u.HeadCount))));
}

tmailhead* TMailViewer::CurrentHead() {
  if (current_ < 0 || current_ >= HeadCount()) return nullptr;
  return &Conf().Heads[static_cast<std::size_t>(current_)];
}

std::string TMailViewer::PickKey(const tmailhead& h) const {
  return std::to_string(conf_) + '\n' + h.MessageID;
}

void TMailViewer::Show(int32_t conf) {
  conf_ = conf;
  current_ = -1;
  if (static_cast<std::size_t>(conf_) >= s_.Conf.size()) return;
  tuser& u = Conf();
  view_.SetCaption("Просмотр почтового ящика " + Trim(u.ConfigNM) + " на " + Trim(u.SMTPHost));
  view_.SetAntivirusEnabled(!Trim(AntivirusProgram).empty());
  SortHeads(u, SortKeyOfColumn(SortColumn), SortAscending);
  LoadCodePages(u);
  if (!RefillGrid()) return;
  SelectRecord(0);
}

void TMailViewer::Close() {
  if (static_cast<std::size_t>(conf_) >= s_.Conf.size()) return;
  const std::string error = SaveCodePages(s_.ProgramFolder(), Conf());
  if (!error.empty()) services_.WriteErrorLog(error, conf_);
}

bool TMailViewer::RefillGrid() {
  view_.HeadsReset();
  if (HeadCount() > 0) return true;
  current_ = -1;
  view_.CloseWindow();
  view_.Inform(kNoMoreMessages);
  return false;
}

void TMailViewer::ClickCaption(int column) {
  if (column < 0 || column > 5) return;
  if (column != SortColumn) {
    SortColumn = column;
    SortAscending = true;
  } else {
    SortAscending = !SortAscending;
  }
  SortHeads(Conf(), SortKeyOfColumn(SortColumn), SortAscending);
  if (!RefillGrid()) return;
  SelectRecord(0);
}

void TMailViewer::SelectRecord(int record) {
  if (record < 0 || record >= HeadCount()) return;
  current_ = record;
  view_.SetCurrentRecord(record);
  DisplayMessage();
  view_.ShowCodePage(CurrentCodePage());
}

void TMailViewer::ToggleMarked(int record) {
  if (record < 0 || record >= HeadCount()) return;
  tmailhead& h = Conf().Heads[static_cast<std::size_t>(record)];
  h.Marked = !h.Marked;
  view_.HeadChanged(record);
}

TCodePage TMailViewer::CurrentCodePage() {
  const tmailhead* h = CurrentHead();
  if (!h || !IsValidCodePage(h->CodePage)) return TCodePage::CP1251;
  return static_cast<TCodePage>(h->CodePage);
}

std::string TMailViewer::CellText(int record, int column) {
  if (record < 0 || record >= HeadCount()) return {};
  const tmailhead& h = Conf().Heads[static_cast<std::size_t>(record)];
  const auto cp = static_cast<TCodePage>(h.CodePage);
  switch (column) {
    case 0:
      return ToUtf8(h.From, cp);
    case 1:
      return ToUtf8(h.Subject, cp);
    case 2:
      return ToValidUtf8(h.Size);
    case 3:
      return ToUtf8(h.Date, cp);
    case 4:
      return ToUtf8(h.To, cp);
    case 5:
      return ToValidUtf8(h.MessageID);
    default:
      return {};
  }
}

// ---- download ----

void TMailViewer::Download(std::function<void(bool)> done) {
  const tmailhead* h = CurrentHead();
  if (!h || downloading_) {
    if (done) done(false);
    return;
  }
  const std::string key = h->MessageID;
  if (HeadFileExists(Conf(), *h) && !view_.Ask(kAlreadyStored)) {
    if (done) done(false);
    return;
  }
  downloading_ = true;
  services_.StopTimer();
  services_.WhenIdle([this, key, done = std::move(done)] {
    bool ok = false;
    try {
      ok = DoDownload(key);
    } catch (...) {
      ok = false;
    }
    downloading_ = false;
    services_.StartTimer();
    if (done) done(ok);
  });
}

bool TMailViewer::DoDownload(const std::string& key) {
  // The list may have been refilled by a check while the download waited.
  int record = -1;
  for (int i = 0; i < HeadCount(); ++i) {
    if (Conf().Heads[static_cast<std::size_t>(i)].MessageID == key) {
      record = i;
      break;
    }
  }
  if (record < 0) return false;
  const tuser& u = Conf();
  const tmailhead head = u.Heads[static_cast<std::size_t>(record)];
  const int index = head.Index;
  const std::string file = HeadFilePath(u, head);
  if (const std::string e = EnsureInDir(s_.ProgramFolder(), u); !e.empty()) {
    services_.WriteErrorLog(e, conf_);
    return false;
  }
  if (!services_.EnsureConnection()) return false;
  if (!services_.PopLogin(conf_)) return false;

  ms::TmsProgressEvent previous = pop_.OnTransferProgress;
  struct Restore {
    ms::TmsPOPClient& pop;
    ms::TmsProgressEvent& previous;
    ViewerView& view;
    ~Restore() {
      pop.OnTransferProgress = std::move(previous);
      view.HideDownloadProgress();
    }
  } restore{pop_, previous, view_};

  const auto fetch = [this](int at) {
    pop_.SetCurrentMessage(at);
    const int max = static_cast<int>(
        std::clamp<int64_t>(pop_.GetMessageSize(), 0, std::numeric_limits<int>::max()));
    view_.ShowDownloadProgress(max);
    view_.SetDownloadProgress(0, KiB(0) + "/" + KiB(max));
    pop_.OnTransferProgress = [this, max](ms::TmsSocketBase&, int, int bytes, int) {
      view_.SetDownloadProgress(bytes, KiB(bytes) + "/" + KiB(max));
    };
    pop_.Retrieve();
    pop_.OnTransferProgress = nullptr;
  };

  std::string bytes;
  bool found = false;
  try {
    // The number the message had at the check, unless the mailbox changed since:
    // then the message is looked for by its unique id or its exact key, as a
    // deletion mark is, and nothing is fetched when it is gone or ambiguous.
    int at = -1;
    if (index >= 0 && index < pop_.MessageCount() && ReadRecordKey(pop_, index) == key) {
      at = index;
    } else {
      const ServerMatch m = vigilo::LocateMessage(pop_, head, u.Heads);
      if (m.Kind == MatchKind::Found) at = m.Index;
    }
    if (at >= 0) {
      fetch(at);
      bytes = pop_.MailMessage->SaveToString();
      pop_.MailMessage->Clear();  // the file is what is shown; the decoded copy is not kept
      found = true;
    }
    pop_.Quit();
  } catch (...) {
    pop_.Disconnect();
    services_.FinishConnection();
    return false;
  }
  services_.FinishConnection();
  if (!found) {
    view_.HideDownloadProgress();
    view_.Inform(kMessageGone);
    return false;
  }
  if (const std::string e = WriteMessageFile(file, bytes); !e.empty()) {
    services_.WriteErrorLog(e, conf_);
    return false;
  }
  view_.HideDownloadProgress();
  view_.HeadChanged(record);
  if (record == current_) DisplayMessage();
  return true;
}

// ---- display ----

TCodePage TMailViewer::BodyPage(const tmailhead& h, const std::string& body) const {
  const auto record = static_cast<TCodePage>(h.CodePage);
  if (picked_.count(PickKey(h))) return record;
  const std::string type = shown_.Headers.GetFullFieldValue("Content-Type");
  const auto declared = CodePageOfCharset(ms::GetHeaderParameter("charset", type));
  if (!declared) return record;
  // A label that does not fit the bytes is no declaration.
  if (*declared == TCodePage::UTF8 && !IsValidUtf8(body)) return record;
  return *declared;
}

void TMailViewer::DisplayMessage() {
  view_.ShowText("");
  view_.ClearAttachments();
  shown_.Clear();
  shownRaw_.clear();
  const tmailhead* h = CurrentHead();
  if (!h) return;
  const std::string path = HeadFilePath(Conf(), *h);
  // The parts are decoded straight from the file, so that a large message is held once,
  // decoded; the raw text is read only when it is what the user sees.
  std::string raw;
  if (!HeadFileExists(Conf(), *h) || !MessageFileFits(path) ||
      (ShowAll && !ReadMessageFile(path, raw)))
    return;
  try {
    shown_.LoadFromFile(path);
  } catch (const std::exception& e) {
    services_.WriteErrorLog(e.what(), conf_);
  }
  const auto record = static_cast<TCodePage>(IsValidCodePage(h->CodePage) ? h->CodePage : 0);
  std::string text;
  TCodePage cp = record;
  if (ShowAll) {
    text = raw;
  } else {
    text = ms::JoinLines(shown_.Body);
    cp = BodyPage(*h, text);
  }
  shownRaw_ = text;
  // The line break after the last line would show as an empty line of its own.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  if (cp != TCodePage::CP1251) text = Trim(text);
  view_.ShowText(ToUtf8(text, cp));
  ShowAttachments(*h, record);
}

void TMailViewer::ShowAttachments(const tmailhead& h, TCodePage cp) {
  const bool picked = picked_.count(PickKey(h)) > 0;
  for (int k = 0; k < shown_.Attachments.Count(); ++k) {
    const ms::TmsAttItem& item = shown_.Attachments.Items(k);
    std::string name = ms::ExtractFileName(item.FileName());
    if (AsciiLower(name) == "_alt.0") {
      name = "temp.html";
    } else {
      // A name decoded to UTF-8 from its declared charset stays UTF-8.
      const bool utf8 = !picked && HasHighBytes(name) && IsValidUtf8(name);
      name = ToUtf8(name, utf8 ? TCodePage::UTF8 : cp);
    }
    std::string written;
    const std::string error = WriteAttachmentCopy(temp_, name, item.Data, &written);
    if (!error.empty()) {
      services_.WriteErrorLog(error, conf_);
      continue;
    }
    view_.AddAttachment(written, static_cast<int64_t>(item.Data.size()), temp_ + written);
  }
}

// ---- code pages ----

void TMailViewer::SetCodePage(TCodePage cp) {
  tmailhead* h = CurrentHead();
  if (!h) return;
  h->CodePage = static_cast<uint8_t>(cp);
  picked_.insert(PickKey(*h));
  view_.HeadChanged(current_);
  view_.ShowCodePage(cp);
  DisplayMessage();
}

void TMailViewer::Redetect() {
  const tmailhead* h = CurrentHead();
  if (!h) return;
  const auto c = static_cast<TCodePage>(h->CodePage);
  TCodePage r = DetectCodePage(h->Subject);
  if (r == c) r = DetectCodePage(h->From);
  if (r == c) r = DetectCodePage(h->To);
  if (r == c) r = DetectCodePage(shownRaw_);
  SetCodePage(r);
}

// ---- attachments and the pane ----

std::string TMailViewer::AttachmentPath(const std::string& name) const {
  return temp_ + SafeAttachmentName(AttachmentShownName(name));
}

void TMailViewer::OpenAttachment(const std::string& name) {
  if (Trim(name).empty()) return;
  const std::string path = AttachmentPath(name);
  if (!services_.OpenDocument(path)) view_.Inform("Не удалось открыть файл " + path);
}

void TMailViewer::CheckAttachment(const std::string& name) {
  const std::string program = Trim(AntivirusProgram);
  if (Trim(name).empty() || program.empty()) return;
  if (!services_.StartProgram(program, {AttachmentPath(name)}))
    view_.Inform("Не удалось запустить антивирусную программу " + program);
}

std::string TMailViewer::SaveAttachment(const std::string& name, const std::string& target) {
  if (Trim(name).empty() || Trim(target).empty()) return {};
  std::error_code ec;
  std::filesystem::copy_file(AttachmentPath(name), target,
                             std::filesystem::copy_options::overwrite_existing, ec);
  return ec ? ec.message() : std::string();
}

void TMailViewer::ViewPaneText(const std::string& paneText, bool html) {
  const std::string name = html ? "view~tmp.html" : "view~tmp.txt";
  std::string written;
  const std::string error = WriteAttachmentCopy(temp_, name, paneText, &written);
  if (!error.empty()) {
    view_.Inform(error);
    return;
  }
  if (!services_.OpenDocument(temp_ + written))
    view_.Inform("Не удалось открыть файл " + temp_ + written);
}

void TMailViewer::OfferLink(const std::string& link, bool web) {
  const std::string t = Trim(link);
  if (t.empty()) return;
  if (web) {
    if (!view_.Ask("Вы хотите просмотреть ссылку [" + t + "] ?")) return;
    // "www..." has no scheme; the desktop would take it for a file.
    const std::string url = t.find("://") == std::string::npos ? "http://" + t : t;
    if (!services_.OpenDocument(url)) view_.Inform("Не удалось открыть ссылку " + t);
    return;
  }
  if (!view_.Ask("Вы хотите отправить почтовое сообщение [" + t + "] ?")) return;
  if (Compose) Compose->SendMessage(conf_, link, "");
}

void TMailViewer::DelOneClick() {
  if (s_.delType) {
    std::vector<tmailhead> chosen;
    for (int i = 0; i < HeadCount(); ++i) {
      const tmailhead& h = Conf().Heads[static_cast<std::size_t>(i)];
      if (h.Marked) chosen.push_back(h);
    }
    if (chosen.empty() && CurrentHead()) chosen.push_back(*CurrentHead());
    DeleteNow(std::move(chosen));
    return;
  }
  tmailhead* h = CurrentHead();
  if (!h) return;
  h->DeleteNext = !h->DeleteNext;
  view_.HeadChanged(current_);
}

void TMailViewer::DelBlackClick() {
  if (s_.delType) {
    std::vector<tmailhead> chosen;
    for (int i = 0; i < HeadCount(); ++i) {
      if (IsBlacklisted(s_.Black, CellText(i, 0)))
        chosen.push_back(Conf().Heads[static_cast<std::size_t>(i)]);
    }
    DeleteNow(std::move(chosen));
    return;
  }
  for (int i = 0; i < HeadCount(); ++i) {
    tmailhead& h = Conf().Heads[static_cast<std::size_t>(i)];
    if (!IsBlacklisted(s_.Black, h.From)) continue;
    h.DeleteNext = !h.DeleteNext;
    view_.HeadChanged(i);
  }
}

void TMailViewer::DeleteNow(std::vector<tmailhead> chosen) {
  if (chosen.empty() || deleting_ || downloading_) return;
  deleting_ = true;
  const int32_t conf = conf_;
  services_.StopTimer();
  services_.WhenIdle([this, conf, chosen = std::move(chosen)] {
    struct Done {
      TMailViewer& v;
      ~Done() {
        v.deleting_ = false;
        v.services_.StartTimer();
      }
    } done{*this};
    // The window may show another configuration by now: nothing is deleted then.
    if (conf != conf_ || static_cast<std::size_t>(conf_) >= s_.Conf.size()) return;
    // The pages chosen so far survive the rebuilt records through "info.txt".
    Close();
    services_.StartDeleteAnimation();
    if (!services_.EnsureConnection()) return;
    std::vector<std::string> ambiguous;
    std::string error;
    try {
      ambiguous = services_.RefreshHeaders(conf_, chosen);
    } catch (const std::exception& e) {
      error = e.what();
    }
    ResetAfterDeletion();
    if (!error.empty()) view_.Inform(error);
    for (const std::string& key : ambiguous) {
      view_.Inform("Сообщение " + key +
                   " не удалено: на сервере несколько сообщений с таким ключом, не ясно, какое "
                   "удалить");
    }
  });
}

void TMailViewer::ResetAfterDeletion() {
  if (HeadCount() > 0) {
    SortHeads(Conf(), SortKeyOfColumn(SortColumn), SortAscending);
    LoadCodePages(Conf());
  }
  const int row = current_;
  if (!RefillGrid()) return;
  SelectRecord(std::clamp(row, 0, HeadCount() - 1));
}

void TMailViewer::AddSenderToBlacklist() {
  if (!CurrentHead()) return;
  s_.Black.push_back(CellText(current_, 0));
  s_.Save();
  view_.HeadsReset();
  view_.SetCurrentRecord(current_);
}

void TMailViewer::Reply() {
  if (!Compose || !CurrentHead()) return;
  Compose->SendMessage(conf_, CellText(current_, 0), "Re:" + CellText(current_, 1));
}

void TMailViewer::AddSenderToAddressBook() {
  if (!AddressBook || !CurrentHead()) return;
  AddressBook->AddAddress(CellText(current_, 0));
}

std::vector<PrintLine> TMailViewer::PrintLines(const std::vector<std::string>& paneLines,
                                               const std::string& version, const std::string& now) {
  std::vector<PrintLine> out;
  out.push_back({"    Vigilo " + Trim(version) + "  " + now, 7, false, true});
  out.push_back({"", 10, false, false});
  out.push_back({"    Кому:  " + CellText(current_, 4), 10, true, false});
  out.push_back({"    От:    " + CellText(current_, 0), 10, true, false});
  out.push_back({"    Тема:  " + CellText(current_, 1), 10, true, false});
  out.push_back({"", 10, false, false});
  for (const std::string& line : paneLines)
    out.push_back({"       " + line, 10, false, false});
  return out;
}

}  // namespace vigilo
