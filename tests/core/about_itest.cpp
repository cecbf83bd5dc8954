// The version check against scripted HTTP servers on loopback: a missing document, and a
// silent server when the program ends.

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/about.h"
#include "tests/support/scripted_server.h"

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
};

TEST(VersionCheck, AMissingVersionLeavesTheInfoText) {
  const std::string info = "<b>не разметка</b>\n";
  ScriptedServer server(
      {Expect("GET /project/vigilo/version.txt HTTP/1.1"), ExpectUntil(""),
       Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n"), Close(),
       Expect("GET /project/vigilo/info.txt HTTP/1.1"), ExpectUntil(""),
       Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(info.size()) +
            "\r\nConnection: close\r\n\r\n" + info),
       Close()});
  Received got;
  TVersion version("http://127.0.0.1:" + std::to_string(server.Port()), got.Event());
  ASSERT_TRUE(version.WaitDone(60000));
  std::lock_guard<std::mutex> lock(got.mutex);
  EXPECT_EQ(got.texts.count(TVersion::Version), 0u);
  EXPECT_EQ(got.texts[TVersion::Info], (Lines{"<b>не разметка</b>"}));
  EXPECT_EQ(server.Failure(), "");
}

TEST(VersionCheck, EndingTheProgramCancelsASilentFetch) {
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
  EXPECT_TRUE(got.texts.empty());
}

}  // namespace
}  // namespace vigilo
