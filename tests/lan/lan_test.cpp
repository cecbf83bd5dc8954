#include <gtest/gtest.h>

#include "lan/chat.h"
#include "lan/lanmsg.h"
#include "lan/networks.h"
#include "tests/lan/chat_fixture.h"
#include "tests/support/fake_sound.h"

namespace vigilo {
namespace {

// Lengths are exactly four digits counting Windows-1251 bytes ("Привет" is 12 bytes of
// UTF-8 and 6 on the wire); a NUL ends the text before its length is taken.
TEST(LanFrame, FourDigitLengthsCountWireBytes) {
  EXPECT_EQ(LanFrame("", ""), "00000000");
  EXPECT_EQ(LanFrame("Ж", "Привет"),
            "0001\xC6"
            "0006\xCF\xF0\xE8\xE2\xE5\xF2");
  EXPECT_EQ(LanFrame("A", std::string("Hi\0there", 8)), "0001A0002Hi");
  EXPECT_EQ(ParseLanLength("9999"), 9999);
  for (const char* bad : {"12", "00012", " 012", "+012", "-012", "00a1", "0x10", "１２３４"})
    EXPECT_EQ(ParseLanLength(bad), -1) << bad;
  EXPECT_NO_THROW(LanFrame("A", std::string(9999, 'x')));
  EXPECT_THROW(LanFrame("A", std::string(10000, 'x')), ESockError);
  EXPECT_THROW(LanFrame(std::string(10000, 'n'), "x"), ESockError);
  std::string cyrillic;  // 10,000 bytes of UTF-8, 5,000 on the wire
  for (int i = 0; i < 5000; ++i)
    cyrillic += "Я";
  EXPECT_NO_THROW(LanFrame("A", cyrillic));
  // Received bytes are UTF-8 only when they are multi-byte UTF-8; an unassigned byte of
  // Windows-1251 becomes a replacement character, never a broken string.
  EXPECT_EQ(FromWireText("\xCF\xF0\xE8\xE2\xE5\xF2"), "Привет");
  EXPECT_EQ(FromWireText("Привет"), "Привет");
  EXPECT_EQ(FromWireText("\x98"), "\xEF\xBF\xBD");
}

// The smbtree output is read end to end by the integration test; avahi's here.
TEST(Neighbourhood, AvahiOutputAndTrimmedNamesAndOneErrorForEveryFailure) {
  const auto avahi = ParseAvahiBrowse(
      "+;eth0;IPv4;alpha;_ssh._tcp;local\n"
      "=;eth0;IPv4;alpha;_ssh._tcp;local;alpha.local;10.0.0.2;22;\n"
      "=;eth0;IPv6;alpha;_ssh._tcp;local;alpha.local;fe80::1;22;\n"
      "=;eth0;IPv4;beta;_smb._tcp;local;beta.local.;10.0.0.3;445;\n");
  ASSERT_EQ(avahi.size(), 1u);
  EXPECT_EQ(avahi[0].Name, "local");
  EXPECT_EQ(avahi[0].Computers, (TNetworkWorkgroup{"alpha.local", "beta.local"}));

  test::FixedNeighbourhood source;
  source.Groups = {{" WG ", {" a ", std::string("b\0junk", 6), "c"}}, {"EMPTY", {}}};
  TNetworkNeighborhood network(source);
  ASSERT_EQ(network.Count(), 2);
  EXPECT_EQ(network.Strings(0), "WG");
  EXPECT_EQ(network.Objects(0), (TNetworkWorkgroup{"a", "b", "c"}));
  source.Fail = true;
  EXPECT_THROW(TNetworkNeighborhood failed(source), ECannotFindNetwork);
}

class ChatLogic : public ::testing::Test {
 protected:
  ChatLogic() : chat(view, network) {
    chat.Now = [] { return std::string("06.12.2026 20:19:00"); };
    chat.Sound = &sound;
    chat.SoundName = [] { return std::string(" bell.oga "); };
  }
  test::RecordingView view;
  test::FixedNeighbourhood network;
  test::FakeSoundPlayer sound;
  TChat chat;
};

// A probe (an empty or blank frame) leaves no row, sound or tray icon; a received
// message fills the empty first row and a sent row keeps its marker when selected.
TEST_F(ChatLogic, ProbesLeaveNoTraceAndSentRowsKeepTheirMarker) {
  chat.LanMsgServ1MSG("Alpha", " \r\n ");
  EXPECT_EQ(chat.Rows[0].Marker, "");
  EXPECT_EQ(view.TrayShown, 0);
  EXPECT_TRUE(sound.Plays().empty());

  chat.LanMsgServ1MSG("Alpha", "one\r\ntwo");
  ASSERT_EQ(chat.Rows.size(), 1u);
  EXPECT_EQ(chat.Rows[0].Text, "one\ntwo");
  EXPECT_EQ(sound.Plays(), (std::vector<std::string>{"bell.oga"}));
  chat.LanMsg1MessageSent("beta", "x");
  chat.gridSelectCell(1);
  EXPECT_EQ(chat.Rows[1].Marker, "0");
  chat.AddHostItem("анна");  // recipients are unique whatever the letter case
  chat.AddHostItem("АННА");
  EXPECT_EQ(chat.HostItems, (std::vector<std::string>{"beta", "анна"}));
}

TEST_F(ChatLogic, SendingRefusesTooLongTextsAndNeedsAName) {
  chat.LocalName = "me";
  view.Host = "127.0.0.1";
  view.Msg = std::string(10000, 'x');
  chat.Button1Click();
  EXPECT_EQ(view.Messages, std::vector<std::string>{TooLongText(10000)});
  EXPECT_EQ(view.Msg.size(), 10000u);  // kept for shortening
  // Line breaks become CR LF on the wire: 5,000 lines of "x\n" are 15,000 bytes.
  view.Msg.clear();
  for (int i = 0; i < 5000; ++i)
    view.Msg += "x\n";
  chat.Button1Click();
  EXPECT_EQ(view.Messages.back(), TooLongText(15000));
  view.Messages.clear();
  chat.LocalName = " ";
  view.Msg = "text";
  chat.Button1Click();
  EXPECT_TRUE(view.Messages.empty());
}

TEST_F(ChatLogic, TreeRebuildEmptiesTheRecipientAndReportsAMissingNetwork) {
  network.Groups = {{"WG", {"a", "b", "c"}}};
  chat.HostItems = {"old"};
  view.Host = "old";
  chat.loadLanList(false);
  ASSERT_EQ(chat.Tree.size(), 1u);
  EXPECT_EQ(chat.Tree[0].Computers.size(), 3u);
  EXPECT_TRUE(chat.HostItems.empty());
  EXPECT_EQ(view.Host, "");
  network.Fail = true;
  chat.loadLanList(false);
  EXPECT_TRUE(chat.Tree.empty());
  EXPECT_EQ(view.Status, "Cannot find network neiborhood");
}

}  // namespace
}  // namespace vigilo
