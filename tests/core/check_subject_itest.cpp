// The code page a check stores with each header: the one the subject declares.

#include <gtest/gtest.h>

#include "tests/core/check_fixture.h"
#include "tests/support/dovecot.h"
#include "viewer/CyrCoder.h"

namespace vigilo {

TEST(CheckSubjectPage, DeclaredPageIsStoredElseTheGuess) {
  test::DovecotServer server({{"work", "workpw"}});
  // One KOI8-R letter: the guess alone would not say KOI8-R.
  ASSERT_NE(DetectCodePage("\xC1"), TCodePage::KOI8R);
  auto message = [](const std::string& id, const std::string& subject) {
    return "From: a@example.test\nTo: work@example.test\nSubject: " + subject + "\nMessage-ID: <" +
           id + ">\n\nbody\n";
  };
  server.AddMessage("work", message("declared@x", "=?KOI8-R?B?wQ==?="));
  server.AddMessage("work", message("mixed@x", "=?KOI8-R?B?wQ==?= =?windows-1251?B?wQ==?="));
  test::CheckRig rig;
  rig.Add("Work", "work", "workpw", server.Pop3Port());
  rig.check.StartCheck();
  const tuser& u = rig.Conf(0);
  ASSERT_EQ(u.HeadCount, 2);
  for (int32_t i = 0; i < u.HeadCount; ++i) {
    const auto& h = u.Heads[i];
    if (h.MessageID == "declared@x")
      EXPECT_EQ(h.CodePage, static_cast<uint8_t>(TCodePage::KOI8R));
    else
      EXPECT_EQ(h.CodePage, static_cast<uint8_t>(DetectCodePage("\xC1\xC1")));
  }
}

}  // namespace vigilo
