// The about window and its version check (also against a real HTTP server), and the new-mail
// notice as a window (offscreen).

#include <gtest/gtest.h>

#include <QBitmap>
#include <QLabel>
#include <QTextEdit>
#include <atomic>
#include <functional>

#include "core/about.h"
#include "core/ui/Mail.h"
#include "core/ui/visual.h"
#include "tests/core/gui_app.h"
#include "tests/support/http_server.h"
#include "tests/support/scripted_server.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

using namespace test;

struct Gui : ::testing::Test {
  void SetUp() override { GuiApp(); }
};

TEST_F(Gui, NoticeIsShapedToItsWordsAndTwoQuickNoticesLeaveNothingOnScreen) {
  TVF vf;
  const QRegion shape = vf.mask();
  ASSERT_FALSE(shape.isEmpty());
  // Only letters: a part of the band the words are drawn in, nothing of the rest.
  EXPECT_LT(shape.boundingRect().width(), vf.TextWidth() + 2);
  EXPECT_GE(shape.boundingRect().left(), 30);
  EXPECT_LT(shape.boundingRect().bottom(), 97);

  vf.Go();
  ASSERT_TRUE(vf.isVisible());
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  EXPECT_EQ(vf.y(), screen.bottom() + 1);
  EXPECT_EQ(vf.x() + 30 + vf.TextWidth(), screen.right() + 1);
  ASSERT_TRUE(SpinUntil([&] { return vf.Motion.Lift() >= 10; }));
  const int lift = vf.Motion.Lift();
  vf.Go();  // a second notice meanwhile is dropped, not restarted
  EXPECT_GE(vf.Motion.Lift(), lift);
  // Measured after every step: the top is held for one step only, which a loaded machine's
  // event loop may not show between two polls.
  int highest = 0;
  QObject::connect(vf.StepTimer, &QTimer::timeout,
                   [&] { highest = std::max(highest, screen.bottom() + 1 - vf.y()); });
  ASSERT_TRUE(SpinUntil([&] { return !vf.isVisible(); }));
  EXPECT_EQ(highest, TNoticeMotion::kRise);
  EXPECT_FALSE(vf.StepTimer->isActive());
  vf.Go();  // and a later one runs again
  EXPECT_TRUE(vf.isVisible());
}

TEST_F(Gui, AboutWindowSplashScrollKeysAndClose) {
  TForm1 form("1.4.1", "/proc/self/exe", "");
  EXPECT_FALSE(form.Version);              // no address: no request
  EXPECT_FALSE(form.Label5->isEnabled());  // no publisher, no home page

  form.Splash(50);
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(form.ScrollTimer->isActive());  // no scrolling during the splash

  form.show();
  ASSERT_TRUE(form.ScrollTimer->isActive());
  const int bottom = form.Panel1->height() - 5;
  EXPECT_EQ(form.Memo2->y(), bottom);
  ASSERT_TRUE(SpinUntil([&] { return form.Memo2->y() <= bottom - 2; }));
  Key(form.Memo1, Qt::Key_Escape);  // keys reach the window from its controls
  EXPECT_FALSE(form.isVisible());
  EXPECT_FALSE(form.ScrollTimer->isActive());  // hidden, it costs nothing

  form.show();
  EXPECT_EQ(form.Memo2->y(), bottom);  // from the bottom again
  QString opened;
  form.OpenUrl = [&](const QString& url) { opened = url; };
  Click(form.Label4);
  EXPECT_EQ(opened, "mailto:brenna@example.org");
  Click(form.Image1);
  EXPECT_FALSE(form.isVisible());

  // Dragging by a link or by the close picture moves the window, opens and closes nothing.
  form.show();
  opened.clear();
  const QPoint before = form.pos();
  for (QWidget* handle : {static_cast<QWidget*>(form.Label4), static_cast<QWidget*>(form.Image1)})
    Click(handle, QPointF(30, 20));
  EXPECT_EQ(form.pos(), before + QPoint(60, 40));
  EXPECT_TRUE(form.isVisible());
  EXPECT_TRUE(opened.isEmpty());  // a drag that starts on a link opens nothing

  bool closed = false;
  QObject::connect(&form, &TForm1::MainWindowClosed, [&] { closed = true; });
  form.show();
  form.close();
  EXPECT_TRUE(closed);
}

// Against a real HTTP server: the info text shows as plain text, and a missing version
// document (404) leaves the version's place as it was.
TEST_F(Gui, AboutWindowShowsTheFetchedTextsAsPlainText) {
  TempDir dir;
  WriteFile(dir.path() / "project/vigilo/info.txt", "<i>один</i>\r\nдва\r\n");
  ServerProcess http;
  const int port = StartHttpServer(http, dir.str());
  TForm1 form("1.0", "/proc/self/exe", "http://127.0.0.1:" + std::to_string(port));
  EXPECT_TRUE(form.Label5->isEnabled());
  ASSERT_TRUE(SpinUntil([&] { return form.Memo2Lines() == 2; }));
  ASSERT_TRUE(form.Version->WaitDone(60000));
  QCoreApplication::processEvents();
  EXPECT_EQ(form.Memo1->toPlainText().toStdString(), kVersionPending);
  EXPECT_EQ(form.Memo2->text(), "<i>один</i>\nдва");
  EXPECT_EQ(form.Memo2->textFormat(), Qt::PlainText);
}

TEST_F(Gui, EndingTheProgramCancelsASilentVersionFetch) {
  // A server that accepts and then says nothing for longer than any test runs: the
  // owner going away must not wait for the fetch's own time limit.
  ScriptedServer silent({Sleep(600000)});
  std::atomic<int> texts = 0;
  {
    TVersion version(
        "http://127.0.0.1:" + std::to_string(silent.Port()),
        [&](TVersion::Which, std::vector<std::string>) { ++texts; }, 600);
    ASSERT_TRUE(SpinUntil([&] { return silent.Connections() > 0; }));
    EXPECT_FALSE(version.WaitDone(0));
  }  // returns once the fetch is canceled
  EXPECT_EQ(texts, 0);
}

}  // namespace
}  // namespace vigilo
