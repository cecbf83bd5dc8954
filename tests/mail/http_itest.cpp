// The HTTP client against a real HTTP server (Python's http.server) on loopback.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "mail/msexcept.h"
#include "mail/mshttp.h"
#include "tests/support/free_port.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo::test;

// python3 -m http.server on 127.0.0.1, serving a folder; stopped on destruction.
class PythonHttpServer {
 public:
  explicit PythonHttpServer(const std::string& folder) : port_(FreePort()) {
    pid_ = fork();
    if (pid_ == 0) {
      freopen("/dev/null", "r", stdin);
      freopen("/dev/null", "w", stdout);
      freopen("/dev/null", "w", stderr);
      const std::string port = std::to_string(port_);
      execl("/usr/bin/python3", "python3", "-m", "http.server", port.c_str(), "--bind", "127.0.0.1",
            "--directory", folder.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Ready when a request gets an answer.
    for (int i = 0; i < 100; ++i) {
      ms::TmsHTTPClient probe;
      probe.TimeOut = 1;
      probe.SetURL("127.0.0.1:" + std::to_string(port_) + "/");
      try {
        if (probe.Get() > 0) return;
      } catch (const ms::EmsError&) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    throw std::runtime_error("http.server did not start");
  }
  ~PythonHttpServer() {
    kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (waitpid(pid_, &status, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
  }
  int Port() const { return port_; }

 private:
  int port_;
  pid_t pid_ = -1;
};

TEST(HttpReal, FileByteExactAndMissingFile) {
  TempDir dir;
  std::string bytes(300000, '\0');
  std::mt19937 rng(7);
  for (char& c : bytes)
    c = static_cast<char>(rng());
  WriteFile(dir.path() / "dir" / "file.bin", bytes);
  WriteFile(dir.path() / "version.txt", "2.02\r\n");
  PythonHttpServer server(dir.str());
  const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());

  ms::TmsHTTPClient http;
  http.TimeOut = 5;
  http.MaxDataSize = 1 << 20;
  http.SetURL(base + "/dir/file.bin");
  EXPECT_EQ("file.bin", http.DocumentName);
  EXPECT_EQ(200, http.Get());
  EXPECT_EQ(bytes, http.ResponseBody.str());
  EXPECT_EQ("300000", http.Headers.GetFieldValue("Content-Length"));

  // The same object fetches a second document.
  http.SetURL(base + "/version.txt");
  EXPECT_EQ(200, http.Get());
  EXPECT_EQ("2.02\r\n", http.ResponseBody.str());

  http.SetURL(base + "/no-such-file.txt");
  EXPECT_EQ(404, http.Get());
  EXPECT_NE(std::string::npos, http.ResponseBody.str().find("404"));
}

}  // namespace
