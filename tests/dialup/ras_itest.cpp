// The dial-up component and the check's dial-up steps against a scripted nmcli on PATH
// whose state lives in files.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "dialup/msRasCmp.h"
#include "mail/mspump.h"
#include "tests/core/check_fixture.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using namespace test;
using Names = std::vector<std::string>;

// A folder with the scripted nmcli first on PATH, its state files, and the error boxes.
struct FakeNetworkManager {
  TempDir dir;
  std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
  std::vector<std::string> boxes;

  explicit FakeNetworkManager(bool installed = true) {
    fs::create_directories(dir.path() / "bin");
    if (installed) fs::copy_file(FAKE_NMCLI, dir.path() / "bin" / "nmcli");
    setenv("PATH", (dir.str() + "/bin:" + oldPath).c_str(), 1);
    setenv("FAKE_NMCLI_DIR", dir.str().c_str(), 1);
    Entries("Provider:gsm\nOffice\\:VPN:vpn\n");
    Dial(0, "ok");
    TmsRas::ErrorBox = [this](const std::string& text) { boxes.push_back(text); };
  }
  ~FakeNetworkManager() {
    setenv("PATH", oldPath.c_str(), 1);
    TmsRas::ErrorBox = nullptr;
  }
  void Entries(const std::string& lines) { WriteFile(dir.path() / "entries", lines); }
  void Active(const std::string& lines) { WriteFile(dir.path() / "active", lines); }
  void Dial(double seconds, const std::string& result) {
    WriteFile(dir.path() / "dial", std::to_string(seconds) + " " + result + "\n");
  }
  std::string Calls() const { return ReadFile(dir.path() / "calls"); }
  // How many calls had these words.
  long Count(const std::string& words) const {
    const Names calls = Lines(Calls());
    return std::count_if(calls.begin(), calls.end(),
                         [&](const std::string& c) { return c.find(words) != std::string::npos; });
  }
  bool Called(const std::string& words) const { return Count(words) > 0; }
  std::string ActiveNow() const { return ReadFile(dir.path() / "active"); }
};

// The text of the error a dial raises; "" when it raises none.
std::string DialError(TmsRas& ras) {
  try {
    ras.Dial();
  } catch (const EmsRASError& e) {
    return e.what();
  }
  return "";
}

TEST(TmsRasNm, PhonebookConnectionsAndServiceChecks) {
  FakeNetworkManager nm;
  TmsRas ras;
  EXPECT_EQ(nm.Calls(), "");  // nothing is asked before it is needed
  EXPECT_EQ(ras.Entries(), (Names{"Provider", "Office:VPN"}));
  nm.Active(
      "Provider:u1:activated:10.64.0.2/24\nLan:u2:activated:192.168.1.5/24\nNew:u3:activating:\n");
  EXPECT_EQ(ras.ActiveConnections(), (Names{"Provider", "Lan"}));

  ras.SetService("Nobody");
  EXPECT_EQ(ras.Service(), "");
  EXPECT_EQ(nm.boxes, (Names{"Invalid service name"}));

  // The connection test wants exactly the name, or with ForceService off any address.
  ras.SetService("Office:VPN");
  EXPECT_FALSE(ras.IsConnected());
  ras.ForceService = false;
  EXPECT_TRUE(ras.IsConnected());

  // Once connected, another entry cannot be chosen; the same one is no change.
  ras.ForceService = true;
  ras.SetService("Provider");
  ras.Dial();  // up already: nothing dialled
  EXPECT_TRUE(ras.Connected() && !ras.DialedHere());
  EXPECT_FALSE(nm.Called("connection up"));
  ras.SetService("Provider");
  ras.SetService("Office:VPN");
  EXPECT_EQ(ras.Service(), "Provider");
  EXPECT_EQ(nm.boxes.back(), "This property can be set only before\restablishing the connection");
  ras.HangUp();  // not dialled here: never hung up
  EXPECT_FALSE(nm.Called("connection down"));
}

TEST(TmsRasNm, NoClientOrNoNetworkManagerMeansNothingAndNoBox) {
  for (const bool installed : {false, true}) {
    FakeNetworkManager nm(installed);
    WriteFile(nm.dir.path() / "not-running", "");
    TmsRas ras;
    EXPECT_TRUE(ras.Entries().empty());
    EXPECT_TRUE(ras.ActiveConnections().empty());
    ras.SetService("Provider");
    ras.Dial();  // no Service: nothing to dial
    EXPECT_FALSE(ras.DialedHere());
    EXPECT_TRUE(nm.boxes.empty());
  }
}

