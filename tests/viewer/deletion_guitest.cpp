// The viewer window's delete button with immediate deletion on, against a real Dovecot:
// rows picked with Ctrl+click go from the server and from the grid.

#include <gtest/gtest.h>

#include <QAction>
#include <QMouseEvent>
#include <QTableView>
#include <algorithm>
#include <string>
#include <vector>

#include "core/refresh.h"
#include "tests/core/gui_app.h"
#include "tests/support/dovecot.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/model/headsmodel.h"
#include "viewer/ui/form2.h"

namespace vigilo {
namespace {

// The server work of an immediate deletion as the program wires it.
class DeletingServices : public test::RigServices {
 public:
  DeletingServices(TCheckCycle& check, tusers& s, ms::TmsPOPClient& pop)
      : RigServices(check), check_(check), s_(s), pop_(pop) {}
  std::vector<std::string> RefreshHeaders(int32_t conf,
                                          const std::vector<tmailhead>& chosen) override {
    if (!check_.PopLogin(conf)) return {};
    return RefreshHeads(s_, conf, pop_, chosen);
  }

 private:
  TCheckCycle& check_;
  tusers& s_;
  ms::TmsPOPClient& pop_;
};

struct AppFirst {
  AppFirst() { test::GuiApp(); }
};

struct DeletionRig : AppFirst, test::CheckRig {
  test::DovecotServer server{{"work", "workpw"}};
  test::TempDir temp;
  DeletingServices services{check, s, pop};
  TForm2 form{s, pop, services, temp.str(), (dir.path() / "vg.ini").string(), nullptr};
  std::vector<std::string> informed;

  explicit DeletionRig(const std::vector<std::string>& subjects) {
    for (const std::string& name : subjects)
      server.AddMessage("work", "From: s@x\nTo: work@x\nSubject: " + name + "\nMessage-ID: <" +
                                    name + "@x>\n\n" + name + "\n");
    Add("Work", "work", "workpw", server.Pop3Port());
    s.delType = true;
    form.OnInform = [this](const std::string& text) { informed.push_back(text); };
    check.StartCheck();
    form.ShowConf(0);
  }
  // The subjects the grid shows, in order.
  std::vector<std::string> Grid() {
    std::vector<std::string> out;
    THeadsModel& m = form.Model();
    for (int row = 0; row < m.rowCount(); ++row)
      out.push_back(m.data(m.index(row, 1)).toString().toStdString());
    return out;
  }
  // The one-letter body (the name) of every message left on the server, sorted.
  std::vector<std::string> Left() const {
    std::vector<std::string> out;
    for (const std::string& m : server.Messages("work"))
      out.push_back(m.substr(m.find("\n\n") + 2, 1));
    std::sort(out.begin(), out.end());
    return out;
  }
  // Ctrl+click on the row that shows `subject`.
  void Pick(const std::string& subject) {
    const std::vector<std::string> grid = Grid();
    const auto at = std::find(grid.begin(), grid.end(), subject);
    ASSERT_NE(at, grid.end()) << subject;
    const QModelIndex index = form.Model().index(static_cast<int>(at - grid.begin()), 1);
    const QPointF point = form.sgd->visualRect(index).center();
    QWidget* viewport = form.sgd->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, point, viewport->mapToGlobal(point), Qt::LeftButton,
                      Qt::LeftButton, Qt::ControlModifier);
    QCoreApplication::sendEvent(viewport, &press);
  }
};

TEST(ViewerDeletion, PickedRowsGoFromServerAndGridUntilNoneIsLeft) {
  DeletionRig rig({"a", "b", "c", "d", "e"});
  ASSERT_TRUE(rig.form.isVisible());
  ASSERT_EQ(rig.Grid().size(), 5u);
  rig.Pick("b");
  rig.Pick("d");
  rig.Pick("e");
  rig.Pick("e");  // a second Ctrl+click lets it go again
  rig.form.BitBtn1->trigger();
  EXPECT_EQ(rig.Left(), (std::vector<std::string>{"a", "c", "e"}));
  std::vector<std::string> grid = rig.Grid();
  std::sort(grid.begin(), grid.end());
  EXPECT_EQ(grid, (std::vector<std::string>{"a", "c", "e"}));
  EXPECT_TRUE(rig.form.isVisible());
  EXPECT_TRUE(rig.informed.empty());

  // Nothing picked: the current row goes; the last one closes the window.
  for (int left = 3; left > 0; --left) {
    rig.form.BitBtn1->trigger();
    EXPECT_EQ(rig.Left().size(), static_cast<std::size_t>(left - 1));
  }
  EXPECT_EQ(rig.Grid().size(), 0u);
  EXPECT_FALSE(rig.form.isVisible());
  EXPECT_EQ(rig.informed, (std::vector<std::string>{"Больше сообщений нет"}));
}

}  // namespace
}  // namespace vigilo
