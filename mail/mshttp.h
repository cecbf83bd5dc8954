#pragma once
// The HTTP client: one GET over HTTP/1.1, directly or through a proxy, with
// the body read by Content-Length, chunked, or until the server closes.

#include <sstream>
#include <string>

#include "mail/msmsgcls.h"
#include "mail/mssocket.h"

namespace ms {

class TmsHTTPClient : public TmsClientSocket {
 public:
  // Port 80; MaxDataSize (the body limit) 1 MiB.
  TmsHTTPClient();

  // The body of the last response, positioned at 0.
  std::stringstream ResponseBody;
  // The status line, the header lines and the empty line that ended them.
  TmsHeaders Headers;

  const std::string& URL() const { return url_; }
  // Splits the URL into Host (and Port), DocumentPath and DocumentName. A URL
  // without a host or holding blanks or control characters raises EmsError
  // "Invalid URL".
  void SetURL(const std::string& value);

  std::string DocumentName;
  std::string DocumentPath = "/";
  std::string UserAgent;
  bool Authorization = false;
  bool ProxyAuthorization = false;
  std::string UserName, Password, ProxyUserName, ProxyPassword;

  // Seconds one Get may take in all, however steadily the server trickles;
  // 0 for no limit. Beyond it Get fails with EmsTimedOutError.
  int RequestTimeOut = 300;

  TmsNotifyEvent OnSendingRequest;
  TmsNotifyEvent OnRequestSent;

  // Performs one GET of URL; returns the status code, -1 when no status line
  // came. 4xx and 5xx are returned, not raised.
  int Get();

  // The request as Get sends it.
  std::string BuildRequest() const;

  static constexpr int kMaxHeaderLines = 1000;

 private:
  std::string url_;
};

// Standard base64 of bytes, without line breaks.
std::string Base64(const std::string& bytes);

}  // namespace ms
