// The blacklist editor's working copy and the viewer's deletion commands.

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/viewer/viewer_fixture.h"
#include "viewer/blackedit.h"
#include "viewer/blacklist.h"

namespace vigilo {
namespace {

using Strings = std::vector<std::string>;

// Sorted, no duplicates whatever the letter case (Cyrillic too), no blank entry (which
// would match every mail without a sender); without a selection the commands do nothing.
TEST(BlackEditor, SortedDuplicatesBlankEntriesAndSelection) {
  TBlackEditor e({"zed@x", "Борис <b@x>", "anna@x"});
  EXPECT_EQ(e.Items(), (Strings{"anna@x", "zed@x", "Борис <b@x>"}));
  for (const char* present : {"   ", "  ZED@X ", "БОРИС <B@X>"}) {
    e.Edit = present;
    e.Add();
  }
  EXPECT_EQ(e.Items().size(), 3u);
  EXPECT_EQ(e.Selected(), 2);
  e.Edit = " bob@x ";
  e.Add();
  EXPECT_EQ(e.Items(), (Strings{"anna@x", "bob@x", "zed@x", "Борис <b@x>"}));
  e.Select(-1);
  e.Change();
  e.Remove();
  EXPECT_EQ(e.Items().size(), 4u);
  e.Select(2);
  e.Change();  // "zed@x" into the edit field, the one before it selected
  EXPECT_EQ(e.Edit, "zed@x");
  EXPECT_EQ(e.Selected(), 1);
  e.Select(0);
  e.Remove();
  EXPECT_EQ(e.Result(), (Strings{"bob@x", "Борис <b@x>"}));
  EXPECT_TRUE(IsBlacklisted(e.Result(), "БОРИС <B@X>"));
  EXPECT_FALSE(IsBlacklisted(e.Result(), "Борис Ив. <b@x>"));
}

TEST(DeferredDeletion, MarksToggleAndTheSenderJoinsTheBlacklistAsShown) {
  test::ViewerRig rig;
  rig.Add("W", "w", "p", 110);
  test::AddHead(rig.s, 0, "1@x", "spam@x", "a", " 1 байт", "");
  test::AddHead(rig.s, 0, "2@x", "SPAM@X", "b", " 1 байт", "");
  test::AddHead(rig.s, 0, "3@x", "Анна <a@x>", "c", " 1 байт", "", TCodePage::UTF8);
  rig.s.Black = {"spam@x"};
  rig.viewer.Show(0);
  rig.viewer.SelectRecord(2);
  rig.viewer.DelBlackClick();
  EXPECT_TRUE(rig.Conf(0).Heads[0].DeleteNext && rig.Conf(0).Heads[1].DeleteNext);
  EXPECT_FALSE(rig.Conf(0).Heads[2].DeleteNext);
  rig.viewer.DelBlackClick();
  EXPECT_FALSE(rig.Conf(0).Heads[0].DeleteNext || rig.Conf(0).Heads[1].DeleteNext);

  rig.viewer.AddSenderToBlacklist();
  rig.viewer.AddSenderToBlacklist();  // no duplicate test, as the command always did
  EXPECT_EQ(rig.s.Black, (Strings{"spam@x", "Анна <a@x>", "Анна <a@x>"}));
  test::Settings reloaded(rig.dir, false);
  EXPECT_EQ(reloaded.s.Black.size(), 3u);  // saved at once
}

// Deletion at once hands the server work the blacklisted rows (the sender as shown,
// letter case ignored); without a connection nothing is asked of the server.
TEST(ImmediateDeletion, BlacklistedRowsGoToTheServerOnlyWithAConnection) {
  struct Services : test::RigServices {
    using RigServices::RigServices;
    bool EnsureConnection() override { return online; }
    std::vector<std::string> RefreshHeaders(int32_t, const std::vector<tmailhead>& c) override {
      for (const tmailhead& h : c)
        chosen.push_back(h.MessageID);
      return {};
    }
    bool online = false;
    Strings chosen;
  };
  test::ViewerRig rig;
  Services services(rig.check);
  TMailViewer viewer(rig.s, rig.pop, services, rig.shown, rig.temp.str());
  rig.Add("W", "w", "p", 110);
  rig.s.delType = true;
  test::AddHead(rig.s, 0, "1@x", "spam@x", "a", " 1 байт", "");
  test::AddHead(rig.s, 0, "2@x", "ok@x", "b", " 1 байт", "");
  test::AddHead(rig.s, 0, "3@x", "SPAM@X", "c", " 1 байт", "");
  rig.s.Black = {"spam@x"};
  viewer.Show(0);
  viewer.DelBlackClick();
  EXPECT_TRUE(services.chosen.empty());
  EXPECT_EQ(rig.Conf(0).HeadCount, 3);
  services.online = true;
  viewer.DelBlackClick();
  std::sort(services.chosen.begin(), services.chosen.end());
  EXPECT_EQ(services.chosen, (Strings{"1@x", "3@x"}));
  EXPECT_FALSE(rig.Conf(0).Heads[0].DeleteNext);  // nothing marked for the next check
}

}  // namespace
}  // namespace vigilo
