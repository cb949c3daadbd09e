// The listing is compiled into korvane-flash only, so the test builds it too.
#include "cli/port_listing.cpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace korvane {
namespace {

using ::testing::_;
using ::testing::Invoke;
using ::testing::Return;

class FakeServices : public MidiServices {
 public:
  MOCK_METHOD(UINT, midiInGetNumDevs, (), (override));
  MOCK_METHOD(UINT, midiOutGetNumDevs, (), (override));
  MOCK_METHOD(MMRESULT, midiInGetDevCapsA, (UINT_PTR, MIDIINCAPSA*, UINT), (override));
  MOCK_METHOD(MMRESULT, midiOutGetDevCapsA, (UINT_PTR, MIDIOUTCAPSA*, UINT), (override));
  MOCK_METHOD(MMRESULT, midiInOpen, (HMIDIIN*, UINT, DWORD_PTR, DWORD_PTR, DWORD), (override));
  MOCK_METHOD(MMRESULT, midiOutOpen, (HMIDIOUT*, UINT, DWORD_PTR, DWORD_PTR, DWORD), (override));
  MOCK_METHOD(MMRESULT, midiInClose, (HMIDIIN), (override));
  MOCK_METHOD(MMRESULT, midiOutClose, (HMIDIOUT), (override));
  MOCK_METHOD(MMRESULT, midiInStart, (HMIDIIN), (override));
  MOCK_METHOD(MMRESULT, midiInStop, (HMIDIIN), (override));
  MOCK_METHOD(MMRESULT, midiInReset, (HMIDIIN), (override));
  MOCK_METHOD(MMRESULT, midiOutReset, (HMIDIOUT), (override));
  MOCK_METHOD(MMRESULT, midiInPrepareHeader, (HMIDIIN, MIDIHDR*, UINT), (override));
  MOCK_METHOD(MMRESULT, midiInUnprepareHeader, (HMIDIIN, MIDIHDR*, UINT), (override));
  MOCK_METHOD(MMRESULT, midiInAddBuffer, (HMIDIIN, MIDIHDR*, UINT), (override));
  MOCK_METHOD(MMRESULT, midiOutPrepareHeader, (HMIDIOUT, MIDIHDR*, UINT), (override));
  MOCK_METHOD(MMRESULT, midiOutUnprepareHeader, (HMIDIOUT, MIDIHDR*, UINT), (override));
  MOCK_METHOD(MMRESULT, midiOutLongMsg, (HMIDIOUT, MIDIHDR*, UINT), (override));
};

TEST(PortListingTest, InputsThenOutputsWithTheirDeviceNumbers) {
  FakeServices services;
  EXPECT_CALL(services, midiInGetNumDevs()).WillOnce(Return(2));
  EXPECT_CALL(services, midiOutGetNumDevs()).WillOnce(Return(1));
  EXPECT_CALL(services, midiInGetDevCapsA(_, _, sizeof(MIDIINCAPSA)))
      .WillRepeatedly(Invoke([](UINT_PTR id, MIDIINCAPSA* caps, UINT) {
        std::strcpy(caps->szPname, id == 0 ? "Peer A" : "Peer B");
        return MMSYSERR_NOERROR;
      }));
  EXPECT_CALL(services, midiOutGetDevCapsA(0, _, sizeof(MIDIOUTCAPSA)))
      .WillOnce(Invoke([](UINT_PTR, MIDIOUTCAPSA* caps, UINT) {
        // A name that fills the whole field has no terminator.
        std::memset(caps->szPname, 'N', MAXPNAMELEN);
        return MMSYSERR_NOERROR;
      }));
  std::ostringstream out;
  PrintPortList(services, out);
  EXPECT_EQ(out.str(),
            "in 0: Peer A\nin 1: Peer B\nout 0: " + std::string(MAXPNAMELEN, 'N') + "\n");
}

TEST(PortListingTest, APortWhoseCapabilitiesFailIsLeftOutAndTheOthersKeepTheirNumbers) {
  FakeServices services;
  EXPECT_CALL(services, midiInGetNumDevs()).WillOnce(Return(2));
  EXPECT_CALL(services, midiOutGetNumDevs()).WillOnce(Return(0));
  EXPECT_CALL(services, midiInGetDevCapsA(0, _, _)).WillOnce(Return(MMSYSERR_BADDEVICEID));
  EXPECT_CALL(services, midiInGetDevCapsA(1, _, _))
      .WillOnce(Invoke([](UINT_PTR, MIDIINCAPSA* caps, UINT) {
        std::strcpy(caps->szPname, "Peer B");
        return MMSYSERR_NOERROR;
      }));
  std::ostringstream out;
  PrintPortList(services, out);
  EXPECT_EQ(out.str(), "in 1: Peer B\n");
}

TEST(PortListingTest, TheSystemsOwnNameFollowsWhereTheBackEndKnowsOne) {
  FakeServices services;
  EXPECT_CALL(services, midiInGetNumDevs()).WillOnce(Return(1));
  EXPECT_CALL(services, midiOutGetNumDevs()).WillOnce(Return(2));
  EXPECT_CALL(services, midiInGetDevCapsA(0, _, _))
      .WillOnce(Invoke([](UINT_PTR, MIDIINCAPSA* caps, UINT) {
        std::strcpy(caps->szPname, "VirMIDI 0-0");
        return MMSYSERR_NOERROR;
      }));
  EXPECT_CALL(services, midiOutGetDevCapsA(_, _, _))
      .WillRepeatedly(Invoke([](UINT_PTR id, MIDIOUTCAPSA* caps, UINT) {
        std::strcpy(caps->szPname, id == 0 ? "VirMIDI 0-0" : "Peer");
        return MMSYSERR_NOERROR;
      }));
  std::ostringstream out;
  PrintPortList(services, out, [](bool input, UINT id) -> std::string {
    if (id == 1)
      return "";
    return std::string(input ? "in" : "out") + ": Virtual Raw MIDI 0-0:VirMIDI 0-0 20:0";
  });
  EXPECT_EQ(out.str(),
            "in 0: VirMIDI 0-0  (in: Virtual Raw MIDI 0-0:VirMIDI 0-0 20:0)\n"
            "out 0: VirMIDI 0-0  (out: Virtual Raw MIDI 0-0:VirMIDI 0-0 20:0)\nout 1: Peer\n");
}

}  // namespace
}  // namespace korvane
