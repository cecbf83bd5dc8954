#include "compose/compose.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "base/text.h"
#include "core/check.h"
#include "core/mailhint.h"
#include "mail/msmsgcls.h"

namespace vigilo {

namespace fs = std::filesystem;

const char* const kNoSender = "Отсутствует отправитель. Добавьте данные в конфигурации";
const char* const kNoRecipient = "Отсутствует получатель. Выберите получателя в адресной книге.";
const char* const kEmptyMessage =
    "Письмо пустое\nПисьмо не отправлено.\nНапишите сообщение или вложите файл";
const char* const kEmptySubjectQuestion = "Тема письма пустая.Отравлять сообщение?";
const char* const kSentText = "Сообщение отправлено";
const char* const kQueuedText = "Сообщение будет отправлено при следущем сеансе связи";
const char* const kNoNetwork = "Немогу подключиться к сети.Письмо не отправлено.";

std::string ExtractDisplayName(const std::string& text) {
  const std::string t = Trim(text);
  const std::size_t lt = t.find('<');
  return lt == std::string::npos ? std::string() : Trim(std::string_view(t).substr(0, lt));
}

std::string ExtractBracketed(const std::string& text) {
  const std::string t = Trim(text);
  const std::size_t lt = t.find('<');
  if (lt == std::string::npos) return t;
  const std::size_t gt = t.find('>', lt + 1);
  return gt == std::string::npos ? std::string() : t.substr(lt + 1, gt - lt - 1);
}

std::vector<std::string> BodyLines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    start = end + 1;
  }
  while (!lines.empty() && Trim(lines.back()).empty())
    lines.pop_back();
  if (!lines.empty()) {
    std::string& last = lines.back();
    last.erase(last.find_last_not_of(" \t") + 1);
  }
  return lines;
}

std::string CheckComposeInput(const ComposeInput& in, bool& askSubject) {
  askSubject = false;
  if (Trim(in.From).empty()) return kNoSender;
  if (Trim(in.To).empty()) return kNoRecipient;
  if (Trim(in.Text).empty() && in.Attachments.empty()) return kEmptyMessage;
  askSubject = Trim(in.Subject).empty();
  return {};
}

std::string MakeMessageId(const std::string& smtpHost, std::time_t now, uint32_t random) {
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return std::to_string(random % 999999999u) + "$" + stamp + "@" + Trim(smtpHost);
}

std::string BuildComposedMessage(ms::TmsMessage& m, const ComposeInput& in, const tuser& u,
                                 const std::string& id, std::time_t now) {
  m.Clear();
  m.Recipients.AddItem(ms::TmsMailAddress{Trim(in.ToName).substr(0, 255), Trim(in.To)});
  m.Sender.Address = Trim(in.From).substr(0, 255);
  m.Sender.Name = Trim(u.ConfigNM).substr(0, 255);
  m.Subject = Trim(in.Subject).substr(0, 255);
  m.Body = BodyLines(in.Text);
  m.Headers.push_back("Date: " + ms::FormatMailDate(now));
  for (const std::string& row : in.Attachments) {
    const std::string path = Trim(row);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) return "Файл вложения не найден: " + path;
    try {
      m.Attachments.AddFile(path);
    } catch (const std::exception& e) {
      return "Файл вложения не прочитан: " + path + "\n" + e.what();
    }
  }
  m.Headers.push_back("Message-ID: <" + id + ">");
  return {};
}

std::string WriteQueueFile(ms::TmsMessage& m, const std::string& dir, const std::string& id) {
  std::error_code ec;
  fs::create_directories(dir, ec);
  const std::string temp = dir + "/." + id;
  const std::string final = dir + "/" + id;
  std::string bytes;
  try {
    bytes = m.SaveToString();
  } catch (const std::exception& e) {
    return e.what();
  }
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return "Cannot create " + temp + ": " + std::strerror(errno);
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  const int saved = errno;
  const bool ok = done == bytes.size() && ::fsync(fd) == 0;
  const int syncErr = errno;
  ::close(fd);
  if (!ok || ::rename(temp.c_str(), final.c_str()) != 0) {
    const std::string why = std::strerror(done == bytes.size() ? (ok ? errno : syncErr) : saved);
    ::unlink(temp.c_str());
    return "Cannot write " + final + ": " + why;
  }
  return {};
}

namespace {

// Login, one transaction, QUIT. Returns "" when the server took the message, else
// the box text: the server's line with its hint.
std::string SendNow(ms::TmsSMTPClient& smtp, ms::TmsMessage& m, const tuser& u, bool& loggedIn) {
  const std::string host = Trim(u.SMTPHost);
  loggedIn = false;
  ConfigureSmtp(smtp, u);
  smtp.MailMessage = &m;
  try {
    smtp.SetHost(host);
    smtp.Port = static_cast<uint16_t>(u.SMTPPort);
    smtp.Login();
    loggedIn = true;
  } catch (const std::exception& e) {
    smtp.Disconnect();
    return "Немогу подключиться к серверу " + host + ".Письмо не отправлено.\n" +
           WithMailErrorHint(e);
  }
  std::string error;
  try {
    smtp.SendMessage();
    if (!smtp.Sent()) error = "Сервер не принял ни одного получателя. Письмо не отправлено.";
  } catch (const std::exception& e) {
    error = "Письмо не отправлено: " + WithMailErrorHint(e);
  }
  try {
    if (smtp.IsOpen()) smtp.Quit();
  } catch (const std::exception&) {
    // The server already answered the message; a lost QUIT reply changes nothing.
  }
  smtp.Disconnect();
  return error;
}

}  // namespace

SendOutcome SendComposed(const ComposeInput& in, const tuser& u, bool delType,
                         ms::TmsSMTPClient& smtp, ms::TmsMessage& m, const ComposeHost& host) {
  SendOutcome out;
  const std::time_t now = std::time(nullptr);
  std::random_device seed;
  std::mt19937 random(seed() ^ static_cast<uint32_t>(now));
  const std::string id = MakeMessageId(u.SMTPHost, now, random());
  if (std::string why = BuildComposedMessage(m, in, u, id, now); !why.empty()) {
    out.Messages.push_back(why);
    out.KeepOpen = true;
    return out;
  }
  if (delType) {
    if (!host.EnsureConnection || host.EnsureConnection()) {
      bool loggedIn = false;
      const std::string error = SendNow(smtp, m, u, loggedIn);
      out.Sent = error.empty();
      if (!out.Sent) out.Messages.push_back(error);
      (void)loggedIn;
      // The connection is up: check the mailboxes (and send the queues) now.
      if (host.AfterSend) host.AfterSend();
    } else {
      out.Messages.push_back(kNoNetwork);
    }
    if (out.Sent) {
      out.Messages.push_back(kSentText);
      return out;
    }
  }
  if (std::string why = WriteQueueFile(m, u.OutDir, id); !why.empty()) {
    out.Messages.push_back("Сообщение не сохранено в очереди: " + why);
    out.KeepOpen = true;
    return out;
  }
  out.Queued = true;
  out.QueueName = id;
  out.Messages.push_back(kQueuedText);
  return out;
}

}  // namespace vigilo
