// Composing without widgets: recipient splitting, the body, the checks before a send,
// the queue file and the address book's rules.

#include "compose/compose.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "compose/addrbook.h"
#include "tests/support/tempdir.h"

namespace vigilo {
namespace {

namespace fs = std::filesystem;

TEST(Compose, RecipientSplitting) {
  struct Case {
    std::string text, name, address;
  };
  for (const Case& c : std::vector<Case>{
           {" Иван Петров <ivan@example.test> ", "Иван Петров", "ivan@example.test"},
           {"  bob@example.test  ", "", "bob@example.test"},
           {"<x@y>", "", "x@y"},
           {"Name <unclosed", "Name", ""},
           {"", "", ""},
       }) {
    EXPECT_EQ(ExtractDisplayName(c.text), c.name) << c.text;
    EXPECT_EQ(ExtractBracketed(c.text), c.address) << c.text;
  }
}

TEST(Compose, BodyKeepsIndentationAndInnerBlankLines) {
  EXPECT_EQ(BodyLines("\n  indented\r\n\n\tnext  \n\n  \n"),
            (std::vector<std::string>{"", "  indented", "", "\tnext"}));
  EXPECT_TRUE(BodyLines(" \n\n").empty());
}

TEST(Compose, ChecksBeforeSendingInOrder) {
  ComposeInput in{" ", "", " ", "", "", {}};
  bool ask = false;
  EXPECT_EQ(CheckComposeInput(in, ask), kNoSender);
  in.From = "me@example.test";
  EXPECT_EQ(CheckComposeInput(in, ask), kNoRecipient);
  in.To = "you@example.test";
  in.Text = " \n ";
  EXPECT_EQ(CheckComposeInput(in, ask), kEmptyMessage);
  in.Attachments = {"/some/file"};  // an attachment alone is a message
  EXPECT_EQ(CheckComposeInput(in, ask), "");
  EXPECT_TRUE(ask);
  in.Subject = "s";
  EXPECT_EQ(CheckComposeInput(in, ask), "");
  EXPECT_FALSE(ask);
}

// An attachment that vanished after it was chosen stops the send with its name; a queue
// file that cannot be written is reported.
TEST(Compose, VanishedAttachmentOrUnwritableQueueIsReported) {
  test::TempDir dir;
  tuser u;
  u.SMTPHost = "smtp.example.test";
  const std::string att = dir.str() + "вложение.txt";
  const ComposeInput in{"me@example.test", "Вы", "you@example.test", "Тема", "Текст", {att}};
  ms::TmsMessage m;
  const std::string why = BuildComposedMessage(m, in, u, "id@smtp.example.test", 1765000000);
  EXPECT_NE(why.find(att), std::string::npos) << why;

  test::WriteFile(dir.path() / "file", "x");  // a file where the folder should be
  ms::TmsMessage q;
  q.Recipients.AddItem(ms::TmsMailAddress{"", "you@example.test"});
  q.Body = {"x"};
  EXPECT_NE(WriteQueueFile(q, dir.str() + "file/out", "1"), "");
}

// Entries stay sorted and unique whatever the letter case; without a selection "Изм"
// and "Удал" do nothing; an address added from a message is appended once.
TEST(AddressBook, AddEditDeleteRulesAndAddAddressAppendsOnce) {
  test::TempDir dir;
  const std::string file = dir.str() + "adrBook.txt";
  TAddressBook book(file);
  EXPECT_FALSE(book.Add("   "));
  EXPECT_TRUE(book.Add("Борис <b@x>"));
  EXPECT_TRUE(book.Add("  alice@x  "));
  EXPECT_TRUE(book.Add("Вера <v@x>"));
  EXPECT_FALSE(book.Add("ВЕРА <V@X>"));  // selects the existing entry
  EXPECT_EQ(book.Selected(), 2);
  EXPECT_EQ(book.Entries(), (std::vector<std::string>{"alice@x", "Борис <b@x>", "Вера <v@x>"}));
  book.Select(-1);
  EXPECT_EQ(book.TakeForEdit(), "");
  book.Delete();
  EXPECT_EQ(book.Entries().size(), 3u);
  book.Select(0);
  book.Delete();
  EXPECT_EQ(book.Selected(), 0);
  book.Select(1);
  EXPECT_EQ(book.TakeForEdit(), "Вера <v@x>");
  EXPECT_EQ(book.Entries(), std::vector<std::string>{"Борис <b@x>"});
  std::string error;
  book.Select(-1);
  EXPECT_FALSE(book.Pick(error));  // nothing selected: nothing written
  EXPECT_FALSE(fs::exists(file));

  for (const char* address : {"Жанна <z@x>", "жанна <Z@x>", ""})
    ASSERT_EQ(TAddressBook::AddAddress(file, address), "");
  EXPECT_EQ(test::ReadFile(file), "Жанна <z@x>\r\n");
}

}  // namespace
}  // namespace vigilo
