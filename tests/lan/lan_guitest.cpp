#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>

#include <QComboBox>
#include <QCoreApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTreeWidget>

#include "config/inifile.h"
#include "core/ui/trayicon.h"
#include "lan/ui/chat_form.h"
#include "tests/core/gui_app.h"
#include "tests/lan/chat_fixture.h"
#include "tests/lan/lan_client.h"
#include "tests/support/fake_sound.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

using test::SpinUntil;

class Messenger : public ::testing::Test {
 protected:
  Messenger() {
    test::GuiApp();
    Form7Options options;
    options.Port = 0;
    options.VgIni = dir.str() + "vg.ini";
    options.Sound = &sound;
    options.SoundName = [] { return std::string("bell"); };
    options.Network = &network;
    form = std::make_unique<TForm7>(options);
    form->OnMessage = [this](const std::string& text) { boxes.push_back(text); };
    form->Chat().Now = [] { return std::string("06.12.2026 20:19:00"); };
    form->Chat().ComputerName = [] { return std::string("ЭТОТ"); };
  }
  // Sends a frame to the window's listener as another computer would.
  void Receive(const std::string& from, const std::string& text) {
    test::Post(form->Chat().LanMsgServ1.BoundPort(), from, text);
  }
  QFont RowFont(int row) {
    return form->GridModel->data(form->GridModel->index(row, 3), Qt::FontRole).value<QFont>();
  }

  test::TempDir dir;
  test::FakeSoundPlayer sound;
  test::FixedNeighbourhood network;
  std::vector<std::string> boxes;
  std::unique_ptr<TForm7> form;
};

// Received rows stay bold until selected and the tray blinks while the window is hidden;
// the grid's menu replies to a row's sender.
TEST_F(Messenger, ReceivedMessagesAreLoggedBoldUntilSelectedAndRepliedTo) {
  ASSERT_TRUE(form->ListenError().empty());
  form->GridMenuPopup();
  EXPECT_FALSE(form->N1->isEnabled());
  EXPECT_FALSE(form->N2->isEnabled());
  // The peer's exchange pumps this thread's events, so the handler runs meanwhile.
  Receive("Алексей", "Привет");
  ASSERT_TRUE(SpinUntil([&] { return form->Chat().Rows[0].Marker == "2"; }));
  EXPECT_EQ(form->GridModel->data(form->GridModel->index(0, 1), Qt::DisplayRole).toString(),
            QString::fromUtf8("Алексей"));
  EXPECT_TRUE(RowFont(0).bold());
  EXPECT_TRUE(form->TrayIcon1->CycleIcons());

  Receive("Алексей", "");  // a probe
  Receive("Борис", "раз\r\nдва\r\nтри");
  ASSERT_TRUE(SpinUntil([&] { return form->GridModel->rowCount() == 2; }));
  EXPECT_EQ(form->grid->rowHeight(1), form->grid->fontMetrics().height() * 3 + 4);
  EXPECT_EQ(form->grid->rowHeight(0), 17);
  form->grid->setCurrentIndex(form->GridModel->index(1, 0));
  EXPECT_FALSE(RowFont(1).bold());
  EXPECT_TRUE(RowFont(0).bold());

  form->TrayIcon1Click();
  EXPECT_TRUE(form->isVisible());
  EXPECT_FALSE(form->TrayIcon1->CycleIcons());
  ASSERT_TRUE(SpinUntil([&] { return form->Chat().LocalName == "ЭТОТ"; }));
  form->grid->setCurrentIndex(form->GridModel->index(0, 3));
  form->GridMenuPopup();
  EXPECT_TRUE(form->N1->isEnabled());
  EXPECT_EQ(form->N2->text(), QString::fromUtf8("Ответить отправителю"));
  form->N1->trigger();
  EXPECT_EQ(form->host->currentText(), QString::fromUtf8("Алексей"));
  EXPECT_EQ(form->msg->toPlainText(), QString::fromUtf8("Re:Привет"));
  form->N2->trigger();
  form->N2->trigger();
  EXPECT_EQ(form->host->count(), 1);
}

TEST_F(Messenger, SendsLogsOnceAndExplainsFailures) {
  std::mutex gotMutex;  // before the peer: its threads write here until it stops
  std::vector<std::string> got;
  TLanMsgServ peer(0);
  peer.OnMSG = [&](const std::string& from, const std::string& msg) {
    std::lock_guard<std::mutex> lock(gotMutex);
    got.push_back(from + ":" + msg);
  };
  ASSERT_EQ(peer.Listen(), "");
  network.Groups = {{"WG", {"127.0.0.1"}}};
  form->show();
  ASSERT_TRUE(SpinUntil([&] { return form->TreeView1->topLevelItemCount() == 1; }));
  form->Chat().LanMsg1.Port = peer.BoundPort();

  // Clicking a computer probes it and takes it as recipient; the probe is not logged.
  QTreeWidgetItem* computer = form->TreeView1->topLevelItem(0)->child(0);
  emit form->TreeView1->itemClicked(computer, 0);
  EXPECT_EQ(form->host->currentText(), "127.0.0.1");
  EXPECT_EQ(form->Chat().Tree[0].Computers[0].Image, kComputerAnswered);

  for (int i = 0; i < 2; ++i) {
    form->msg->setPlainText(QString::fromUtf8("строка 1\nстрока 2"));
    form->BitBtn1->click();
  }
  EXPECT_TRUE(boxes.empty());
  ASSERT_EQ(form->GridModel->rowCount(), 2);
  EXPECT_EQ(form->Chat().Rows[1].Marker, "0");
  EXPECT_EQ(form->host->count(), 1);
  EXPECT_TRUE(form->msg->toPlainText().isEmpty());
  ASSERT_TRUE(SpinUntil([&] {
    std::lock_guard<std::mutex> lock(gotMutex);
    return got.size() == 3;
  }));
  peer.Stop();  // nothing listens at the recipient any more
  // The probe's empty frame and the two messages may reach the handler in any order.
  EXPECT_EQ(std::count(got.begin(), got.end(), "ЭТОТ:строка 1\r\nстрока 2"), 2);

  form->msg->setPlainText("again");
  form->BitBtn1->click();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], "Отправить сообщение 127.0.0.1 невозможно. Проверьте адрес.");
  EXPECT_EQ(form->msg->toPlainText(), "again");
  form->BitBtn2->click();  // a probe run marks the silent computer
  EXPECT_EQ(form->Chat().Tree[0].Computers[0].Image, kComputerSilent);
}

TEST_F(Messenger, KeepsItsPlaceAndReportsATakenPort) {
  form->show();
  form->move(40, 50);
  form->resize(500, 300);
  form->hide();
  IniFile ini(dir.str() + "vg.ini");
  EXPECT_EQ(ini.ReadInteger("SendPopup", "Width", 0), 500);
  EXPECT_EQ(ini.ReadInteger("SendPopup", "Height", 0), 300);

  Form7Options options;
  options.Port = form->Chat().LanMsgServ1.BoundPort();
  options.Network = &network;
  TForm7 second(options);
  EXPECT_FALSE(second.ListenError().empty());
  EXPECT_FALSE(second.ListenStatus->isHidden());
  EXPECT_TRUE(second.ListenStatus->text().contains(QString::number(options.Port)));
}

}  // namespace
}  // namespace vigilo
