// The HTTP client against a real HTTP server (Python's http.server) on loopback.

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "mail/msexcept.h"
#include "mail/mshttp.h"
#include "tests/support/free_port.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo::test;

// python3 -m http.server on 127.0.0.1 serving a folder; ready once a request gets an
// answer. A port taken before the server bound it is given up for another one.
int StartHttpServer(ServerProcess& process, const std::string& folder) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int port = FreePort();
    process.Start({"/usr/bin/python3", "-m", "http.server", std::to_string(port), "--bind",
                   "127.0.0.1", "--directory", folder},
                  "/dev/null");
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         process.Alive() && std::chrono::steady_clock::now() < end;) {
      ms::TmsHTTPClient probe;
      probe.TimeOut = 1;
      probe.SetURL("127.0.0.1:" + std::to_string(port) + "/");
      try {
        if (probe.Get() > 0 && process.Alive()) return port;
      } catch (const ms::EmsError&) {
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    process.Stop();
  }
  throw std::runtime_error("http.server did not start");
}

TEST(HttpReal, FileByteExactAndMissingFile) {
  TempDir dir;
  std::string bytes(300000, '\0');
  std::mt19937 rng(7);
  for (char& c : bytes)
    c = static_cast<char>(rng());
  WriteFile(dir.path() / "dir" / "file.bin", bytes);
  WriteFile(dir.path() / "version.txt", "2.02\r\n");
  ServerProcess server;
  const std::string base = "http://127.0.0.1:" + std::to_string(StartHttpServer(server, dir.str()));

  ms::TmsHTTPClient http;
  http.TimeOut = 20;
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
