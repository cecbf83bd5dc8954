// The servers of the harness and scripts/demo leave nothing behind: no process, no folder, no
// line in Exim's trusted_configs. (Every mail integration test exercises the servers' work.)
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "mail/mspop.h"
#include "tests/config/store_fixture.h"
#include "tests/support/exim.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {
namespace {

namespace fs = std::filesystem;

// Processes of the group; zombies only when asked (those of other parents are not ours to reap).
int MembersOf(pid_t group, bool zombies = false) {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc")) {
    if (e.path().filename().string().find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = ReadFile(e.path() / "stat");
    size_t close = stat.rfind(')');
    char state = 0;
    int ppid = 0, pgrp = 0;
    if (close != std::string::npos &&
        sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 && pgrp == group &&
        (zombies || state != 'Z'))
      ++n;
  }
  return n;
}

bool Gone(const fs::path& p) {
  return WaitUntil([&] { return !fs::exists(p); }, 60000);
}

TEST(Servers, StopLeavesNoProcessFolderOrTrustedConfig) {
  auto trusted = [](const std::string& conf) {
    return ReadFile("/etc/exim4/trusted_configs").find(conf + "\n") != std::string::npos;
  };
  std::string dovecotDir, eximDir;
  {
    DovecotServer dovecot({{"alice", "alicepw"}});
    EximServer exim(dovecot);
    dovecotDir = dovecot.Dir();
    eximDir = exim.Dir();
    EXPECT_TRUE(trusted(eximDir + "/exim.conf"));
    const pid_t pids[] = {dovecot.Pid(), exim.Pid()};
    dovecot.BeginStop();
    exim.Stop();
    dovecot.Stop();
    for (pid_t pid : pids) {
      ASSERT_GT(pid, 0);
      EXPECT_FALSE(fs::exists("/proc/" + std::to_string(pid)));
      EXPECT_EQ(MembersOf(pid, true), 0);
    }
    EXPECT_FALSE(trusted(eximDir + "/exim.conf"));
  }
  // The folders go in the background once the servers have exited.
  EXPECT_TRUE(Gone(dovecotDir));
  EXPECT_TRUE(Gone(eximDir));
}

// scripts/demo up to the point where it starts the program: a stand-in program reports what it
// was given, the test logs in to the demo mailbox with the stored configuration, and everything
// is gone afterwards.
TEST(Demo, ServesTheDemoMailboxToTheProgramAndCleansUp) {
  TempDir t;
  chmod(t.path().c_str(), 0755);
  const fs::path report = t.path() / "report", fake = t.path() / "fake-vigilo";
  WriteFile(fake, "#!/usr/bin/env bash\nout=" + report.string() +
                      "\nmkdir -p \"$out.tmp\"\n"
                      "printf '%s\\n' \"$VIGILO_HOME\" >\"$out.tmp/home\"\n"
                      "printf '%s\\n' \"$*\" >\"$out.tmp/args\"\n"
                      "cp \"$VIGILO_HOME/registry.reg\" \"$out.tmp/registry.reg\"\n"
                      "pgrep -f \"$VIGILO_HOME/server/dovecot.conf\" >\"$out.tmp/pid\"\n"
                      "mv \"$out.tmp\" \"$out\"\n"
                      "for i in $(seq 1200); do [ -e \"$out/done\" ] && exit 7; sleep 0.1; done\n"
                      "exit 9\n");
  chmod(fake.c_str(), 0755);
  const std::string demo = std::string(VIGILO_TEST_SOURCE_DIR) + "/scripts/demo";
  std::string output;
  auto run = std::async(std::launch::async, [&] {
    return RunShell("'" + demo + "' '" + fake.string() + "' --extra 'two words'", &output);
  });
  ASSERT_TRUE(WaitUntil([&] { return fs::exists(report); }, 60000))
      << "the demo did not start the program";

  std::string home = ReadFile(report / "home");
  home.pop_back();
  EXPECT_EQ(ReadFile(report / "args"), "--home " + home + " --extra two words\n");
  // The configuration as the program reads it logs in to the demo mailbox.
  StoreFixture store;
  fs::copy_file(report / "registry.reg", store.file);
  const auto settings = store.Start();
  ASSERT_EQ(settings->Conf.size(), 1u) << ReadFile(report / "registry.reg");
  const tuser& u = settings->Conf[0];
  ms::TmsPOPClient pop;
  pop.SetHost(u.Host + ":" + std::to_string(u.Port));
  pop.UserName = u.UserName;
  pop.Password = u.UserPwd;
  pop.TimeOut = 30;
  pop.Login();
  EXPECT_EQ(6, pop.MessageCount());
  pop.Quit();

  const pid_t server = std::stoi(ReadFile(report / "pid"));
  WriteFile(report / "done", "");
  ASSERT_EQ(run.wait_for(std::chrono::seconds(120)), std::future_status::ready);
  EXPECT_EQ(run.get(), 7) << output;  // the program's exit status
  EXPECT_FALSE(fs::exists(home));
  // Helpers that outlived the master are orphans the harness may have adopted: reap those.
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(server)));
  int status = 0;
  while (waitpid(-server, &status, WNOHANG) > 0) {
  }
  EXPECT_EQ(MembersOf(server), 0);
}

}  // namespace
}  // namespace vigilo::test
