#include <gtest/gtest.h>

#include "mail/msexcept.h"
#include "mail/msmsg.h"

using namespace ms;

TEST(Headers, FieldValueIsUnfoldedAndMatchedFromTheStartOfTheLine) {
  TmsHeaders h{"X-Original-Subject: wrong", "subject: Hello", "\tfolded   world  ", "From:me@x",
               "Empty:"};
  EXPECT_EQ(h.GetFieldValue("Subject"), "Hello folded   world");
  EXPECT_EQ(h.GetFieldValue("SUBJECT:"), "Hello folded   world");
  // A value written straight after the colon keeps its first character.
  EXPECT_EQ(h.GetFieldValue("from"), "me@x");
  EXPECT_EQ(h.GetFieldValue("Empty"), "");
  EXPECT_EQ(h.GetFieldValue("Missing"), "");
  EXPECT_EQ(TmsHeaders{}.GetFieldValue("Subject"), "");
}

TEST(Headers, EncodedWordsAreDecodedBeforeTheValueIsCut) {
  // A long UTF-8 subject in encoded words spread over many folded lines.
  TmsHeaders h{"Subject: =?utf-8?B?" +
               std::string("0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW") + "?="};
  for (int i = 0; i < 10; ++i)
    h.push_back(" =?utf-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW?=");
  std::string v = h.GetFieldValue("Subject");
  // 11 words of 18 characters = 396 bytes, cut to 254 so that no character is split.
  ASSERT_EQ(v.size(), 254u);
  for (std::size_t i = 0; i < v.size(); i += 2)
    EXPECT_EQ(v.substr(i, 2), "\xD0\x96");
  EXPECT_EQ(h.GetFullFieldValue("Subject").size(), 396u);
}

TEST(Headers, FieldListSplitsAtCommasOutsideQuotes) {
  TmsHeaders h{"To: \"Petrov, Ivan\" <ivan@x.ru>, anna@y.ru,",
               "  Boris <boris@z.ru>",
               "Cc: one@x",
               "Received: from a",
               "TO: late@x",
               "Tocken: not@this"};
  TmsStrings list = h.GetFieldList("TO");
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0], "\"Petrov, Ivan\" <ivan@x.ru>");
  EXPECT_EQ(list[1], "anna@y.ru");
  EXPECT_EQ(list[2], "Boris <boris@z.ru>");
  EXPECT_EQ(list[3], "late@x");
  // A byte 255 (the letter "я" in windows-1251) is not taken for a comma.
  TmsHeaders cp{"To: \"\xC2\xE0\xF1\xFF\" <v@x>"};
  EXPECT_EQ(cp.GetFieldList("To"), TmsStrings{"\"\xC2\xE0\xF1\xFF\" <v@x>"});
}

TEST(Headers, RemoveFieldTakesTheFirstFieldWithItsContinuations) {
  TmsHeaders h{"Subject: a", " b", "\tc", "To: x", "Subject: second"};
  h.RemoveField("subject");
  EXPECT_EQ(h, (TmsHeaders{"To: x", "Subject: second"}));
  h.RemoveField("Nothing");
  EXPECT_EQ(h.size(), 2u);
}

TEST(Headers, ParseHeadersFillsTheMessage) {
  TmsHeaders h{"From: \"Sidorov\" <sid@x.ru>",
               "To: a@x, \"B, b\" <b@x>",
               "Cc: c@x",
               "Bcc: d@x",
               "Subject: =?koi8-r?B?8NLJ18XU?=",
               "X-Priority: 1",
               "Return-Receipt-To: sid@x.ru"};
  TmsMessage m;
  m.ParseHeaders(h);
  EXPECT_EQ(m.Sender.Name, "Sidorov");
  EXPECT_EQ(m.Sender.Address, "sid@x.ru");
  ASSERT_EQ(m.Recipients.Count(), 2);
  EXPECT_EQ(m.Recipients.Items(1).Name, "B, b");
  EXPECT_EQ(m.CC.Items(0).Address, "c@x");
  EXPECT_EQ(m.BCC.Items(0).Address, "d@x");
  EXPECT_EQ(m.Subject, "\xF0\xD2\xC9\xD7\xC5\xD4");  // "Привет" in KOI8-R
  EXPECT_EQ(m.Priority, ptHigh);
  EXPECT_TRUE(m.ReturnReceipt);
  EXPECT_EQ(m.Headers, h);

  TmsMessage low;
  low.ParseHeaders(TmsHeaders{"X-Priority: 5"});
  EXPECT_EQ(low.Priority, ptLow);
  // Only the exact values count.
  TmsMessage normal;
  normal.Priority = ptHigh;
  normal.ParseHeaders(TmsHeaders{"X-Priority: 1 (Highest)"});
  EXPECT_EQ(normal.Priority, ptNormal);
  EXPECT_FALSE(normal.ReturnReceipt);
}

TEST(Message, ClearKeepsPriorityAndReceiptAndAssignmentCopiesEverything) {
  TmsMessage m;
  m.Sender = {"S", "s@x"};
  m.Subject = "subj";
  m.Body = {"a"};
  m.Recipients.Add("r@x");
  m.CC.Add("c@x");
  m.Priority = ptLow;
  m.ReturnReceipt = true;
  m.Encoding = meUU;
  m.CharSet = csISO8859;
  TmsAttItem item;
  item.Data = "bytes";
  m.Attachments.AddItem(item);
  m.SetContentType("Text/HTML");
  EXPECT_EQ(m.StoredContentType(), "text/html");

  TmsMessage copy;
  copy = m;
  EXPECT_EQ(copy.Recipients, m.Recipients);
  EXPECT_EQ(copy.Attachments.Items(0).Data, "bytes");
  EXPECT_EQ(copy.Priority, ptLow);

  m.Clear();
  EXPECT_TRUE(m.Body.empty());
  EXPECT_EQ(m.Attachments.Count(), 0);
  EXPECT_EQ(m.Recipients.Count() + m.CC.Count() + m.BCC.Count(), 0);
  EXPECT_EQ(m.Sender, TmsMailAddress{});
  EXPECT_EQ(m.Encoding, meMIME);
  EXPECT_EQ(m.CharSet, csUSASCII);
  EXPECT_EQ(m.StoredContentType(), "");
  EXPECT_EQ(m.Priority, ptLow);
  EXPECT_TRUE(m.ReturnReceipt);
  EXPECT_EQ(copy.Subject, "subj");
}

TEST(Message, CheckValidNeedsSenderAndSomeRecipient) {
  TmsMessage m;
  EXPECT_THROW(m.CheckValid(), EMessageError);
  m.Sender.Address = "s@x";
  try {
    m.CheckValid();
    FAIL();
  } catch (const EMessageError& e) {
    EXPECT_STREQ(e.what(), "At least one Recipient, CC or BCC must be entered");
  }
  m.BCC.Add("b@x");
  EXPECT_NO_THROW(m.CheckValid());
}
