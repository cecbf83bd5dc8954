// The header list model through its roles, and the viewer window offscreen.

#include <gtest/gtest.h>

#include <QAction>
#include <QColor>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPrinter>
#include <QTableView>
#include <QTextEdit>
#include <QToolButton>
#include <filesystem>

#include "tests/core/gui_app.h"
#include "tests/viewer/iconv_helper.h"
#include "tests/viewer/viewer_fixture.h"
#include "viewer/mailstore.h"
#include "viewer/model/headsmodel.h"
#include "viewer/msgstore.h"
#include "viewer/ui/form2.h"
#include "viewer/ui/form6.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;
using test::AddHead;

QString Text(const QAbstractItemModel& m, int row, int col, int role = Qt::DisplayRole) {
  return m.data(m.index(row, col), role).toString();
}
QRgb Rgb(const QAbstractItemModel& m, int row, int role) {
  return m.data(m.index(row, 0), role).value<QColor>().rgb();
}

TEST(HeadsModel, RowStatesShowApartPrefixAndHint) {
  test::GuiApp();
  test::TempDir dir;
  test::Settings st(dir);
  st.Add("W", "w", "p", 110);
  tusers& s = st.s;
  s.Black = {"SPAM <s@x>"};
  AddHead(s, 0, "plain@x", "anna <a@x>", "Hello", " 900 байт", "");
  AddHead(s, 0, "black@x", "spam <S@X>", "Buy", " 1 байт", "");  // letter case ignored
  AddHead(s, 0, "stored@x", "Boris <b@x>", "Files", " 2 байт", "");
  test::WriteFile(MessageFilePath(s.Conf[0].InDir, "stored@x"), "x");
  THeadsModel m(s);
  m.SetConf(0);
  ASSERT_EQ(m.rowCount(), 3);
  EXPECT_TRUE(m.AnyBlacklisted());
  EXPECT_TRUE(m.data(m.index(0, 0), THeadsModel::BoldRole).toBool());  // not downloaded
  EXPECT_FALSE(m.data(m.index(2, 0), THeadsModel::BoldRole).toBool());
  // Marked for deletion, a blacklisted row stands out and says so, the sender in the hint.
  s.Conf[0].Heads[1].DeleteNext = true;
  m.SetCurrentRecord(2);
  m.RefreshRecord(1);
  EXPECT_NE(Rgb(m, 1, Qt::ForegroundRole), Rgb(m, 0, Qt::ForegroundRole));
  EXPECT_EQ(Text(m, 1, 0), "ДЛЯ УДАЛЕНИЯ:spam <S@X>");
  EXPECT_EQ(Text(m, 1, 0, Qt::ToolTipRole), "spam <S@X>");
  // A row picked with Ctrl+click looks apart from the current one and from the others.
  s.Conf[0].Heads[0].Marked = true;
  m.RefreshRecord(0);
  EXPECT_NE(Rgb(m, 0, Qt::BackgroundRole), Rgb(m, 2, Qt::BackgroundRole));
  EXPECT_NE(Rgb(m, 0, Qt::BackgroundRole), Rgb(m, 1, Qt::BackgroundRole));
}

struct AppFirst {
  AppFirst() { test::GuiApp(); }
};
struct WindowRig : AppFirst, test::ViewerRig {
  TForm2 form{s, pop, services, temp.str(), (dir.path() / "vg.ini").string(), nullptr};
};

TEST(ViewerWindow, CodePageCommandsSortingAndPrintingToPdf) {
  WindowRig rig;
  rig.Add("Work", "work", "pw", 110);
  fs::create_directories(rig.Conf(0).InDir);
  const std::string koi = *test::Iconv("Отчёт за неделю", "UTF-8", "KOI8-R");
  AddHead(rig.s, 0, "r@x", "Boss <b@x>", koi, " 1200 байт", "Mon, 7 Dec 2026 10:00:00 +0000");
  AddHead(rig.s, 0, "q@x", "Anna <a@x>", "Lunch", " 900 байт", "Sun, 6 Dec 2026 10:00:00 +0000");
  test::WriteFile(MessageFilePath(rig.Conf(0).InDir, "r@x"),
                  "From: b@x\r\nMessage-ID: <r@x>\r\n\r\n" + koi + "\r\n");
  std::vector<std::string> asked;
  rig.form.OnAsk = [&asked](const std::string& q) {
    asked.push_back(q);
    return false;
  };
  rig.form.ShowConf(0);
  THeadsModel& m = rig.form.Model();
  EXPECT_EQ(Text(m, 0, 5), "q@x");  // "Дата" ascending
  rig.form.sgd->setCurrentIndex(m.index(1, 0));
  EXPECT_EQ(rig.form.Viewer().Current(), 1);

  rig.form.Viewer().SetCodePage(TCodePage::KOI8R);
  EXPECT_EQ(Text(m, 1, 1), "Отчёт за неделю");
  EXPECT_EQ(rig.form.memo1->toPlainText(), "Отчёт за неделю");
  rig.form.MainMenuPopup();
  for (QAction* a : rig.form.PopupMenu11->actions())
    EXPECT_EQ(a->isChecked(), a->text() == "KOI8-R");

  const fs::path pdf = rig.dir.path() / "out.pdf";
  QPrinter printer;
  printer.setOutputFileName(QString::fromStdString(pdf.string()));  // PDF by its extension
  rig.form.PrintTo(printer);
  EXPECT_EQ(test::ReadFile(pdf).substr(0, 5), "%PDF-");

  rig.form.close();  // the choice goes to info.txt
  EXPECT_NE(test::ReadFile(fs::path(rig.Conf(0).InDir) / "info.txt").find("r@x\r\nkoi8r"),
            std::string::npos);
  EXPECT_NE(test::ReadFile(rig.dir.path() / "vg.ini").find("[ViewMess]"), std::string::npos);
  EXPECT_TRUE(asked.empty());
}

TEST(BlacklistWindow, OkStoresTheSortedListAndClosingOtherwiseDiscards) {
  test::GuiApp();
  test::TempDir dir;
  test::Settings st(dir);
  st.s.Black = {"b@x"};
  st.Save();
  TForm6 form(st.s, (dir.path() / "vg.ini").string());
  form.show();
  form.Edit1->setText("a@x");
  form.Button1Click();
  EXPECT_EQ(form.ListBox1->count(), 2);
  form.reject();  // the title-bar button
  EXPECT_EQ(st.s.Black, (std::vector<std::string>{"b@x"}));

  form.show();  // a fresh copy
  EXPECT_EQ(form.ListBox1->count(), 1);
  form.Edit1->setText("C@x");
  form.Button1Click();
  form.Edit1->setText("a@x");
  form.Button1Click();
  form.Button3Click();
  EXPECT_EQ(st.s.Black, (std::vector<std::string>{"a@x", "b@x", "C@x"}));
  test::Settings reloaded(dir, false);
  EXPECT_EQ(reloaded.s.Black.size(), 3u);
  EXPECT_NE(test::ReadFile(dir.path() / "vg.ini").find("[BlackBook]"), std::string::npos);
}

}  // namespace
}  // namespace vigilo
