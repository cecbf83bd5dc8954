// scripts/demo up to the point where it starts the program: a stand-in program reports what
// it was given, the test reads the demo mailbox over POP3, and everything is gone afterwards.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <thread>

#include "tests/support/line_client.h"
#include "tests/support/server_process.h"
#include "tests/support/tempdir.h"

namespace vigilo::test {
namespace {

namespace fs = std::filesystem;

bool WaitForFile(const fs::path& p, int timeoutMs) {
  auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!fs::exists(p)) {
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

std::string ValueOf(const std::string& reg, const std::string& name) {
  std::string key = "\"" + name + "\"=";
  size_t at = reg.find(key);
  if (at == std::string::npos) return {};
  size_t end = reg.find('\n', at);
  return reg.substr(at + key.size(), end - at - key.size());
}

// The stored form of a password: each byte XOR the cyclic key byte, as digit count + decimal.
std::string Unscramble(const std::string& stored, const std::string& key) {
  std::string out;
  for (size_t i = 0, n = 0; i < stored.size(); ++n) {
    int count = stored[i] - '0';
    int v = std::stoi(stored.substr(i + 1, static_cast<size_t>(count)));
    out += static_cast<char>(v ^ static_cast<unsigned char>(key[n % key.size()]));
    i += 1 + static_cast<size_t>(count);
  }
  return out;
}

// Processes of the group that still run (zombies of other parents are not ours to reap).
int LiveMembersOf(pid_t group) {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc")) {
    std::string name = e.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string stat = ReadFile(e.path() / "stat");
    size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0, pgrp = 0;
    if (sscanf(stat.c_str() + close + 1, " %c %d %d", &state, &ppid, &pgrp) == 3 && pgrp == group &&
        state != 'Z')
      ++n;
  }
  return n;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(Demo, ServesTheDemoMailboxToTheProgramAndCleansUp) {
  TempDir t;
  chmod(t.path().c_str(), 0755);
  const fs::path report = t.path() / "report";
  const fs::path fake = t.path() / "fake-vigilo";
  WriteFile(fake,
            "#!/usr/bin/env bash\n"
            "out=" +
                report.string() +
                "\n"
                "mkdir -p \"$out.tmp\"\n"
                "printf '%s\\n' \"$VIGILO_HOME\" >\"$out.tmp/home\"\n"
                "printf '%s\\n' \"$*\" >\"$out.tmp/args\"\n"
                "cp \"$VIGILO_HOME/registry.reg\" \"$out.tmp/registry.reg\"\n"
                "pgrep -f \"$VIGILO_HOME/server/dovecot.conf\" >\"$out.tmp/pid\"\n"
                "mv \"$out.tmp\" \"$out\"\n"
                "for i in $(seq 300); do [ -e \"$out/done\" ] && exit 7; sleep 0.1; done\n"
                "exit 9\n");
  chmod(fake.c_str(), 0755);

  std::string demo = std::string(VIGILO_TEST_SOURCE_DIR) + "/scripts/demo";
  std::string output;
  auto run = std::async(std::launch::async, [&] {
    return RunShell("'" + demo + "' '" + fake.string() + "' --extra 'two words'", &output);
  });
  ASSERT_TRUE(WaitForFile(report, 30000)) << "the demo did not start the program";

  std::string home = ReadFile(report / "home");
  home.pop_back();
  EXPECT_EQ(ReadFile(report / "args"), "--home " + home + " --extra two words\n");
  std::string reg = ReadFile(report / "registry.reg");
  EXPECT_EQ(reg.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
  EXPECT_TRUE(
      Contains(reg, "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo]\n\"Delay\"=dword:0000003c"));
  EXPECT_TRUE(Contains(reg, "[HKEY_CURRENT_USER\\Software\\Brenna\\Vigilo\\1]\n"));
  EXPECT_EQ(ValueOf(reg, "Users"), "dword:00000001");
  EXPECT_EQ(ValueOf(reg, "Lan"), "dword:00000001");
  EXPECT_EQ(ValueOf(reg, "NonActive"), "dword:00000000");
  EXPECT_EQ(ValueOf(reg, "ViewMail"), "dword:00000000");
  EXPECT_EQ(ValueOf(reg, "Host"), "\"127.0.0.1\"");
  std::string user = ValueOf(reg, "UserName");
  ASSERT_GE(user.size(), 2u);
  user = user.substr(1, user.size() - 2);
  std::string stored = ValueOf(reg, "UserPwd");
  ASSERT_GE(stored.size(), 2u);
  std::string password = Unscramble(stored.substr(1, stored.size() - 2), user);
  int port = std::stoi(ValueOf(reg, "Port").substr(6), nullptr, 16);
  pid_t server = std::stoi(ReadFile(report / "pid"));

  {
    LineClient pop(port);
    ASSERT_EQ(pop.ReadLine().substr(0, 3), "+OK");
    pop.Command("USER " + user);
    ASSERT_EQ(pop.Command("PASS " + password).substr(0, 3), "+OK");
    ASSERT_EQ(pop.Command("STAT").substr(0, 6), "+OK 6 ");
    std::vector<std::string> mail;
    for (int i = 1; i <= 6; ++i) {
      EXPECT_EQ(pop.Command("RETR " + std::to_string(i)).substr(0, 3), "+OK");
      mail.push_back(pop.ReadMultiline());
    }
    pop.Command("QUIT");
    EXPECT_TRUE(Contains(mail[0], "charset=koi8-r"));
    EXPECT_TRUE(Contains(mail[0], "Subject: =?koi8-r?B?"));
    EXPECT_TRUE(Contains(mail[0], "\xe4\xcf\xc2\xd2\xd9\xca\x20\xc4\xc5\xce\xd8"));  // Добрый день
    EXPECT_TRUE(Contains(mail[1], "charset=windows-1251"));
    EXPECT_TRUE(
        Contains(mail[1], "\xc7\xe4\xf0\xe0\xe2\xf1\xf2\xe2\xf3\xe9\xf2\xe5"));  // Здравствуйте
    EXPECT_TRUE(Contains(mail[2], "charset=cp866"));
    EXPECT_TRUE(Contains(mail[2], "\x8f\xe0\xa8\xa2\xa5\xe2"));  // Привет
    EXPECT_TRUE(Contains(mail[3], "charset=utf-8"));
    EXPECT_TRUE(Contains(mail[3], "Content-Transfer-Encoding: base64"));
    EXPECT_TRUE(Contains(mail[4], "multipart/mixed"));
    EXPECT_TRUE(Contains(mail[4], "Content-Disposition: attachment; filename=\"=?utf-8?B?"));
    EXPECT_FALSE(Contains(mail[5].substr(0, mail[5].find("\r\n\r\n")), "Message-ID"));
    for (int i = 0; i < 5; ++i)
      EXPECT_TRUE(Contains(mail[static_cast<size_t>(i)], "Message-ID: <"));
  }

  WriteFile(report / "done", "");
  ASSERT_EQ(run.wait_for(std::chrono::seconds(30)), std::future_status::ready);
  EXPECT_EQ(run.get(), 7) << output;  // the program's exit status
  EXPECT_FALSE(fs::exists(home));
  // The server is gone: its master was reaped, and no member of its group still runs. (Helpers
  // that outlived the master are orphans: the harness may have adopted them, so reap those.)
  EXPECT_FALSE(fs::exists("/proc/" + std::to_string(server)));
  int status = 0;
  while (waitpid(-server, &status, WNOHANG) > 0) {
  }
  EXPECT_EQ(LiveMembersOf(server), 0);
}

}  // namespace
}  // namespace vigilo::test