// (The loop kept going during a dial is shown by the check's dial below.)
TEST(TmsRasNm, DialHidesThePasswordAndFailsWithTheServiceText) {
  FakeNetworkManager nm;
  TmsRas ras;
  ras.Password = "secret pw";
  ras.SetService("Provider");
  EXPECT_EQ(DialError(ras), "");
  EXPECT_TRUE(ras.Connected() && ras.DialedHere());
  // The password reaches the service in a file of its own, never on a command line,
  // and the file is gone afterwards.
  EXPECT_EQ(ReadFile(nm.dir.path() / "passwd"), "gsm.password:secret pw\n");
  EXPECT_FALSE(nm.Called("secret"));
  const std::string passwdArg = nm.Calls().substr(nm.Calls().find("passwd-file ") + 12);
  EXPECT_FALSE(fs::exists(passwdArg.substr(0, passwdArg.find('\n'))));

  int disconnected = 0;
  ras.OnDisconnected = [&](TmsRas&) { ++disconnected; };
  ras.HangUp();
  ras.HangUp();  // once only
  EXPECT_EQ(disconnected, 1);
  EXPECT_EQ(nm.ActiveNow(), "");

  nm.Dial(0, "fail");
  EXPECT_EQ(DialError(ras), "Connection activation failed: The dialing attempt failed.");
}

struct DialupCheck : ::testing::Test {
  FakeNetworkManager nm;
  CheckRig rig;
  void SetUp() override {
    rig.s.Lan = 2;
    rig.s.Ras = " Provider ";
  }
};

// The check leaves the service alone in local-network mode, uses an entry that is up
// already and leaves it up, and without a connection skips when told to check only then.
TEST_F(DialupCheck, WhenTheCheckDialsAndWhenNot) {
  rig.s.Lan = 1;
  rig.check.StartCheck();
  rig.check.FinishConnection();
  EXPECT_EQ(nm.Calls(), "");

  rig.s.Lan = 2;
  rig.s.ChIfCon = true;
  rig.check.StartCheck();
  const auto& hints = rig.view.hints;
  EXPECT_NE(std::find(hints.begin(), hints.end(), "Нет активного соединения"), hints.end());
  EXPECT_FALSE(nm.Called("connection up"));

  nm.Active("Provider:u1:activated:10.64.0.2/32\n");
  rig.check.StartCheck();
  EXPECT_TRUE(rig.check.LastResult().Ran);
  rig.check.FinishConnection();
  EXPECT_FALSE(nm.Called("connection up") || nm.Called("connection down"));
  EXPECT_EQ(nm.ActiveNow(), "Provider:u1:activated:10.64.0.2/32\n");
}

TEST_F(DialupCheck, DialShowsItsProgressAndTheCheckThatDialledHangsUp) {
  nm.Dial(2, "ok");
  int outsideTries = 0;
  ms::SetMessagePump([&] {
    // A viewer command arriving through the loop meanwhile uses the connection but
    // leaves it to the check.
    if (!rig.check.Running() || outsideTries > 0) return;
    ++outsideTries;
    rig.check.EnsureConnection();
    rig.check.FinishConnection();
  });
  rig.check.StartCheck();
  ms::SetMessagePump(nullptr);
  EXPECT_EQ(outsideTries, 1);
  EXPECT_EQ(rig.view.labels, (Names{"Initializing...", "Dialing...",
                                    "Verifying user name and password", "Successfully connected"}));
  EXPECT_TRUE(rig.check.LastResult().Ran);
  // Dialled once, hung up once, at the check's end.
  EXPECT_EQ(nm.Count("connection up"), 1);
  EXPECT_EQ(nm.Count("connection down"), 1);
  EXPECT_EQ(nm.ActiveNow(), "");
}

TEST_F(DialupCheck, ADialLongerThanTimeOutFailsAndIsEnded) {
  nm.Dial(5, "ok");
  rig.ras.TimeOut = 1;
  rig.ras.SetService("Provider");
  EXPECT_EQ(DialError(rig.ras), "Operation timed out");
  EXPECT_TRUE(rig.ras.DialedHere());  // left for FinishConnection
  rig.check.FinishConnection();
  EXPECT_FALSE(rig.ras.DialedHere());

  // Within a check the dial that timed out is ended by that check.
  EXPECT_FALSE(rig.check.EnsureConnection());
  EXPECT_EQ(rig.view.hint, "Ошибка подключения");
  EXPECT_EQ(nm.Count("connection down"), 2);
  EXPECT_EQ(nm.ActiveNow(), "");
}

}  // namespace
}  // namespace vigilo
