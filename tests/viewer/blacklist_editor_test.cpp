// The blacklist editor's working copy and the viewer's deferred deletion marks.

#include <gtest/gtest.h>

#include "tests/viewer/viewer_fixture.h"
#include "viewer/blackedit.h"
#include "viewer/blacklist.h"

namespace vigilo {
namespace {

using Strings = std::vector<std::string>;

TEST(BlackEditor, SortedDuplicatesBlankEntriesAndSelection) {
  TBlackEditor e({"zed@x", "Борис <b@x>", "anna@x", "алла <a@x>"});
  EXPECT_EQ(e.Items(), (Strings{"anna@x", "zed@x", "алла <a@x>", "Борис <b@x>"}));

  e.Edit = "  ZED@X ";  // already there, letter case aside: selected, not added
  e.Add();
  EXPECT_EQ(e.Items().size(), 4u);
  EXPECT_EQ(e.Selected(), 1);
  e.Edit = "БОРИС <B@X>";  // Cyrillic letters fold too
  e.Add();
  EXPECT_EQ(e.Selected(), 3);
  e.Edit = "   ";  // blanks only: no empty entry, which would match every sender-less mail
  e.Add();
  EXPECT_EQ(e.Items().size(), 4u);
  e.Edit = " bob@x ";
  e.Add();
  EXPECT_EQ(e.Items(), (Strings{"anna@x", "bob@x", "zed@x", "алла <a@x>", "Борис <b@x>"}));
  EXPECT_EQ(e.Edit, "");

  e.Select(-1);  // nothing selected: "Изм" and "Удал" do nothing
  e.Change();
  e.Remove();
  EXPECT_EQ(e.Items().size(), 5u);
  e.Select(2);
  e.Change();  // "zed@x" into the edit field, the one before it selected
  EXPECT_EQ(e.Edit, "zed@x");
  EXPECT_EQ(e.Selected(), 1);
  e.Select(0);
  e.Remove();
  EXPECT_EQ(e.Selected(), 0);
  EXPECT_EQ(e.Result(), (Strings{"bob@x", "алла <a@x>", "Борис <b@x>"}));
  EXPECT_TRUE(IsBlacklisted(e.Result(), "АЛЛА <A@X>"));
  EXPECT_FALSE(IsBlacklisted(e.Result(), "Алла Ивановна <a@x>"));
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
  rig.viewer.DelOneClick();
  EXPECT_TRUE(rig.Conf(0).Heads[2].DeleteNext);
  rig.viewer.DelOneClick();  // a second click unmarks
  EXPECT_FALSE(rig.Conf(0).Heads[2].DeleteNext);
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

}  // namespace
}  // namespace vigilo
