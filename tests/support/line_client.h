#pragma once
// A plain blocking TCP client for tests that talk raw POP3/SMTP to a server on 127.0.0.1.
// Every read is bounded by a timeout.

#include <string>

namespace vigilo::test {

class LineClient {
 public:
  explicit LineClient(int port);
  ~LineClient();
  LineClient(const LineClient&) = delete;
  LineClient& operator=(const LineClient&) = delete;

  bool Connected() const { return fd_ >= 0; }
  bool Write(const std::string& bytes);
  // One line without CR LF; empty with *ok = false on timeout or end of stream.
  std::string ReadLine(int timeoutMs = 5000, bool* ok = nullptr);
  // Writes `command` + CR LF and returns the reply line.
  std::string Command(const std::string& command, int timeoutMs = 5000);
  // Reads lines up to the "." line of a POP3 multi-line answer; returns them joined with CR LF
  // (dot-stuffing removed, the final "." left out).
  std::string ReadMultiline(int timeoutMs = 5000);
  // Reads an SMTP reply (continuation lines "250-...") and returns the last line.
  std::string ReadSmtpReply(int timeoutMs = 5000);
  // True when the peer closed the connection within timeoutMs (any unread data is discarded).
  bool ClosedByPeer(int timeoutMs = 5000);

 private:
  int fd_ = -1;
  std::string buffer_;
};

}  // namespace vigilo::test
