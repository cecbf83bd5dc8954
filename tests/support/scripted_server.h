#pragma once
// A TCP server on 127.0.0.1 playing a script on its own thread, for misbehaviour no real server
// shows. A Close step ends the connection, later steps go to the next one; at the script's end
// (or a failed Expect) the connection and the listening socket close. A StartTls step turns
// the connection to TLS (before the first step: TLS from the first byte).

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_st;

namespace vigilo::test {

class ScriptedServer {
 public:
  struct Step {
    enum Kind {
      Send,         // write `text` as it is (include the CR LF yourself)
      Expect,       // read one line; it must equal `text` (CR LF removed)
      Sleep,        // pause `ms` milliseconds, reading nothing
      Close,        // close the connection
      ExpectUntil,  // read lines until one equals `text` (e.g. "." after DATA)
      StartTls      // TLS handshake as the server; `text` is "certificate file\nkey file"
    } kind;
    std::string text;
    int ms = 0;
  };

  explicit ScriptedServer(std::vector<Step> script);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  std::vector<std::string> Received() const;  // lines the client sent, without CR LF
  bool Finished(int waitMs = 60000) const;    // the script ran to its end
  std::string Failure() const;                // first mismatch of an Expect, empty if none
  int Connections() const;                    // connections accepted so far

 private:
  void Run();
  bool AcceptNext();
  void CloseConnection();
  bool ReadLine(std::string& line);
  bool SendAll(const std::string& bytes);
  void Fail(const std::string& why);
  bool StartTlsWith(const Step& step);

  std::vector<Step> script_;
  int listenFd_ = -1;
  int connFd_ = -1;
  int port_ = 0;
  std::string buffer_;
  ssl_st* ssl_ = nullptr;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable done_;
  std::vector<std::string> received_;
  std::string failure_;
  bool finished_ = false;
  bool ended_ = false;
  int connections_ = 0;
  std::thread thread_;
};

inline ScriptedServer::Step Send(std::string bytes) {
  return {ScriptedServer::Step::Send, std::move(bytes), 0};
}
inline ScriptedServer::Step Expect(std::string line) {
  return {ScriptedServer::Step::Expect, std::move(line), 0};
}
inline ScriptedServer::Step ExpectUntil(std::string line) {
  return {ScriptedServer::Step::ExpectUntil, std::move(line), 0};
}
inline ScriptedServer::Step Sleep(int ms) {
  return {ScriptedServer::Step::Sleep, {}, ms};
}
inline ScriptedServer::Step Close() {
  return {ScriptedServer::Step::Close, {}, 0};
}
// Both files PEM, the key unencrypted (see certs.h).
inline ScriptedServer::Step StartTls(const std::string& certFile, const std::string& keyFile) {
  return {ScriptedServer::Step::StartTls, certFile + "\n" + keyFile, 0};
}

}  // namespace vigilo::test
