// scripts/deps.sh with stand-ins for apt-get, dpkg-query, sudo and id: the policy-rc.d that
// keeps packaged services from starting exists only while packages are installed, only
// when there was none, and is removed also when the installation fails.
#include <sys/stat.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "tests/support/tempdir.h"

namespace vigilo::test {
namespace {

namespace fs = std::filesystem;

struct Deps {
  TempDir t;
  fs::path policy = t.path() / "policy-rc.d";
  fs::path log = t.path() / "log";

  explicit Deps(bool root) {
    fs::create_directories(t.path() / "bin");
    Tool("dpkg-query", "exit 1");  // nothing is installed
    // Records whether the policy file is in place at each call; "install" fails on demand.
    Tool("apt-get", "[ -e \"$VIGILO_POLICY_RC\" ] && echo \"$1 policy\" >>" + log.string() +
                        "\n[ \"$1\" = install ] && exit ${APT_FAIL:-0}\nexit 0");
    Tool("sudo", "echo sudo >>" + log.string() + "\nexec \"$@\"");
    Tool("id", root ? "echo 0" : "echo 1000");
  }
  void Tool(const std::string& name, const std::string& body) {
    const fs::path p = t.path() / "bin" / name;
    WriteFile(p, "#!/bin/sh\n" + body + "\n");
    chmod(p.c_str(), 0755);
  }
  int Install(bool fail = false) {
    const std::string cmd = "PATH=" + t.str() + "bin:$PATH VIGILO_POLICY_RC=" + policy.string() +
                            (fail ? " APT_FAIL=100" : "") +
                            " bash -c '. " VIGILO_TEST_SOURCE_DIR
                            "/scripts/deps.sh && vigilo_install_missing some-package' 2>/dev/null";
    const int status = std::system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
};

TEST(DepsScript, PolicyFileExistsOnlyDuringTheInstallation) {
  for (const bool root : {true, false}) {
    Deps d(root);
    EXPECT_EQ(d.Install(), 0);
    EXPECT_FALSE(fs::exists(d.policy));
    const std::string log = ReadFile(d.log);
    EXPECT_NE(log.find("update policy\n"), std::string::npos) << log;
    EXPECT_NE(log.find("install policy\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("sudo") != std::string::npos, !root) << log;

    EXPECT_NE(d.Install(/*fail=*/true), 0);
    EXPECT_FALSE(fs::exists(d.policy));

    // One the administrator made stays as it was.
    WriteFile(d.policy, "#!/bin/sh\nexit 0\n");
    EXPECT_EQ(d.Install(), 0);
    EXPECT_EQ(ReadFile(d.policy), "#!/bin/sh\nexit 0\n");
  }
}

}  // namespace
}  // namespace vigilo::test
