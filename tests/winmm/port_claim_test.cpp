// The claim that gives a port to one updater, whatever the driver allows. Two
// programs on one port are checked end to end over Wine's ALSA driver
// (scripts/wine-alsa-checks); here, the claim's own rules in one process.
#include "midi/winmm/port_claim.h"

#include <gtest/gtest.h>

#include <string>

namespace korvane::winmm_backend {
namespace {

class PortClaimTest : public ::testing::TestWithParam<bool> {};

TEST_P(PortClaimTest, APortIsClaimedOnceUntilReleasedAndEachDirectionApart) {
  const bool input = GetParam();
  // Unique to this run: another test program may hold a claim of its own.
  const std::string port = "Claim Test " + std::to_string(GetCurrentProcessId());
  PortClaim first;
  ASSERT_TRUE(first.Take(input, port));
  PortClaim second;
  EXPECT_FALSE(second.Take(input, port));
  EXPECT_EQ(second.Failure(), 0u);
  EXPECT_EQ(ClaimForOpen(second, input, port), static_cast<MMRESULT>(MMSYSERR_ALLOCATED));

  PortClaim otherDirection;
  EXPECT_TRUE(otherDirection.Take(!input, port));

  // A moved claim is still held; its release frees the port.
  PortClaim moved = std::move(first);
  EXPECT_TRUE(moved.Held());
  EXPECT_FALSE(second.Take(input, port));
  moved.Release();
  EXPECT_EQ(ClaimForOpen(second, input, port), static_cast<MMRESULT>(MMSYSERR_NOERROR));
}

TEST_P(PortClaimTest, ABackslashInThePortNameIsClaimable) {
  const std::string port = "A\\B " + std::to_string(GetCurrentProcessId());
  EXPECT_EQ(PortClaimName(GetParam(), port).find('\\', 7), std::string::npos);
  PortClaim claim;
  EXPECT_TRUE(claim.Take(GetParam(), port));
  EXPECT_EQ(claim.Failure(), 0u);
}

INSTANTIATE_TEST_SUITE_P(InputAndOutput, PortClaimTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "In" : "Out"; });

}  // namespace
}  // namespace korvane::winmm_backend
