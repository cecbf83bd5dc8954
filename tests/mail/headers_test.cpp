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
// encoder_test.cpp): quotes, specials inside decoded words, groups, broken and oversize forms.
TEST(Headers, AddressesAreReadQuoteAndGroupAware) {
  using Addresses = std::vector<TmsMailAddress>;
  struct Case {
    TmsHeaders lines;
    Addresses to;
  };
  for (const Case& c : std::vector<Case>{
           {{"To: \"x<y\" <xy@x>, plain@x (Pl, Ain),",
             "  =?utf-8?B?0JDQsSwgItCSIiA8Yz4=?= <abc@x>, \"back\\\\slash\" <b@x>"},
            {{"x<y", "xy@x"},
             {"Pl, Ain", "plain@x"},
             {"\xD0\x90\xD0\xB1, \"\xD0\x92\" <c>", "abc@x"},  // "Аб, "В" <c>"
             {"back\\slash", "b@x"}}},
           // A stray quote is taken as it stands, without eating the next item.
           {{"To: O\"Neil <o@x>, next@x"}, {{"O\"Neil", "o@x"}, {"", "next@x"}}},
           {{"To: undisclosed-recipients:;"}, {}},
           {{"To: team: a@x, \"B, b\" <b@x>;, c@x, \"=?utf-8?Q?a:b?=\" <d@x>"},
            {{"", "a@x"}, {"B, b", "b@x"}, {"", "c@x"}, {"a:b", "d@x"}}},
           // Broken forms stay whole as the name; the address is bounded.
           {{"To: Ivan <ivan@example.ru"}, {{"Ivan <ivan@example.ru", ""}}},
           {{"To: x> Ivan <y"}, {{"x> Ivan <y", ""}}},
           {{"To: <" + std::string(300, 'a') + ">"}, {{"", std::string(255, 'a')}}},
       }) {
    TmsMessage m;
    m.ParseHeaders(c.lines);
    Addresses got;
    for (int i = 0; i < m.Recipients.Count(); ++i)
      got.push_back(m.Recipients.Items(i));
    EXPECT_EQ(got, c.to) << c.lines[0];
  }
  TmsMessage m;
  m.ParseHeaders({"From:", "   \"Ivan \\\"the\\\" Great\" <ivan@x>"});
  EXPECT_EQ(m.Sender, (TmsMailAddress{"Ivan \"the\" Great", "ivan@x"}));
}
