// The version check against a real HTTP server (Python's http.server) and against
// servers that answer 404, trickle or say nothing, all on loopback.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/about.h"
#include "mail/msexcept.h"
#include "mail/mshttp.h"
#include "tests/support/free_port.h"
#include "tests/support/scripted_server.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

using namespace test;
using Lines = std::vector<std::string>;

struct Received {
  std::mutex mutex;
  std::map<TVersion::Which, Lines> texts;
  TVersion::TextEvent Event() {
    return [this](TVersion::Which which, Lines lines) {
      std::lock_guard<std::mutex> lock(mutex);
      texts[which] = std::move(lines);
    };
  }
  std::size_t Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return texts.size();
  }
};

std::string StartHttpServer(ServerProcess& process, const std::string& folder) {
  const int port = FreePort();
  process.Start({"/usr/bin/python3", "-m", "http.server", std::to_string(port), "--bind",
                 "127.0.0.1", "--directory", folder},
                "/dev/null");
  const std::string base = "http://127.0.0.1:" + std::to_string(port);
  for (int i = 0; i < 200; ++i) {
    ms::TmsHTTPClient probe;
    probe.TimeOut = 1;
    probe.SetURL(base + "/");
    try {
      if (probe.Get() > 0) return base;
    } catch (const ms::EmsError&) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  throw std::runtime_error("http.server did not start");
}

TEST(VersionCheckReal, BothTextsArriveAndA404LeavesOne) {
  TempDir dir;
  WriteFile(dir.path() / "project/vigilo/version.txt", "Vigilo 1.5\r\nот 01.02.2027\r\n");
  WriteFile(dir.path() / "project/vigilo/info.txt", "<b>не разметка</b>\n\x07строка 2\n");
  ServerProcess server;
  const std::string base = StartHttpServer(server, dir.str());
  {
    Received got;
    TVersion version(base + "/", got.Event());
    ASSERT_TRUE(version.WaitDone(60000));
    EXPECT_EQ(got.texts[TVersion::Version], (Lines{"Vigilo 1.5", "от 01.02.2027"}));
    EXPECT_EQ(got.texts[TVersion::Info], (Lines{"<b>не разметка</b>", "строка 2"}));
  }
  std::filesystem::remove(dir.path() / "project/vigilo/version.txt");
  Received got;
  TVersion version(base, got.Event());
  ASSERT_TRUE(version.WaitDone(60000));
  EXPECT_EQ(got.Count(), 1u);
  EXPECT_EQ(got.texts.count(TVersion::Version), 0u);
}

TEST(VersionCheckScripted, TricklingOrSilentServersGiveNoText) {
  // Headers one line at a time, never the end: the request's time limit ends it.
  std::vector<ScriptedServer::Step> trickle = {Send("HTTP/1.1 200 OK\r\n")};
  for (int i = 0; i < 40; ++i) {
    trickle.push_back(Sleep(100));
    trickle.push_back(Send("X-Slow: " + std::to_string(i) + "\r\n"));
  }
  ScriptedServer trickling(trickle);
  Received got;
  {
    TVersion version("http://127.0.0.1:" + std::to_string(trickling.Port()), got.Event(), 1);
    ASSERT_TRUE(version.WaitDone(60000));
  }
  EXPECT_EQ(got.Count(), 0u);
  EXPECT_GE(trickling.Connections(), 1);

  // Nothing listens: refused at once.
  ClosedPort closed;
  TVersion refused("http://127.0.0.1:" + std::to_string(closed.Port()), got.Event(), 1);
  ASSERT_TRUE(refused.WaitDone(60000));
  EXPECT_EQ(got.Count(), 0u);
}

TEST(VersionCheckScripted, EndingTheProgramCancelsASilentFetch) {
  // A server that accepts and then says nothing for longer than any test runs: the
  // owner going away must not wait for the fetch's own time limit.
  ScriptedServer silent({Sleep(600000)});
  Received got;
  {
    TVersion version("http://127.0.0.1:" + std::to_string(silent.Port()), got.Event(), 600);
    while (silent.Connections() == 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(version.WaitDone(0));
  }  // returns once the fetch is canceled
  EXPECT_EQ(got.Count(), 0u);
}

}  // namespace
}  // namespace vigilo
