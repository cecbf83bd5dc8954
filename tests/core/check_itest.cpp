// The check cycle and the viewer's immediate deletion against a real Dovecot on 127.0.0.1,
// and scripted servers for errors after login and invented counts.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>

#include "core/certprobe.h"
#include "mail/msexcept.h"
#include "mail/mspump.h"
#include "tests/core/check_fixture.h"
#include "tests/support/certs.h"
#include "tests/support/dovecot.h"
#include "tests/support/free_port.h"
#include "tests/support/scripted_server.h"
#include "viewer/CyrCoder.h"
#include "viewer/mailviewer.h"
#include "viewer/msgstore.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::CheckRig;

std::string Message(const std::string& messageIdLine, const std::string& from,
                    const std::string& subject) {
  return "From: " + from + "\nTo: work@example.test\nSubject: " + subject +
         "\nDate: Sun, 6 Dec 2026 10:00:00 +0000\n" + messageIdLine + "\nBody of " + subject + "\n";
}
std::string Message(const std::string& id, const std::string& subject) {
  return Message("Message-ID: <" + id + ">", "Sender <sender@example.test>", subject);
}

class CheckCycleIT : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { server_ = new test::DovecotServer({{"work", "workpw"}}); }
  static void TearDownTestSuite() { delete server_; }
  void SetUp() override { server_->Clear("work"); }
  static test::DovecotServer& Server() { return *server_; }
  static int Port() { return server_->Pop3Port(); }
  static test::DovecotServer* server_;
};
test::DovecotServer* CheckCycleIT::server_ = nullptr;

