#include "tests/support/dovecot.h"

#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "tests/support/line_client.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {
namespace {

// Neither the server's process nor any of its group is left (a zombie counts as left).
bool ProcessGone(pid_t pid) {
  if (std::filesystem::exists("/proc/" + std::to_string(pid))) return false;
  for (const auto& e : std::filesystem::directory_iterator("/proc")) {
    std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = ReadFile(e.path() / "stat");
    size_t paren = stat.rfind(')');
    if (paren == std::string::npos) continue;
    int ppid = 0, pgrp = 0;
    char state = 0;
    if (sscanf(stat.c_str() + paren + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 && pgrp == pid)
      return false;
  }
  return true;
}

TEST(DovecotServer, ServesMessagesOverPop3AndStopsCleanly) {
  pid_t pid;
  std::string dir;
  {
    DovecotServer server({{"alice", "alicepw"}, {"bob", "bobpw"}});
    dir = server.Dir();
    server.AddMessage("alice", "Subject: one\r\n\r\nfirst\r\n");
    server.AddMessage("alice", "Subject: two\r\n\r\n.dotted\r\n");
    EXPECT_EQ(server.Messages("alice").size(), 2u);
    EXPECT_TRUE(server.Messages("bob").empty());

    LineClient c(server.Pop3Port());
    ASSERT_TRUE(c.Connected());
    EXPECT_EQ(c.ReadLine().substr(0, 3), "+OK");
    EXPECT_EQ(c.Command("USER alice").substr(0, 3), "+OK");
    EXPECT_EQ(c.Command("PASS wrong").substr(0, 4), "-ERR");
    // A failed login does not slow the next one down.
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(c.Command("USER alice").substr(0, 3), "+OK");
    EXPECT_EQ(c.Command("PASS alicepw").substr(0, 3), "+OK");
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(400));
    EXPECT_EQ(c.Command("STAT").substr(0, 5), "+OK 2");
    EXPECT_EQ(c.Command("RETR 2").substr(0, 3), "+OK");
    EXPECT_EQ(c.ReadMultiline(), "Subject: two\r\n\r\n.dotted\r\n");
    EXPECT_EQ(c.Command("DELE 1").substr(0, 3), "+OK");
    EXPECT_EQ(c.Command("QUIT").substr(0, 3), "+OK");
    EXPECT_TRUE(c.ClosedByPeer());
    EXPECT_EQ(server.Messages("alice").size(), 1u);

    server.Clear("alice");
    EXPECT_TRUE(server.Messages("alice").empty());
    LineClient d(server.Pop3Port());
    d.ReadLine();
    d.Command("USER alice");
    d.Command("PASS alicepw");
    EXPECT_EQ(d.Command("STAT").substr(0, 5), "+OK 0");

    pid = server.Pid();
    ASSERT_GT(pid, 0);
    server.Stop();
    EXPECT_TRUE(ProcessGone(pid));
    EXPECT_EQ(server.Pid(), -1);
  }
  // The folder goes in the background once the server has exited.
  for (int i = 0; i < 100 && std::filesystem::exists(dir); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(std::filesystem::exists(dir));
}

TEST(DovecotServer, OffersStlsAndTlsPort) {
  DovecotServer server({{"alice", "alicepw"}});
  LineClient c(server.Pop3Port());
  c.ReadLine();
  EXPECT_EQ(c.Command("CAPA").substr(0, 3), "+OK");
  EXPECT_NE(c.ReadMultiline().find("STLS"), std::string::npos);
  EXPECT_NE(server.Pop3sPort(), server.Pop3Port());
  LineClient tls(server.Pop3sPort());
  EXPECT_TRUE(tls.Connected());
}

TEST(DovecotServer, TwoServersRunSideBySide) {
  DovecotServer a({{"alice", "x"}});
  DovecotServer b({{"alice", "y"}});
  EXPECT_NE(a.Pop3Port(), b.Pop3Port());
  a.BeginStop();
  b.BeginStop();
  auto t0 = std::chrono::steady_clock::now();
  a.Stop();
  b.Stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(6));
}

}  // namespace
}  // namespace vigilo::test
