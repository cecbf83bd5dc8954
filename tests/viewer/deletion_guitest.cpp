// The viewer window's delete button with immediate deletion on, against a real Dovecot:
// rows picked with Ctrl+click go from the server and from the grid.

#include <gtest/gtest.h>

#include <QAction>
#include <QMouseEvent>
#include <QTableView>
#include <algorithm>
#include <string>
#include <vector>

#include "tests/core/gui_app.h"
#include "tests/support/dovecot.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/model/headsmodel.h"
#include "viewer/ui/form2.h"

namespace vigilo {
namespace {

using Strings = std::vector<std::string>;

struct AppFirst {
  AppFirst() { test::GuiApp(); }
};

struct DeletionRig : AppFirst, test::CheckRig {
  test::DovecotServer server{{"work", "workpw"}};
  test::TempDir temp;
  test::RigServices services{*this};
  TForm2 form{s, pop, services, temp.str(), (dir.path() / "vg.ini").string(), nullptr};
  Strings informed;

  DeletionRig() {
    for (const char* name : {"a", "b", "c", "d", "e"})
      server.AddMessage("work", std::string("From: s@x\nTo: work@x\nSubject: ") + name +
                                    "\nMessage-ID: <" + name + "@x>\n\n" + name + "\n");
    Add("Work", "work", "workpw", server.Pop3Port());
    s.delType = true;
    form.OnInform = [this](const std::string& text) { informed.push_back(text); };
    check.StartCheck();
    form.ShowConf(0);
  }
  // The subjects the grid shows, sorted.
  Strings Grid() {
    Strings out;
    for (int row = 0; row < form.Model().rowCount(); ++row)
      out.push_back(form.Model().data(form.Model().index(row, 1)).toString().toStdString());
    std::sort(out.begin(), out.end());
    return out;
  }
  // The one-letter body (the name) of every message left on the server, sorted.
  Strings Left() const {
    Strings out;
    for (const std::string& m : server.Messages("work"))
      out.push_back(m.substr(m.find("\n\n") + 2, 1));
    std::sort(out.begin(), out.end());
    return out;
  }
  // Ctrl+click on the row that shows `subject`.
  void Pick(const std::string& subject) {
    THeadsModel& m = form.Model();
    int row = 0;
    while (row < m.rowCount() && m.data(m.index(row, 1)).toString().toStdString() != subject)
      ++row;
    ASSERT_LT(row, m.rowCount()) << subject;
    const QPointF point = form.sgd->visualRect(m.index(row, 1)).center();
    QWidget* viewport = form.sgd->viewport();
    QMouseEvent press(QEvent::MouseButtonPress, point, viewport->mapToGlobal(point), Qt::LeftButton,
                      Qt::LeftButton, Qt::ControlModifier);
    QCoreApplication::sendEvent(viewport, &press);
  }
};

TEST(ViewerDeletion, PickedRowsGoFromServerAndGridUntilNoneIsLeft) {
  DeletionRig rig;
  ASSERT_TRUE(rig.form.isVisible());
  ASSERT_EQ(rig.Grid().size(), 5u);
  for (const char* name : {"b", "d", "e", "e"})  // a second Ctrl+click lets it go again
    rig.Pick(name);
  rig.form.BitBtn1->trigger();
  EXPECT_EQ(rig.Left(), (Strings{"a", "c", "e"}));
  EXPECT_EQ(rig.Grid(), (Strings{"a", "c", "e"}));
  EXPECT_TRUE(rig.form.isVisible());
  EXPECT_TRUE(rig.informed.empty());

  // Nothing picked: the current row goes; the last one closes the window.
  for (std::size_t left = 3; left > 0; --left) {
    rig.form.BitBtn1->trigger();
    EXPECT_EQ(rig.Left().size(), left - 1);
  }
  EXPECT_EQ(rig.Grid().size(), 0u);
  EXPECT_FALSE(rig.form.isVisible());
  EXPECT_EQ(rig.informed, (Strings{"Больше сообщений нет"}));
}

}  // namespace
}  // namespace vigilo
