// Ports handed to tests are real ones on 127.0.0.1.
#include <gtest/gtest.h>

#include <set>

#include "tests/support/free_port.h"

namespace vigilo::test {
namespace {

// A held port once read as 0, so "refused" tests connected to a program's default port instead.
TEST(Ports, HeldPortIsRealAndRefusesConnections) {
  const ClosedPort closed;
  ASSERT_GT(closed.Port(), 0);
  EXPECT_EQ(ConnectLoopback(closed.Port()), -1);
  const std::vector<int> ports = FreePorts(4);
  EXPECT_EQ(std::set<int>(ports.begin(), ports.end()).size(), 4u);
  EXPECT_EQ(std::set<int>(ports.begin(), ports.end()).count(0), 0u);
}

}  // namespace
}  // namespace vigilo::test