std::vector<std::string> Keys(const tuser& u) {
  std::vector<std::string> ids;
  for (int32_t i = 0; i < u.HeadCount; ++i)
    ids.push_back(u.Heads[i].MessageID);
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Records of the messages (the other configurations' lines: see the headless check), then a
// deferred deletion that also prunes the cached copies, and nothing outside the folder.
TEST_F(CheckCycleIT, RecordsThenAMarkedMessageIsDeletedAndItsFilePruned) {
  Server().AddMessage("work", Message("keep1@x", "keep1"));
  Server().AddMessage("work", Message("gone/../@x", "gone"));
  // One KOI8-R letter: the guess alone would not say KOI8-R, the declared page does.
  Server().AddMessage("work", Message("keep2@x", "=?KOI8-R?B?wQ==?="));
  CheckRig rig;
  rig.Add("Work", "work", "workpw", Port());
  rig.check.StartCheck();
  EXPECT_EQ(rig.view.hint, "Work-3;");
  EXPECT_EQ(rig.view.looks.at(0), (ConfItemLook{true, "Work (3)", 1}));
  EXPECT_EQ(rig.view.calls.back(), "waiting");
  EXPECT_EQ(Keys(rig.Conf(0)), (std::vector<std::string>{"gone/../@x", "keep1@x", "keep2@x"}));
  for (const tmailhead& h : rig.Conf(0).Heads) {
    if (h.MessageID != "keep2@x") continue;
    EXPECT_EQ(h.From, "Sender <sender@example.test>");
    EXPECT_EQ(h.Date, "Sun, 6 Dec 2026 10:00:00 +0000");
    EXPECT_EQ(h.CodePage, static_cast<uint8_t>(TCodePage::KOI8R));
  }
  EXPECT_EQ(rig.busy, 0);
  EXPECT_FALSE(rig.pop.IsOpen());
  EXPECT_EQ(Server().Messages("work").size(), 3u);  // reading headers deletes nothing

  // Deferred deletion: the marked message goes at the next check, with its cached file.
  const std::string in = rig.Conf(0).InDir;
  fs::create_directories(in);
  for (const char* key : {"keep1@x", "gone/../@x", "keep2@x", "old@x"})
    test::WriteFile(MessageFilePath(in, key), "cached");
  test::WriteFile(in + "/info.txt", "keep1@x\r\ncp1251\r\n");
  test::WriteFile(rig.dir.path() / "in" / "m_outside", "not in InDir");
  for (tmailhead& m : rig.Conf(0).Heads)
    m.DeleteNext = m.MessageID == "gone/../@x";
  rig.check.StartCheck();
  EXPECT_EQ(Keys(rig.Conf(0)), (std::vector<std::string>{"keep1@x", "keep2@x"}));
  EXPECT_EQ(Server().Messages("work").size(), 2u);
  for (const auto& [key, kept] :
       {std::pair{"gone/../@x", false}, {"old@x", false}, {"keep1@x", true}, {"keep2@x", true}})
    EXPECT_EQ(fs::exists(MessageFilePath(in, key)), kept) << key;
  EXPECT_TRUE(fs::exists(in + "/info.txt"));
  EXPECT_TRUE(fs::exists(rig.dir.path() / "in" / "m_outside"));
  EXPECT_EQ(rig.view.hint, "Work-2;");

  // Once the mailbox is empty no cached message stays; "info.txt" does.
  Server().Clear("work");
  rig.check.StartCheck();
  EXPECT_EQ(fs::directory_iterator(in)->path().filename(), "info.txt");
  EXPECT_EQ(std::distance(fs::directory_iterator(in), fs::directory_iterator()), 1);
  EXPECT_EQ(rig.view.hint, "Новой почты нет");
}

// Marks the records with this subject.
void Mark(tuser& u, const std::string& subject) {
  for (int32_t i = 0; i < u.HeadCount; ++i)
    if (u.Heads[static_cast<std::size_t>(i)].Subject == subject) u.Heads[i].DeleteNext = true;
}

// Without unique ids a Message-ID several messages share deletes none and says so. A failed
// login keeps the records and their marks; with unique ids the next good one deletes the
// marked copy alone. (The random deletion sequences try the other ways a key can name the
// wrong message.)
TEST_F(CheckCycleIT, ASharedKeyDeletesNothingAndAFailedLoginKeepsTheMark) {
  for (const char* copy : {"list copy", "direct copy", "other"})
    Server().AddMessage("work", "From: n@x\nSubject: " + std::string(copy) +
                                    "\nMessage-ID: <dup@x>\n\n" + copy + "\n");
  CheckRig rig;
  tuser& u = rig.Add("Work", "work", "workpw", Port());
  rig.check.StartCheck();
  ASSERT_EQ(u.HeadCount, 3);
  for (tmailhead& h : u.Heads)
    h.UniqueID.clear();  // as if the last check had no unique ids
  Mark(u, "list copy");
  rig.check.StartCheck();
  EXPECT_EQ(Server().Messages("work").size(), 3u);
  const auto log = test::Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("dup@x"), std::string::npos);

  Mark(u, "direct copy");
  u.UserPwd = "wrong";
  rig.check.StartCheck();
  ASSERT_EQ(u.HeadCount, 3);
  for (int32_t i = 0; i < 3; ++i)
    EXPECT_EQ(u.Heads[i].DeleteNext, u.Heads[i].Subject == "direct copy") << u.Heads[i].Subject;
  u.UserPwd = "workpw";
  rig.check.StartCheck();
  ASSERT_EQ(Server().Messages("work").size(), 2u);
  for (const std::string& m : Server().Messages("work"))
    EXPECT_EQ(m.find("direct copy"), std::string::npos);
}

// The subjects of the messages left on the server, sorted.
std::vector<std::string> SubjectsLeft(const test::DovecotServer& server) {
  std::vector<std::string> out;
  for (const std::string& m : server.Messages("work")) {
    const std::size_t at = m.find("Subject: ") + 9;
    out.push_back(m.substr(at, m.find('\n', at) - at));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The record with this Message-ID.
int Record(const tuser& u, const std::string& id) {
  for (int32_t i = 0; i < u.HeadCount; ++i)
    if (u.Heads[static_cast<std::size_t>(i)].MessageID == id) return i;
  return -1;
}

struct Informed : ViewerView {
  void Inform(const std::string& text) override { told.push_back(text); }
  std::vector<std::string> told;
};

// Rows picked in the viewer go at once and nothing else: without unique ids a key two
// messages share deletes neither, and the user is told. The user's page choice for another
// row and the declared page of a subject survive the rebuilt records. (The random deletion
// sequences and the viewer's window test try many more choices.)
TEST_F(CheckCycleIT, PickedRowsAreDeletedAtOnceAndPagesSurvive) {
  for (const char* s : {"a", "b", "twin", "twin"})
    Server().AddMessage("work", Message(std::string(s) + "@x", s));
  Server().AddMessage("work", Message("koi@x", "=?koi8-r?B?8NLJ18XU?="));
  CheckRig rig;
  test::RefreshingServices services{rig};
  Informed view;
  TMailViewer viewer{rig.s, rig.pop, services, view, rig.dir.str()};
  tuser& u = rig.Add("Work", "work", "workpw", Port());
  rig.s.delType = true;
  rig.check.StartCheck();
  viewer.Show(0);
  ASSERT_EQ(u.HeadCount, 5);
  for (int32_t i = 0; i < u.HeadCount; ++i)
    u.Heads[static_cast<std::size_t>(i)].UniqueID.clear();
  viewer.ToggleMarked(Record(u, "a@x"));
  viewer.ToggleMarked(Record(u, "twin@x"));
  viewer.SelectRecord(Record(u, "b@x"));
  viewer.SetCodePage(TCodePage::CP866);  // the user's choice for "b"
  viewer.DelOneClick();
  EXPECT_EQ(SubjectsLeft(Server()),
            (std::vector<std::string>{"=?koi8-r?B?8NLJ18XU?=", "b", "twin", "twin"}));
  ASSERT_EQ(view.told.size(), 1u);
  EXPECT_NE(view.told[0].find("twin@x"), std::string::npos);
  ASSERT_EQ(u.HeadCount, 4);
  const auto page = [&](const char* id) {
    const int r = Record(u, id);
    return r < 0 ? -1 : u.Heads[static_cast<std::size_t>(r)].CodePage;
  };
  EXPECT_EQ(page("b@x"), static_cast<int>(TCodePage::CP866));
  EXPECT_EQ(page("koi@x"), static_cast<int>(TCodePage::KOI8R));
  for (int32_t i = 0; i < u.HeadCount; ++i)
    EXPECT_FALSE(u.Heads[static_cast<std::size_t>(i)].Marked);
}

// What the settings window shows the user to trust: the POP3 server's certificate, read over
// STLS or TLS; a plain port or TLS spoken to it gives a reason instead.
TEST_F(CheckCycleIT, CertificateProbeShowsTheFingerprintOverStlsAndTls) {
  const std::string expected = test::Certificates().server.sha256;
  const CertProbeResult stls = ProbeServerCertificate("127.0.0.1", Port(), 1);
  EXPECT_EQ(stls.Fingerprint, expected) << stls.Error;
  EXPECT_FALSE(stls.TrustedByCA);  // the test CA is not among the system's
  const CertProbeResult tls = ProbeServerCertificate("127.0.0.1", Server().Pop3sPort(), 2);
  EXPECT_EQ(tls.Fingerprint, expected) << tls.Error;
  for (const CertProbeResult& none : {ProbeServerCertificate("127.0.0.1", Port(), 0),
                                      ProbeServerCertificate("127.0.0.1", Port(), 2, 5)}) {
    EXPECT_TRUE(none.Fingerprint.empty());
    EXPECT_FALSE(none.Error.empty());
  }
}

// A tick during a check starts nothing; the sound plays only when the count changes; with
// their deletion on, blacklisted senders go whatever the case of the text.
TEST_F(CheckCycleIT, TicksSoundAndBlacklistOverSeveralChecks) {
  Server().AddMessage("work", Message("a@x", "A"));
  CheckRig rig;
  rig.Add("Work", "work", "workpw", Port());
  rig.s.Sound = "  message-new-email  ";
  rig.s.Visual = 1;
  int notices = 0, ticks = 0;
  rig.check.OnNewMailNotice = [&] { ++notices; };
  ms::SetMessagePump([&] {
    if (!rig.check.Running()) return;
    ++ticks;
    rig.check.StartCheck();  // what a Timer1 tick does
  });
  rig.check.StartCheck();
  ms::SetMessagePump(nullptr);
  EXPECT_GT(ticks, 0);
  EXPECT_EQ(std::count(rig.view.calls.begin(), rig.view.calls.end(), "frames"), 1);
  EXPECT_EQ(std::count(rig.view.hints.begin(), rig.view.hints.end(), "Проверка почты Work"), 1);
  EXPECT_EQ(rig.view.hint, "Work-1;");
  EXPECT_EQ(rig.sound.Plays(), (std::vector<std::string>{"message-new-email"}));
  EXPECT_EQ(notices, 1);
  rig.check.StartCheck();  // same count
  EXPECT_EQ(rig.sound.Plays().size(), 1u);

  Server().AddMessage("work", Message("Message-ID: <s1@x>", "SPAMMER <Spam@Example.TEST>", "Buy"));
  Server().AddMessage("work", Message("Message-ID: <s2@x>", "spam@example.test", "Buy too"));
  rig.s.Black = {"Spammer <spam@example.test>"};
  rig.s.delBlack = false;
  rig.check.StartCheck();
  EXPECT_EQ(rig.sound.Plays().size(), 2u);
  EXPECT_EQ(notices, 2);
  EXPECT_EQ(rig.Conf(0).HeadCount, 3);  // off: nothing is deleted
  rig.s.delBlack = true;
  rig.check.StartCheck();
  // Only the whole text matches; the bare address is another sender text.
  EXPECT_EQ(Keys(rig.Conf(0)), (std::vector<std::string>{"a@x", "s2@x"}));
  EXPECT_EQ(Server().Messages("work").size(), 2u);
}

// The greeting, a login as "u" with "p" and STAT's answer; UIDL comes next.
std::vector<test::ScriptedServer::Step> LoginAndStat(const std::string& stat) {
  using namespace test;
  return {Send("+OK ready\r\n"),
          Expect("USER u"),
          Send("+OK\r\n"),
          Expect("PASS p"),
          Send("+OK\r\n"),
          Expect("STAT"),
          Send("+OK " + stat + "\r\n"),
          Expect("UIDL")};
}

// After a failed or stopped check nothing stays open or busy, and nothing was logged.
void ExpectIdleAndQuiet(CheckRig& rig, const test::ScriptedServer& server) {
  EXPECT_FALSE(rig.pop.IsOpen());
  EXPECT_EQ(rig.busy, 0);
  EXPECT_FALSE(rig.view.progress);
  EXPECT_FALSE(rig.check.Running());
  EXPECT_EQ(rig.ErrorLog(), "");
  const std::vector<std::string> received = server.Received();
  EXPECT_EQ(std::count(received.begin(), received.end(), "QUIT"), 0);
}

// A server that announces PIPELINING fails a command in the middle of a batch: the session ends
// without QUIT, so the DELE sent before the failure deletes nothing, the records and marks of
// before stay, and the check is over.
TEST(CheckCycleScripted, ErrorMidPipelinedBatchDeletesNothing) {
  using namespace test;
  std::vector<ScriptedServer::Step> script = LoginAndStat("4 400");
  script.insert(script.end(),
                {Send("-ERR\r\n"), Expect("CAPA"), Send("+OK\r\nPIPELINING\r\n.\r\n")});
  std::string tops;
  for (int n = 1; n <= 4; ++n) {
    script.push_back(Expect("TOP " + std::to_string(n) + " 1"));
    tops += "+OK\r\nMessage-ID: <m" + std::to_string(n) + "@x>\r\n\r\n.\r\n";
  }
  script.insert(script.end(), {Send(tops), Expect("LIST 1"), Expect("DELE 2"), Expect("LIST 3"),
                               Expect("LIST 4"), Send("+OK 1 100\r\n+OK\r\n-ERR gone\r\n")});
  ScriptedServer server(script);
  CheckRig rig;
  tuser& u = rig.Add("Work", "u", "p", server.Port());
  for (int k = 0; k < 4; ++k)
    rig.s.AddHead(0, k, "f", "s", " 1 байт", "d", "t", "m" + std::to_string(k + 1) + "@x", 0);
  u.Heads[1].DeleteNext = true;
  const std::vector<tmailhead> before(u.Heads.begin(), u.Heads.begin() + u.HeadCount);
  EXPECT_THROW(rig.check.StartCheck(), ms::EmsServerError);
  EXPECT_TRUE(server.Finished()) << server.Failure();
  ExpectIdleAndQuiet(rig, server);  // reported to the caller, not logged
  ASSERT_EQ(u.HeadCount, 4);
  for (std::size_t k = 0; k < before.size(); ++k) {
    EXPECT_EQ(u.Heads[k].MessageID, before[k].MessageID);
    EXPECT_EQ(u.Heads[k].DeleteNext, before[k].DeleteNext);
  }
}

// Stopping a check (the progress window's "Остановить") ends the wait at once and quietly:
// nothing deleted, records and marks kept, the configurations after it left alone.
TEST(CheckCycleScripted, StopEndsTheCheckQuietly) {
  using namespace test;
  std::vector<ScriptedServer::Step> script = LoginAndStat("1 100");
  script.insert(script.end(),
                {Send("-ERR\r\n"), Expect("TOP 1 1"), Send("+OK\r\nSubject: sl"), Sleep(60000)});
  ScriptedServer server(script);
  CheckRig rig;
  rig.pop.TimeOut = 60;
  rig.Add("Work", "u", "p", server.Port());
  rig.Add("Next", "n", "p", FreePort());
  tuser& u = rig.Conf(0);
  rig.s.AddHead(0, 0, "f", "s", " 1 байт", "d", "t", "a@x", 0);
  u.Heads[0].DeleteNext = true;
  int pumps = 0;
  ms::SetMessagePump([&] {
    if (rig.view.progress && ++pumps == 20) rig.check.Cancel();
  });
  rig.check.StartCheck();
  ms::SetMessagePump(nullptr);
  EXPECT_FALSE(rig.check.LastResult().Ran);
  ExpectIdleAndQuiet(rig, server);  // "Next" was not tried
  ASSERT_EQ(u.HeadCount, 1);
  EXPECT_TRUE(u.Heads[0].DeleteNext);
  EXPECT_EQ(rig.view.tags, (std::vector<int32_t>{0, 1}));
}

// A count beyond what a check reads: the first messages are read, the rest reported.
TEST(CheckCycleScripted, AnInventedCountIsCapped) {
  using namespace test;
  const std::string top = "+OK\r\nMessage-ID: <a@x>\r\n\r\n.\r\n";
  std::vector<ScriptedServer::Step> script = LoginAndStat("2000000000 1");
  script.insert(script.end(), {Send("-ERR\r\n"), Expect("CAPA"), Send("-ERR\r\n"),
                               Expect("TOP 1 1"), Send(top), Expect("TOP 2 1"), Close()});
  const auto next = LoginAndStat("3 300");  // the next check reads one message of three
  script.insert(script.end(), next.begin(), next.end());
  script.insert(script.end(),
                {Send("+OK\r\n1 u1\r\n2 u2\r\n3 u3\r\n.\r\n"), Expect("TOP 1 1"), Send(top),
                 Expect("LIST 1"), Send("+OK 1 100\r\n"), Expect("QUIT"), Send("+OK\r\n")});
  ScriptedServer server(script);
  CheckRig rig;
  rig.Add("Work", "u", "p", server.Port());
  EXPECT_THROW(rig.check.StartCheck(), ms::EmsServerError);
  EXPECT_EQ(rig.view.barMax, kMaxCheckedMessages);
  EXPECT_FALSE(rig.pop.IsOpen());
  rig.check.MaxMessages = 1;
  rig.check.StartCheck();
  EXPECT_TRUE(server.Finished()) << server.Failure();
  EXPECT_EQ(rig.view.hint, "Work-1+;");
  ASSERT_EQ(rig.Conf(0).HeadCount, 1);
  EXPECT_EQ(rig.Conf(0).Heads[0].UniqueID, "u1");
  const auto log = test::Lines(rig.ErrorLog());
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find("2000000000"), std::string::npos);
  EXPECT_NE(log[1].find("проверены первые 1"), std::string::npos);
}

}  // namespace
}  // namespace vigilo
