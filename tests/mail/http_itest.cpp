// The HTTP client against a real HTTP server (Python's http.server) on loopback.

#include <gtest/gtest.h>

#include <string>

#include "mail/msexcept.h"
#include "mail/mshttp.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/http_server.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo::test;

TEST(HttpReal, FileByteExactAndMissingFile) {
  TempDir dir;
  const std::string bytes = mailtest::RandomBytes(300000, 7);
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
