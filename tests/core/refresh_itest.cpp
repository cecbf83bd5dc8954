// Immediate deletion from the viewer against a real Dovecot: the viewer's commands with
// the server work the program gives them, run at once (no check is running).

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/refresh.h"
#include "tests/core/check_fixture.h"
#include "tests/support/dovecot.h"
#include "tests/support/scripted_server.h"
#include "viewer/mailviewer.h"

namespace vigilo {
namespace {

using test::CheckRig;

class Informed : public ViewerView {
 public:
  void Inform(const std::string& text) override { told.push_back(text); }
  void CloseWindow() override { closed = true; }
  std::vector<std::string> told;
  bool closed = false;
};

class RefreshIT : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new test::DovecotServer({{"work", "workpw"}}); }
  static void TearDownTestSuite() { delete server_; }
  void SetUp() override { server_->Clear("work"); }
  // A message whose Message-ID is <name@x> and whose body is its name.
  static void Add(const std::string& name, const std::string& subject = "") {
    server_->AddMessage("work",
                        "From: s@x\nTo: work@x\nSubject: " + (subject.empty() ? name : subject) +
                            "\nMessage-ID: <" + name + "@x>\n\n" + name + "\n");
  }
  static std::vector<std::string> Left() {
    std::vector<std::string> out;
    for (const std::string& m : server_->Messages("work")) {
      const std::size_t b = m.find("\n\n");
      out.push_back(m.substr(b + 2, m.find('\n', b + 2) - b - 2));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  // The record of the message Add made with this subject.
  static int Record(tuser& u, const std::string& subject) {
    for (int32_t i = 0; i < u.HeadCount; ++i)
      if (u.Heads[static_cast<std::size_t>(i)].MessageID == subject + "@x") return i;
    return -1;
  }
  static test::DovecotServer* server_;
};
test::DovecotServer* RefreshIT::server_ = nullptr;

struct ViewerRig {
  CheckRig rig;
  test::RefreshingServices services{rig};
  Informed view;
  TMailViewer viewer{rig.s, rig.pop, services, view, rig.dir.str()};
  tuser& u;
  explicit ViewerRig(int port) : u(rig.Add("Work", "work", "workpw", port)) {
    rig.s.delType = true;
    rig.check.StartCheck();
    viewer.Show(0);
  }
};

// Three picked rows go, the current row (not picked) and the others stay; the user's
// page choice and the declared pages of the subjects survive the rebuilt records.
TEST_F(RefreshIT, PickedRowsAreDeletedAtOnceAndPagesSurvive) {
  for (const char* s : {"a", "b", "c", "d", "e"})
    Add(s);
  Add("koi", "=?koi8-r?B?8NLJ18XU?=");
  ViewerRig v(server_->Pop3Port());
  ASSERT_EQ(v.u.HeadCount, 6);
  for (const char* s : {"a", "c", "e"})
    v.viewer.ToggleMarked(Record(v.u, s));
  v.viewer.SelectRecord(Record(v.u, "b"));
  v.viewer.SetCodePage(TCodePage::CP866);  // the user's choice for "b"
  v.viewer.DelOneClick();
  EXPECT_EQ(Left(), (std::vector<std::string>{"b", "d", "koi"}));
  ASSERT_EQ(v.u.HeadCount, 3);
  EXPECT_EQ(v.u.Heads[static_cast<std::size_t>(Record(v.u, "b"))].CodePage,
            static_cast<uint8_t>(TCodePage::CP866));
  const int koi = Record(v.u, "koi");
  ASSERT_GE(koi, 0);
  EXPECT_EQ(v.u.Heads[static_cast<std::size_t>(koi)].CodePage,
            static_cast<uint8_t>(TCodePage::KOI8R));
  EXPECT_TRUE(v.view.told.empty());
  EXPECT_FALSE(v.view.closed);
  for (int32_t i = 0; i < v.u.HeadCount; ++i)
    EXPECT_FALSE(v.u.Heads[static_cast<std::size_t>(i)].Marked);
}

// Without unique ids a key two messages share deletes neither, and the user is told; with
// them both go, and deleting the last message closes the viewer.
TEST_F(RefreshIT, ASharedKeyDeletesNothingWithoutUniqueIds) {
  Add("twin");
  Add("twin");
  Add("single");
  ViewerRig v(server_->Pop3Port());
  ASSERT_EQ(v.u.HeadCount, 3);
  for (int32_t i = 0; i < v.u.HeadCount; ++i)
    v.u.Heads[static_cast<std::size_t>(i)].UniqueID.clear();
  v.viewer.ToggleMarked(Record(v.u, "twin"));
  v.viewer.ToggleMarked(Record(v.u, "single"));
  v.viewer.DelOneClick();
  EXPECT_EQ(Left(), (std::vector<std::string>{"twin", "twin"}));
  ASSERT_EQ(v.view.told.size(), 1u);
  EXPECT_NE(v.view.told[0].find("twin@x"), std::string::npos);
  EXPECT_FALSE(v.view.closed);

  ASSERT_EQ(v.u.HeadCount, 2);
  v.viewer.ToggleMarked(0);
  v.viewer.ToggleMarked(1);
  v.viewer.DelOneClick();
  EXPECT_TRUE(Left().empty());
  EXPECT_EQ(v.u.HeadCount, 0);
  EXPECT_TRUE(v.view.closed);
  EXPECT_EQ(v.view.told.back(), "Больше сообщений нет");
}

// Message 2 of 3 deleted at once: every header is read before anything is deleted (so a mark
// is matched against the whole mailbox), then DELE for the chosen one and LIST for the sizes
// of the others. Without UIDL the Message-ID decides; with it the unique id, even when every
// message has the same Message-ID.
TEST(RefreshScript, DeletesMessageTwoOfThree) {
  using namespace test;
  for (const bool uidl : {false, true}) {
    SCOPED_TRACE(uidl ? "by unique id" : "by Message-ID");
    const auto top = [&](int n) {
      return Send("+OK\r\nSubject: s\r\nMessage-ID: <" +
                  (uidl ? std::string("same") : "m" + std::to_string(n)) + "@x>\r\n\r\n.\r\n");
    };
    ScriptedServer server({Send("+OK ready\r\n"),
                           Expect("USER u"),
                           Send("+OK\r\n"),
                           Expect("PASS p"),
                           Send("+OK\r\n"),
                           Expect("STAT"),
                           Send("+OK 3 300\r\n"),
                           Expect("UIDL"),
                           Send(uidl ? "+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n.\r\n" : "-ERR no\r\n"),
                           Expect("TOP 1 1"),
                           top(1),
                           Expect("TOP 2 1"),
                           top(2),
                           Expect("TOP 3 1"),
                           top(3),
                           Expect("LIST 1"),
                           Send("+OK 1 100\r\n"),
                           Expect("DELE 2"),
                           Send("+OK\r\n"),
                           Expect("LIST 3"),
                           Send("+OK 3 120\r\n"),
                           Expect("QUIT"),
                           Send("+OK bye\r\n")});
    CheckRig rig;
    tuser& u = rig.Add("Work", "u", "p", server.Port());
    for (int k = 0; k < 3; ++k) {
      const std::string n = std::to_string(k + 1);
      rig.s.AddHead(0, k, "f", "s", " 1 байт", "d", "t", uidl ? "same@x" : "m" + n + "@x", 0);
      if (uidl) u.Heads[static_cast<std::size_t>(k)].UniqueID = "u" + n;
    }
    ASSERT_TRUE(rig.check.PopLogin(0));
    EXPECT_TRUE(RefreshHeads(rig.s, 0, rig.pop, {u.Heads[1]}).empty());
    EXPECT_TRUE(server.Finished());
    EXPECT_EQ(server.Failure(), "");
    ASSERT_EQ(u.HeadCount, 2);
    EXPECT_EQ(u.Heads[0].Size, " 100 байт");
    EXPECT_EQ(u.Heads[1].MessageID, uidl ? "same@x" : "m3@x");
    EXPECT_EQ(u.Heads[1].UniqueID, uidl ? "u3" : "");
  }
}

}  // namespace
}  // namespace vigilo
