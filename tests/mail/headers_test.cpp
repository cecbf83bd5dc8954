#include <gtest/gtest.h>

#include "mail/msexcept.h"
#include "mail/msmsg.h"

using namespace ms;

TEST(Headers, FieldValuesAreUnfoldedAndMatchedFromTheStartOfTheLine) {
  TmsHeaders h{"X-Original-Subject: wrong", "subject: Hello", "\tfolded   world  ", "From:me@x"};
  EXPECT_EQ(h.GetFieldValue("SUBJECT:"), "Hello folded   world");
  EXPECT_EQ(h.GetFieldValue("from"), "me@x");  // no blank after the colon
  EXPECT_EQ(h.GetFieldValue("Missing"), "");
  h.RemoveField("subject");  // the first such field with its continuations
  EXPECT_EQ(h, (TmsHeaders{"X-Original-Subject: wrong", "From:me@x"}));
}

// A TOP reply's body line is never read as a header.
TEST(Headers, LookupsEndAtTheHeaderBlock) {
  const TmsHeaders h{"Subject: s", "To: a@x", "", "Message-ID: <victim@x>", "To: b@x"};
  EXPECT_EQ(h.GetFieldValue("Message-ID"), "");
  EXPECT_EQ(h.GetFieldList("To"), (TmsStrings{"a@x"}));
}

TEST(Headers, EncodedWordsAreDecodedBeforeTheValueIsCut) {
  TmsHeaders h{"Subject: =?utf-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW?="};
  for (int i = 0; i < 19; ++i)
    h.push_back(" =?utf-8?B?0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW0JbQltCW?=");
  std::string v = h.GetFieldValue("Subject");
  // 20 words of 18 characters (720 bytes), cut to 255 characters (510 bytes).
  ASSERT_EQ(v.size(), 510u);
  for (std::size_t i = 0; i < v.size(); i += 2)
    EXPECT_EQ(v.substr(i, 2), "\xD0\x96");
  EXPECT_EQ(h.GetFullFieldValue("Subject").size(), 720u);
}

TEST(Headers, FieldListSplitsAtCommasOutsideQuotes) {
  TmsHeaders h{"To: \"Petrov, Ivan\" <ivan@x.ru>, anna@y.ru,", "  Boris <boris@z.ru>", "Cc: one@x",
               "TO: late@x", "Tocken: not@this"};
  EXPECT_EQ(h.GetFieldList("TO"), (TmsStrings{"\"Petrov, Ivan\" <ivan@x.ru>", "anna@y.ru",
                                              "Boris <boris@z.ru>", "late@x"}));
  // A byte 255 (the letter "я" in windows-1251) is not taken for a comma.
  TmsHeaders cp{"To: \"\xC2\xE0\xF1\xFF\" <v@x>"};
  EXPECT_EQ(cp.GetFieldList("To"), TmsStrings{"\"\xC2\xE0\xF1\xFF\" <v@x>"});
}

TEST(Message, CheckValidNeedsSenderAndSomeRecipient) {
  TmsMessage m;
  EXPECT_THROW(m.CheckValid(), EMessageError);
  m.Sender.Address = "s@x";
  EXPECT_THROW(m.CheckValid(), EMessageError);
  m.BCC.Add("b@x");
  EXPECT_NO_THROW(m.CheckValid());
}

// Hand-made forms the program's own writing never produces (its round trip is in
// encoder_test.cpp); the priority and the other fields are read there too.
TEST(Headers, AddressesAreReadQuoteAware) {
  TmsHeaders h{"From: \"Smith, \\\"Bob\\\"\" <bob@x>", "To: \"x<y\" <xy@x>, plain@x (Pl, Ain),",
               "  =?utf-8?B?0JDQsSwgItCSIiA8Yz4=?= <abc@x>, \"back\\\\slash\" <b@x>",
               "Cc: O\"Neil <o@x>, next@x"};
  TmsMessage m;
  m.ParseHeaders(h);
  EXPECT_EQ(m.Sender, (TmsMailAddress{"Smith, \"Bob\"", "bob@x"}));
  ASSERT_EQ(m.Recipients.Count(), 4);
  EXPECT_EQ(m.Recipients.Items(0), (TmsMailAddress{"x<y", "xy@x"}));
  EXPECT_EQ(m.Recipients.Items(1), (TmsMailAddress{"Pl, Ain", "plain@x"}));
  // The decoded name "Аб, "В" <c>" holds specials of its own.
  EXPECT_EQ(m.Recipients.Items(2), (TmsMailAddress{"\xD0\x90\xD0\xB1, \"\xD0\x92\" <c>", "abc@x"}));
  EXPECT_EQ(m.Recipients.Items(3), (TmsMailAddress{"back\\slash", "b@x"}));
  // A stray quote (a hand-made header) is taken as it stands, without eating the next item.
  ASSERT_EQ(m.CC.Count(), 2);
  EXPECT_EQ(m.CC.Items(0), (TmsMailAddress{"O\"Neil", "o@x"}));
  EXPECT_EQ(m.CC.Items(1), (TmsMailAddress{"", "next@x"}));
}
