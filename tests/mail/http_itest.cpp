// The HTTP client against a real HTTP server (Python's http.server) on loopback. (A second
// document on the same object and a 404 are read end to end by the version check's test.)

#include <gtest/gtest.h>

#include <string>

#include "mail/msexcept.h"
#include "mail/mshttp.h"
#include "tests/mail/mail_test_util.h"
#include "tests/support/http_server.h"
#include "tests/support/tempdir.h"

namespace {

using namespace vigilo::test;

TEST(HttpReal, LargeFileArrivesByteExact) {
  TempDir dir;
  const std::string bytes = mailtest::RandomBytes(300000, 7);
  WriteFile(dir.path() / "dir" / "file.bin", bytes);
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
}

}  // namespace
