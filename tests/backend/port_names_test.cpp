#include "midi/rtmidi/port_names.h"

#include <gtest/gtest.h>

#include <cstring>

namespace korvane::rtmidi_backend {
namespace {

TEST(PortNamesTest, OwnPortsAreOursUnderEveryNameTheApisGiveThem) {
  EXPECT_TRUE(IsOwnPort(RtMidi::UNIX_JACK, "Korvane Update:in"));
  EXPECT_TRUE(IsOwnPort(RtMidi::UNIX_JACK, "Korvane Update-01:out"));
  EXPECT_TRUE(IsOwnPort(RtMidi::UNIX_JACK, "Korvane Update-12:in"));
  EXPECT_TRUE(IsOwnPort(RtMidi::LINUX_ALSA, "Korvane Update:out 129:0"));
  // Someone else's client that merely starts like ours is not ours.
  EXPECT_FALSE(IsOwnPort(RtMidi::UNIX_JACK, "Korvane Update Sim:out"));
  EXPECT_FALSE(IsOwnPort(RtMidi::UNIX_JACK, "Korvane Update-x1:out"));
  EXPECT_FALSE(IsOwnPort(RtMidi::UNIX_JACK, "Korvane Update-:out"));
  EXPECT_FALSE(IsOwnPort(RtMidi::LINUX_ALSA, "Korvane Update-01:out 129:0"));
  EXPECT_FALSE(IsOwnPort(RtMidi::UNIX_JACK, "Test Peer:Korvane Update"));
  EXPECT_FALSE(IsOwnPort(RtMidi::UNIX_JACK, "Korvane Update"));
}

TEST(PortNamesTest, AlsaAddressIsDroppedFromTheShownName) {
  EXPECT_EQ(DisplayName(RtMidi::LINUX_ALSA, "Midi Through:Midi Through Port-0 14:0"),
            "Midi Through:Midi Through Port-0");
  EXPECT_EQ(DisplayName(RtMidi::LINUX_ALSA, "Synth:Port A"), "Synth:Port A");
  EXPECT_EQ(DisplayName(RtMidi::LINUX_ALSA, "Synth:Port 1:x"), "Synth:Port 1:x");
  EXPECT_EQ(DisplayName(RtMidi::UNIX_JACK, "Test Peer:to korvane 14:0"),
            "Test Peer:to korvane 14:0");
}

TEST(PortNamesTest, ProductNameIsCutToFitAndAlwaysTerminated) {
  char field[8];
  std::memset(field, 'x', sizeof(field));
  CopyProductName("abc", field, sizeof(field));
  EXPECT_STREQ(field, "abc");
  EXPECT_EQ(field[7], '\0');

  CopyProductName("abcdefghijk", field, sizeof(field));
  EXPECT_STREQ(field, "abcdefg");

  // "abcde" then a two-byte character that would straddle the end: cut before it.
  CopyProductName("abcdef\xC3\xA9", field, sizeof(field));
  EXPECT_STREQ(field, "abcdef");
  CopyProductName("abcde\xC3\xA9z", field, sizeof(field));
  EXPECT_STREQ(field, "abcde\xC3\xA9");
}

}  // namespace
}  // namespace korvane::rtmidi_backend
