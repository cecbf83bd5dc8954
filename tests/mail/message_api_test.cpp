#include <gtest/gtest.h>

#include <sstream>

#include "mail/msmsg.h"

TEST(MessageApi, HeadersCompile) {
  ms::TmsMessage m;
  m.Recipients.Add("a@b", "A");
  EXPECT_EQ(m.Recipients.Count(), 1);
}
