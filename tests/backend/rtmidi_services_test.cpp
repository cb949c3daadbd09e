#include "midi/rtmidi/rtmidi_services.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/backend/rtmidi_peer.h"
#include "tests/support/test_midi_system.h"

namespace korvane {
namespace {

using testing::CallbackRecorder;
using testing::DeviceNumber;
using testing::Peer;
using testing::TestMidiSystem;

// What only RtMidi's emulation promises: our own ports stay unlisted, a port
// gone since the count, a port another updater holds. What every MIDI system
// promises is the contract's (tests/contract), on the same MIDI system.
// On the MIDI system KORVANE_TEST_MIDI chooses (JACK by default).
class RtMidiServicesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    midi_ = new TestMidiSystem;
    if (midi_->Missing().empty())
      startError_ = midi_->Start();
  }
  static void TearDownTestSuite() {
    delete midi_;
    midi_ = nullptr;
  }

  void SetUp() override {
    if (const std::string missing = midi_->Missing(); !missing.empty())
      GTEST_SKIP() << missing;
    ASSERT_EQ(startError_, "");
    peer_ = std::make_unique<Peer>(midi_->IsJack() ? RtMidi::UNIX_JACK : RtMidi::LINUX_ALSA);
    services_ = std::make_unique<RtMidiServices>();
  }

  int InputNumber(const std::string& name) { return DeviceNumber(*services_, true, name); }
  int OutputNumber(const std::string& name) { return DeviceNumber(*services_, false, name); }

  static inline TestMidiSystem* midi_ = nullptr;
  static inline std::string startError_;
  std::unique_ptr<Peer> peer_;
  std::unique_ptr<RtMidiServices> services_;
};

TEST_F(RtMidiServicesTest, ListsThePeerButNeverOurOwnPorts) {
  ASSERT_GE(InputNumber(testing::kPeerSource), 0);
  const int sink = OutputNumber(testing::kPeerSink);
  ASSERT_GE(sink, 0);

  // Our open output is a JACK source too; it must not show up as an input.
  CallbackRecorder recorder;
  HMIDIOUT out = nullptr;
  ASSERT_EQ(services_->midiOutOpen(&out, static_cast<UINT>(sink), recorder.OutProc(),
                                   recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  HMIDIIN in = nullptr;
  ASSERT_EQ(services_->midiInOpen(&in, static_cast<UINT>(InputNumber(testing::kPeerSource)), 0, 0,
                                  CALLBACK_NULL),
            MMSYSERR_NOERROR);

  const UINT inputs = services_->midiInGetNumDevs();
  for (UINT i = 0; i < inputs; ++i) {
    MIDIINCAPSA caps{};
    ASSERT_EQ(services_->midiInGetDevCapsA(i, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname).find("Korvane Update"), std::string::npos) << caps.szPname;
  }
  const UINT outputs = services_->midiOutGetNumDevs();
  for (UINT i = 0; i < outputs; ++i) {
    MIDIOUTCAPSA caps{};
    ASSERT_EQ(services_->midiOutGetDevCapsA(i, &caps, sizeof(caps)), MMSYSERR_NOERROR);
    EXPECT_EQ(std::string(caps.szPname).find("Korvane Update"), std::string::npos) << caps.szPname;
  }
  MIDIINCAPSA caps{};
  EXPECT_EQ(services_->midiInGetDevCapsA(inputs, &caps, sizeof(caps)), MMSYSERR_BADDEVICEID);
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(services_->midiInClose(in), MMSYSERR_NOERROR);
}

TEST_F(RtMidiServicesTest, APortThatVanishedAfterTheCountIsNoDevice) {
  const int id = InputNumber(testing::kPeerSource);
  ASSERT_GE(id, 0);
  peer_->CloseSource();
  CallbackRecorder recorder;
  HMIDIIN handle = nullptr;
  EXPECT_EQ(services_->midiInOpen(&handle, static_cast<UINT>(id), recorder.InProc(),
                                  recorder.Instance(), CALLBACK_FUNCTION),
            MIDIERR_NODEVICE);
  EXPECT_EQ(recorder.Calls().size(), 0u);
}

// One updater per port: a second one (here a second set of services, as in a
// second process) finds the port held until the first closes it.
TEST_F(RtMidiServicesTest, APortAnotherUpdaterHoldsIsAllocated) {
  const int sink = OutputNumber(testing::kPeerSink);
  ASSERT_GE(sink, 0);
  RtMidiServices other;
  ASSERT_EQ(other.midiOutGetNumDevs(), services_->midiOutGetNumDevs());
  CallbackRecorder recorder;
  HMIDIOUT first = nullptr;
  HMIDIOUT second = nullptr;
  ASSERT_EQ(services_->midiOutOpen(&first, static_cast<UINT>(sink), recorder.OutProc(),
                                   recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  EXPECT_EQ(other.midiOutOpen(&second, static_cast<UINT>(sink), 0, 0, CALLBACK_NULL),
            MMSYSERR_ALLOCATED);
  EXPECT_EQ(services_->midiOutClose(first), MMSYSERR_NOERROR);
  ASSERT_EQ(other.midiOutOpen(&second, static_cast<UINT>(sink), 0, 0, CALLBACK_NULL),
            MMSYSERR_NOERROR);
  EXPECT_EQ(other.midiOutClose(second), MMSYSERR_NOERROR);
}

}  // namespace
}  // namespace korvane
