#include "midi/rtmidi/jack_graph.h"

#include <gtest/gtest.h>

namespace korvane::rtmidi_backend {
namespace {

TEST(JackGraphTest, OnlyAConnectionMissingBeforeTheOpenCountsAsNew) {
  const std::vector<std::string> before = {"Korvane Update-01:out"};
  EXPECT_FALSE(HasNewConnection(before, before));
  EXPECT_FALSE(HasNewConnection(before, {}));
  EXPECT_TRUE(HasNewConnection(before, {"Korvane Update-01:out", "Korvane Update-02:out"}));
  // With no connection of ours before, any one of ours is new.
  EXPECT_TRUE(HasNewConnection({}, before));
}

TEST(JackGraphTest, FramesAreCountedAcrossTheClockWrapping) {
  EXPECT_EQ(FramesSince(100, 2148), 2048u);
  EXPECT_EQ(FramesSince(0xFFFFFC00u, 1024), 2048u);
  EXPECT_EQ(FramesSince(5, 5), 0u);
}

}  // namespace
}  // namespace korvane::rtmidi_backend
