// What the JACK client's reader does with the events of one input before the
// contract (tests/contract) sees anything: SysEx split over several events,
// as JACK programs may send it, comes out whole.
#include "midi/rtmidi/sysex_assembler.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane::rtmidi_backend {
namespace {

using Bytes = std::vector<unsigned char>;

struct Case {
  const char* name;
  std::vector<Bytes> events;
  std::vector<Bytes> messages;  // what comes out, in order
};

class SysexAssemblerTest : public ::testing::TestWithParam<Case> {};

TEST_P(SysexAssemblerTest, GivesBackEachWholeMessageOnce) {
  SysexAssembler assembler;
  std::vector<Bytes> out;
  for (const Bytes& event : GetParam().events) {
    const auto message = assembler.Add(event);
    if (!message.empty())
      out.emplace_back(message.begin(), message.end());
  }
  EXPECT_EQ(out, GetParam().messages);
}

INSTANTIATE_TEST_SUITE_P(
    Events, SysexAssemblerTest,
    ::testing::Values(
        Case{"Whole", {{0xF0, 1, 2, 0xF7}, {0xF0, 3, 0xF7}}, {{0xF0, 1, 2, 0xF7}, {0xF0, 3, 0xF7}}},
        Case{"SplitWithRealTimeBetween",
             {{0xF0, 1}, {0xF8}, {2, 3}, {4, 0xF7}},
             {{0xF0, 1, 2, 3, 4, 0xF7}}},
        Case{"ShortMessagesAndStrayPartsAreLeft",
             {{0x90, 60, 100}, {5, 0xF7}, {0xF0, 1}, {0x80, 60, 0}, {2, 0xF7}},
             {}},
        Case{"ANewStartDropsTheUnfinishedOne", {{0xF0, 1}, {0xF0, 2, 0xF7}}, {{0xF0, 2, 0xF7}}}),
    [](const auto& info) { return info.param.name; });

TEST(SysexAssemblerLimitTest, AnOverlongMessageKeepsItsFirstBytes) {
  SysexAssembler assembler;
  Bytes part(SysexAssembler::kLongest, 0x11);
  part[0] = 0xF0;
  EXPECT_TRUE(assembler.Add(part).empty());
  const auto message = assembler.Add(Bytes{0x22, 0xF7});
  ASSERT_EQ(message.size(), SysexAssembler::kLongest);
  EXPECT_EQ(message.front(), 0xF0);
  EXPECT_EQ(message.back(), 0x11);
}

}  // namespace
}  // namespace korvane::rtmidi_backend
