#include "mail/mshttp.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "mail/msexcept.h"
#include "mail/mspump.h"

namespace ms {
namespace {

// The leading decimal digits of the second word of the status line.
int StatusOf(const std::string& statusLine) {
  const size_t p = statusLine.find(' ');
  if (p == std::string::npos) return -1;
  const std::string rest = Trim(statusLine.substr(p + 1));
  size_t n = 0;
  while (n < rest.size() && n < 9 && std::isdigit(static_cast<unsigned char>(rest[n])))
    ++n;
  if (n == 0) return -1;
  return std::stoi(rest.substr(0, n));
}

// Content-Length as a number, -1 when missing or invalid.
int64_t LengthOf(const std::string& value) {
  const std::string v = Trim(value);
  if (v.empty() || v.size() > 18 || v.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::stoll(v);
}

}  // namespace

std::string Base64(const std::string& bytes) {
  static const char* const kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                       (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < bytes.size()) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

TmsHTTPClient::TmsHTTPClient() {
  SetDefaultPort(80);
  MaxDataSize = int64_t{1} << 20;
}

void TmsHTTPClient::SetURL(const std::string& value) {
  for (char c : value)
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) throw EmsError("Invalid URL");
  url_ = value;
  std::string s = value;
  if (AsciiUpper(s.substr(0, 7)) == "HTTP://") s.erase(0, 7);
  const size_t slash = s.find('/');
  const std::string host = slash == std::string::npos ? s : s.substr(0, slash);
  if (host.empty()) throw EmsError("Invalid URL");
  SetHost(host);
  if (slash == std::string::npos) {
    DocumentPath.assign(1, '/');  // not = "/": GCC 12 warns falsely (-Wrestrict) at -O3
    return;
  }
  DocumentPath = s.substr(slash);
  if (DocumentPath.find('.') != std::string::npos) {
    const std::string name = DocumentPath.substr(DocumentPath.rfind('/') + 1);
    DocumentName = name.empty() ? "index.htm" : name;
  }
}

std::string TmsHTTPClient::BuildRequest() const {
  std::string target = DocumentPath;
  if (!ProxyHost().empty()) {
    target = url_;
    if (url_.size() <= 7 || url_.find('/', 7) == std::string::npos) target += "/";
  }
  std::string r = "GET " + target + " HTTP/1.1\r\n";
  // An IPv6 literal goes in brackets, as in the URL.
  const bool v6 = Host().find(':') != Host().rfind(':');
  r += "Host: " + (v6 ? "[" + Host() + "]" : Host()) + "\r\n";
  r += "Accept: */*\r\n";
  if (Authorization)
    r += "Authorization: Basic " + Base64((UserName + ":" + Password).substr(0, 255)) + "\r\n";
  if (ProxyAuthorization)
    r += "Proxy-Authorization: Basic " +
         Base64((ProxyUserName + ":" + ProxyPassword).substr(0, 255)) + "\r\n";
  if (!UserAgent.empty()) r += "User-Agent: " + UserAgent + "\r\n";
  r += "Connection: close\r\n\r\n";
  return r;
}

int TmsHTTPClient::Get() {
  struct DeadlineGuard {
    TmsHTTPClient& c;
    ~DeadlineGuard() { c.ClearDeadline(); }
  } guard{*this};
  if (RequestTimeOut > 0)
    SetDeadline(std::chrono::steady_clock::now() + std::chrono::seconds(RequestTimeOut));
  ResetState();
  Connect();
  Raise(OnSendingRequest);
  std::stringstream request(BuildRequest());
  SendStream(request);
  Raise(OnRequestSent);

  Headers.clear();
  for (;;) {
    if (!Blocking) PumpMessages();
    if (static_cast<int>(Headers.size()) >= kMaxHeaderLines)
      throw EmsError("The response has too many header lines");
    Headers.push_back(ReadLine());
    if (Headers.back().empty()) break;
  }
  const int status = StatusOf(Headers.front());

  ResponseBody.str(std::string());
  ResponseBody.clear();
  if (AsciiUpper(Trim(Headers.GetFieldValue("Transfer-Encoding"))) == "CHUNKED") {
    ReceiveChunked(ResponseBody);
  } else {
    const int64_t length = LengthOf(Headers.GetFieldValue("Content-Length"));
    ReceiveStream(ResponseBody, length > 0 ? length : 0, 0);
    // A body cut short is not the document: say so instead of returning part of it.
    if (length > 0 && static_cast<int64_t>(ResponseBody.tellp()) < length)
      throw EmsError("The connection was closed before the end of the data");
  }
  ResponseBody.seekg(0);
  Disconnect();
  return status;
}

}  // namespace ms
