// The compose window and the address book window offscreen: the boxes before a send,
// the unsent-message question, the attachment buttons and the book's buttons.

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <cstdlib>
#include <filesystem>

#include "compose/ui/form8.h"
#include "compose/ui/form9.h"
#include "tests/core/check_fixture.h"
#include "tests/core/gui_app.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

struct ComposeGui : ::testing::Test {
  ComposeGui() {
    tuser& u = st.Add("Работа", "work", "pw", 110);
    u.Adress = " work@example.test ";
    u.SMTPHost = "127.0.0.1";
    form8.Inform = [this](const QString& t) { boxes.push_back(t.toStdString()); };
    form8.Ask = [this](const QString& t) {
      boxes.push_back("?" + t.toStdString());
      return answer;
    };
  }
  QApplication& app = test::GuiApp();  // before any widget
  test::TempDir dir;
  test::Settings st{dir};
  TForm9 form9{dir.str(), dir.str() + "vg.ini"};
  TForm8 form8{st.s, form9, dir.str() + "vg.ini"};
  std::vector<std::string> boxes;
  bool answer = false;
};

TEST_F(ComposeGui, BoxesBeforeSendingAndTheQueuedMessage) {
  form8.SendMessage(0, "Алиса <alice@example.test>", "  Re: тема ");
  EXPECT_EQ(form8.from->currentText() + "|" + form8.sendtoname->text() + "|" +
                form8.sendto->text() + "|" + form8.subject->text(),
            "work@example.test|Алиса|alice@example.test|Re: тема");

  form8.BitBtn1Click();  // empty text, no attachment
  form8.subject->clear();
  form8.messg->setPlainText("текст");
  form8.BitBtn1Click();  // empty subject: asks, Cancel stops
  ASSERT_EQ(boxes,
            (std::vector<std::string>{kEmptyMessage, std::string("?") + kEmptySubjectQuestion}));
  EXPECT_FALSE(fs::exists(st.s.Conf[0].OutDir));  // nothing queued yet

  boxes.clear();
  answer = true;  // OK: queued (delType is off), hidden without the question
  form8.BitBtn1Click();
  EXPECT_EQ(boxes,
            (std::vector<std::string>{std::string("?") + kEmptySubjectQuestion, kQueuedText}));
  EXPECT_FALSE(form8.isVisible());
  EXPECT_TRUE(form8.BitBtn1->isEnabled());
  EXPECT_EQ(std::distance(fs::directory_iterator(st.s.Conf[0].OutDir), fs::directory_iterator()),
            1);
}

TEST_F(ComposeGui, UnsentQuestionAndAttachmentButtons) {
  const fs::path file = dir.path() / "файл.bin";
  test::WriteFile(file, std::string(1234, 'x'));
  form8.SendMessage(0, "", "");
  EXPECT_FALSE(form8.bdel->isEnabled());
  form8.AddAttachment(file.string());
  form8.AddAttachment((dir.path() / "missing").string());  // not there: no row
  ASSERT_EQ(form8.ListView1->topLevelItemCount(), 1);
  EXPECT_EQ(form8.ListView1->topLevelItem(0)->text(1), "1234");
  EXPECT_TRUE(form8.bdel->isEnabled());
  form8.ListView1->setCurrentItem(form8.ListView1->topLevelItem(0));
  form8.bdelClick();
  EXPECT_EQ(form8.ListView1->topLevelItemCount(), 0);
  EXPECT_FALSE(form8.bdel->isEnabled());

  // Closing asks; Cancel keeps the window.
  answer = false;
  EXPECT_FALSE(form8.close());
  EXPECT_TRUE(form8.isVisible());
  answer = true;
  EXPECT_TRUE(form8.close());
  EXPECT_FALSE(form8.isVisible());
  EXPECT_EQ(boxes.size(), 2u);
}

TEST_F(ComposeGui, AddressBookButtonsAddPickAndSave) {
  test::WriteFile(dir.path() / "adrBook.txt", "b@x\r\nАнна <a@x>\r\n");
  form9.show();
  ASSERT_EQ(form9.ListBox1->count(), 2);
  form9.Edit1->setText("c@x");
  form9.Button1Click();
  EXPECT_EQ(form9.ListBox1->currentItem()->text(), "c@x");
  form9.Button3Click();
  EXPECT_EQ(form9.result(), QDialog::Accepted);
  EXPECT_EQ(form9.SelectedAddress(), "c@x");
  EXPECT_EQ(test::ReadFile(dir.path() / "adrBook.txt"), "b@x\r\nc@x\r\nАнна <a@x>\r\n");
}

// The README's picture (scripts/screenshot-compose): only when a file is named.
TEST_F(ComposeGui, Screenshot) {
  const char* out = std::getenv("VIGILO_COMPOSE_SCREENSHOT");
  if (!out) GTEST_SKIP() << "VIGILO_COMPOSE_SCREENSHOT names no file";
  test::WriteFile(dir.path() / "Отчёт за ноябрь.pdf", std::string(48213, 'x'));
  test::WriteFile(dir.path() / "фото.jpg", std::string(1520344, 'x'));
  form8.SendMessage(0, "Анна Петрова <anna@example.test>", "Отчёт за ноябрь");
  form8.AddAttachment((dir.path() / "Отчёт за ноябрь.pdf").string());
  form8.AddAttachment((dir.path() / "фото.jpg").string());
  form8.messg->setPlainText(
      "Добрый день, Анна!\n\nОтчёт за ноябрь и фотографии со стенда во вложении.\n\n"
      "С уважением,\nОтдел продаж");
  form8.resize(600, 460);
  QApplication::processEvents();
  ASSERT_TRUE(form8.grab().save(QString::fromUtf8(out)));
}

}  // namespace
}  // namespace vigilo
