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

TEST(PortNamesTest, SplitIntoClientAndPortWithoutAlsasAddress) {
  const auto alsa = SplitPortName(RtMidi::LINUX_ALSA, "Midi Through:Midi Through Port-0 14:0");
  EXPECT_EQ(alsa.client, "Midi Through");
  EXPECT_EQ(alsa.port, "Midi Through Port-0");
  // JACK's port names may hold a colon of their own; only the first one splits.
  const auto jack = SplitPortName(RtMidi::UNIX_JACK, "a2j:Synth [20] (capture): Synth 14:0");
  EXPECT_EQ(jack.client, "a2j");
  EXPECT_EQ(jack.port, "Synth [20] (capture): Synth 14:0");
  const auto core = SplitPortName(RtMidi::MACOSX_CORE, "Interface: Port 1");
  EXPECT_EQ(core.client, "");
  EXPECT_EQ(core.port, "Interface: Port 1");
}

constexpr std::size_t kLimit = 31;

std::vector<std::string> Names(const std::vector<PortNameParts>& ports) {
  const auto names = DeviceNames(ports, kLimit);
  for (const auto& name : names)
    EXPECT_LE(name.size(), kLimit) << name;
  return names;
}

TEST(PortNamesTest, ANameThatFitsStaysWholeAndKernelPortsGoByTheirOwnName) {
  // "Virtual Raw MIDI 0-0:VirMIDI 0-0" is 32 bytes: cut at 31 the four were one.
  std::vector<PortNameParts> ports = {{"Test Peer", "to korvane"},
                                      {"", "USB Uno MIDI Interface"},
                                      {"Midi Through", "Midi Through Port-0"}};
  for (const char* n : {"0-0", "0-1", "0-2", "0-3"})
    ports.push_back({std::string("Virtual Raw MIDI ") + n, std::string("VirMIDI ") + n});
  EXPECT_EQ(Names(ports),
            (std::vector<std::string>{"Test Peer:to korvane", "USB Uno MIDI Interface",
                                      "Midi Through Port-0", "VirMIDI 0-0", "VirMIDI 0-1",
                                      "VirMIDI 0-2", "VirMIDI 0-3"}));
}

TEST(PortNamesTest, NamesThatDifferOnlyAfterTheCutKeepTheirEnds) {
  const std::string client = "Korvane Long Client Name For Tests ";
  const std::string port = "Korvane Sim Port With A Long Name ";
  const auto names =
      Names({{client + "A", "out"},
             {client + "B", "out"},
             {client + "A In", port + "1"},
             {client + "B In", port + "2"},
             {"Synth", "Very Long Port\xC3\xA9 Name Of A Sof\xC3\xA9tware Synth 1"}});
  // A port name two clients share needs the client, shortened in its middle.
  EXPECT_EQ(names[0], "Korvane Long .. For Tests A:out");
  EXPECT_EQ(names[1], "Korvane Long .. For Tests B:out");
  // A port name of its own is enough.
  EXPECT_EQ(names[2], "Korvane Sim Por.. A Long Name 1");
  EXPECT_EQ(names[3], "Korvane Sim Por.. A Long Name 2");
  // Both cuts would fall inside a two-byte character: it goes whole.
  EXPECT_EQ(names[4], "Very Long Port..tware Synth 1");
}

TEST(PortNamesTest, IdenticalPortsAreNumberedAndKeepTheirNamesAcrossCounts) {
  // Two interfaces of one model give the same client and port names.
  const PortNameParts usb = {"UM-ONE", "UM-ONE MIDI 1"};
  const PortNameParts synth = {"Synth", "in"};
  EXPECT_EQ(Names({usb, synth, usb, usb}),
            (std::vector<std::string>{"UM-ONE:UM-ONE MIDI 1", "Synth:in", "2- UM-ONE:UM-ONE MIDI 1",
                                      "3- UM-ONE:UM-ONE MIDI 1"}));
  // A port that comes or goes changes no other port's name.
  EXPECT_EQ(Names({usb, usb}),
            (std::vector<std::string>{"UM-ONE:UM-ONE MIDI 1", "2- UM-ONE:UM-ONE MIDI 1"}));
  // A number whose name a real port has is skipped.
  EXPECT_EQ(Names({{"A", "x"}, {"", "2- A:x"}, {"A", "x"}}),
            (std::vector<std::string>{"A:x", "2- A:x", "3- A:x"}));
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
