#include "midi/rtmidi/rtmidi_services.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/backend/rtmidi_peer.h"
#include "tests/support/test_midi_system.h"

namespace korvane {
namespace {

using testing::Call;
using testing::CallbackRecorder;
using testing::Peer;
using testing::TestMidiSystem;

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

  // The device number of a port by its name, after a fresh count.
  int InputNumber(const std::string& name) {
    const UINT count = services_->midiInGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
      MIDIINCAPSA caps{};
      if (services_->midiInGetDevCapsA(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR &&
          name == caps.szPname) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }
  int OutputNumber(const std::string& name) {
    const UINT count = services_->midiOutGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
      MIDIOUTCAPSA caps{};
      if (services_->midiOutGetDevCapsA(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR &&
          name == caps.szPname) {
        return static_cast<int>(i);
      }
    }
    return -1;
  }

  HMIDIIN OpenPeerInput(CallbackRecorder& recorder) {
    const int id = InputNumber(testing::kPeerSource);
    EXPECT_GE(id, 0);
    HMIDIIN handle = nullptr;
    EXPECT_EQ(services_->midiInOpen(&handle, static_cast<UINT>(id), recorder.InProc(),
                                    recorder.Instance(), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    return handle;
  }

  // A prepared, queued header on a started input.
  void Arm(HMIDIIN handle, MIDIHDR& header, std::vector<char>& buffer) {
    header = MIDIHDR{};
    header.lpData = buffer.data();
    header.dwBufferLength = static_cast<DWORD>(buffer.size());
    ASSERT_EQ(services_->midiInPrepareHeader(handle, &header, sizeof(header)), MMSYSERR_NOERROR);
    ASSERT_EQ(services_->midiInAddBuffer(handle, &header, sizeof(header)), MMSYSERR_NOERROR);
    ASSERT_EQ(services_->midiInStart(handle), MMSYSERR_NOERROR);
  }

  void Disarm(HMIDIIN handle, MIDIHDR& header) {
    EXPECT_EQ(services_->midiInReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(services_->midiInUnprepareHeader(handle, &header, sizeof(header)), MMSYSERR_NOERROR);
    EXPECT_EQ(services_->midiInClose(handle), MMSYSERR_NOERROR);
  }

  // The longest message the system carries whole through RtMidi, or the
  // reason to skip when the test is about the other system.
  void ExpectLongMessagesUpTo(std::size_t longest);

  static inline TestMidiSystem* midi_ = nullptr;
  static inline std::string startError_;
  std::unique_ptr<Peer> peer_;
  std::unique_ptr<RtMidiServices> services_;
};

const std::vector<unsigned char> kIdentityReply = {0xF0, 0x00, 0x20, 0x32, 0x7F,
                                                   0x14, 0x02, 'K',  'V',  0xF7};

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
  CallbackRecorder inRecorder;
  HMIDIIN in = OpenPeerInput(inRecorder);
  ASSERT_NE(in, nullptr);

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

TEST_F(RtMidiServicesTest, OpenAndCloseCallBackInsideTheCallAndNothingAfterClose) {
  CallbackRecorder recorder;
  HMIDIIN handle = OpenPeerInput(recorder);
  ASSERT_NE(handle, nullptr);
  auto calls = recorder.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, MIM_OPEN);
  EXPECT_EQ(calls[0].thread, std::this_thread::get_id());

  std::vector<char> buffer(64);
  MIDIHDR header{};
  Arm(handle, header, buffer);
  EXPECT_EQ(services_->midiInReset(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(services_->midiInClose(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MIM_CLOSE), 1u);
  EXPECT_EQ(recorder.Calls().back().message, MIM_CLOSE);

  // A message after the close reaches nobody.
  const std::size_t before = recorder.Calls().size();
  peer_->Send(kIdentityReply);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(recorder.Calls().size(), before);
  EXPECT_EQ(services_->midiInStart(handle), MMSYSERR_INVALHANDLE);

  const int sink = OutputNumber(testing::kPeerSink);
  HMIDIOUT out = nullptr;
  ASSERT_EQ(services_->midiOutOpen(&out, static_cast<UINT>(sink), recorder.OutProc(),
                                   recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MOM_OPEN), 1u);
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MOM_CLOSE), 1u);
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_INVALHANDLE);
}

TEST_F(RtMidiServicesTest, SysExFillsTheQueuedHeaderOnTheDriversThread) {
  CallbackRecorder recorder;
  HMIDIIN handle = OpenPeerInput(recorder);
  std::vector<char> buffer(64, 0);
  MIDIHDR header{};
  Arm(handle, header, buffer);

  peer_->Send(kIdentityReply);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA));
  const Call call = recorder.Calls().back();
  EXPECT_EQ(call.param1, reinterpret_cast<DWORD_PTR>(&header));
  EXPECT_NE(call.thread, std::this_thread::get_id());
  EXPECT_EQ(call.bytesRecorded, kIdentityReply.size());
  EXPECT_EQ(header.dwBytesRecorded, kIdentityReply.size());
  EXPECT_EQ(std::memcmp(buffer.data(), kIdentityReply.data(), kIdentityReply.size()), 0);
  EXPECT_TRUE(header.dwFlags & MHDR_DONE);
  EXPECT_FALSE(header.dwFlags & MHDR_INQUEUE);
  EXPECT_TRUE(header.dwFlags & MHDR_PREPARED);
  Disarm(handle, header);
}

TEST_F(RtMidiServicesTest, ALongerMessageFillsTheBufferAndTheRestIsLost) {
  CallbackRecorder recorder;
  HMIDIIN handle = OpenPeerInput(recorder);
  std::vector<char> buffer(8, 0);
  MIDIHDR header{};
  Arm(handle, header, buffer);

  std::vector<unsigned char> longMessage = {0xF0, 0x00, 0x20, 0x32};
  for (unsigned char b = 0; b < 40; ++b)
    longMessage.push_back(b);
  longMessage.push_back(0xF7);
  peer_->Send(longMessage);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA));
  EXPECT_EQ(header.dwBytesRecorded, 8u);
  EXPECT_EQ(std::memcmp(buffer.data(), longMessage.data(), 8), 0);
  Disarm(handle, header);
}

TEST_F(RtMidiServicesTest, ResetHandsBackEveryQueuedHeaderEmpty) {
  CallbackRecorder recorder;
  HMIDIIN handle = OpenPeerInput(recorder);
  std::vector<char> first(16), second(16);
  MIDIHDR a{}, b{};
  Arm(handle, a, first);
  b.lpData = second.data();
  b.dwBufferLength = 16;
  ASSERT_EQ(services_->midiInPrepareHeader(handle, &b, sizeof(b)), MMSYSERR_NOERROR);
  ASSERT_EQ(services_->midiInAddBuffer(handle, &b, sizeof(b)), MMSYSERR_NOERROR);
  a.dwBytesRecorded = 99;  // stale count from an earlier use must not survive

  ASSERT_EQ(services_->midiInReset(handle), MMSYSERR_NOERROR);
  ASSERT_EQ(recorder.Count(MIM_LONGDATA), 2u);
  const auto calls = recorder.Calls();
  EXPECT_EQ(calls[calls.size() - 2].param1, reinterpret_cast<DWORD_PTR>(&a));
  EXPECT_EQ(calls.back().param1, reinterpret_cast<DWORD_PTR>(&b));
  for (MIDIHDR* h : {&a, &b}) {
    EXPECT_EQ(h->dwBytesRecorded, 0u);
    EXPECT_TRUE(h->dwFlags & MHDR_DONE);
    EXPECT_FALSE(h->dwFlags & MHDR_INQUEUE);
  }
  // Reset also stopped the input: a requeued header waits for a new start.
  ASSERT_EQ(services_->midiInAddBuffer(handle, &a, sizeof(a)), MMSYSERR_NOERROR);
  peer_->Send(kIdentityReply);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(recorder.Count(MIM_LONGDATA), 2u);
  EXPECT_EQ(services_->midiInReset(handle), MMSYSERR_NOERROR);
  EXPECT_EQ(services_->midiInUnprepareHeader(handle, &b, sizeof(b)), MMSYSERR_NOERROR);
  Disarm(handle, a);
}

TEST_F(RtMidiServicesTest, ForeignSysExIsDeliveredLikeAnyOther) {
  CallbackRecorder recorder;
  HMIDIIN handle = OpenPeerInput(recorder);
  std::vector<char> buffer(32, 0);
  MIDIHDR header{};
  Arm(handle, header, buffer);

  const std::vector<unsigned char> universal = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
  peer_->Send(universal);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA));
  EXPECT_EQ(header.dwBytesRecorded, universal.size());
  EXPECT_EQ(std::memcmp(buffer.data(), universal.data(), universal.size()), 0);
  Disarm(handle, header);
}

TEST_F(RtMidiServicesTest, ShortMessagesAndSysExWithNoQueuedHeaderAreDropped) {
  CallbackRecorder recorder;
  HMIDIIN handle = OpenPeerInput(recorder);
  std::vector<char> buffer(32, 0);
  MIDIHDR header{};
  header.lpData = buffer.data();
  header.dwBufferLength = 32;
  ASSERT_EQ(services_->midiInPrepareHeader(handle, &header, sizeof(header)), MMSYSERR_NOERROR);
  ASSERT_EQ(services_->midiInStart(handle), MMSYSERR_NOERROR);

  const std::vector<unsigned char> dropped = {0xF0, 0x00, 0x20, 0x32, 0x01, 0xF7};
  peer_->Send(dropped);  // started, nothing queued
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_EQ(services_->midiInAddBuffer(handle, &header, sizeof(header)), MMSYSERR_NOERROR);
  peer_->Send({0x90, 0x40, 0x7F});  // a note: never fills a header
  peer_->Send(kIdentityReply);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA));
  EXPECT_EQ(header.dwBytesRecorded, kIdentityReply.size());
  EXPECT_EQ(std::memcmp(buffer.data(), kIdentityReply.data(), kIdentityReply.size()), 0);
  EXPECT_EQ(recorder.Count(MIM_DATA), 0u);
  Disarm(handle, header);
}

// The engine's input callback queues a foreign message's header again from
// inside MIM_LONGDATA; that must neither deadlock nor lose the next message.
TEST_F(RtMidiServicesTest, AHeaderQueuedAgainFromTheCallbackReceivesTheNextMessage) {
  static RtMidiServices* services = nullptr;
  services = services_.get();
  CallbackRecorder recorder;
  recorder.RequeueWith([](HMIDIIN handle, DWORD_PTR param1) {
    auto* header = reinterpret_cast<MIDIHDR*>(param1);
    if (header->dwBytesRecorded == 0 || header->lpData[1] != 0x7E)
      return;
    header->dwBytesRecorded = 0;
    header->dwFlags &= ~MHDR_DONE;
    services->midiInAddBuffer(handle, header, sizeof(MIDIHDR));
  });
  HMIDIIN handle = OpenPeerInput(recorder);
  std::vector<char> buffer(32, 0);
  MIDIHDR header{};
  Arm(handle, header, buffer);

  peer_->Send({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7});
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 1));
  peer_->Send(kIdentityReply);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 2));
  EXPECT_EQ(header.dwBytesRecorded, kIdentityReply.size());
  EXPECT_EQ(buffer[6], 0x02);
  Disarm(handle, header);
}

TEST_F(RtMidiServicesTest, MisuseGetsWinmmResults) {
  CallbackRecorder recorder;
  HMIDIIN in = nullptr;
  HMIDIOUT out = nullptr;
  const UINT inputs = services_->midiInGetNumDevs();
  const UINT outputs = services_->midiOutGetNumDevs();
  EXPECT_EQ(
      services_->midiInOpen(&in, inputs, recorder.InProc(), recorder.Instance(), CALLBACK_FUNCTION),
      MMSYSERR_BADDEVICEID);
  EXPECT_EQ(services_->midiOutOpen(&out, outputs, recorder.OutProc(), recorder.Instance(),
                                   CALLBACK_FUNCTION),
            MMSYSERR_BADDEVICEID);
  EXPECT_EQ(recorder.Calls().size(), 0u);

  MIDIHDR header{};
  std::vector<char> buffer(16);
  header.lpData = buffer.data();
  header.dwBufferLength = 16;
  const auto bogusIn = reinterpret_cast<HMIDIIN>(std::uintptr_t{0xBAD});
  EXPECT_EQ(services_->midiInStart(bogusIn), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiInAddBuffer(bogusIn, &header, sizeof(header)), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiOutLongMsg(reinterpret_cast<HMIDIOUT>(std::uintptr_t{0xBAD}), &header,
                                      sizeof(header)),
            MMSYSERR_INVALHANDLE);

  in = OpenPeerInput(recorder);
  EXPECT_EQ(services_->midiInAddBuffer(in, &header, sizeof(header)), MIDIERR_UNPREPARED);
  ASSERT_EQ(services_->midiInPrepareHeader(in, &header, sizeof(header)), MMSYSERR_NOERROR);
  EXPECT_TRUE(header.dwFlags & MHDR_PREPARED);
  ASSERT_EQ(services_->midiInAddBuffer(in, &header, sizeof(header)), MMSYSERR_NOERROR);
  EXPECT_EQ(services_->midiInAddBuffer(in, &header, sizeof(header)), MIDIERR_STILLPLAYING);
  EXPECT_EQ(services_->midiInUnprepareHeader(in, &header, sizeof(header)), MIDIERR_STILLPLAYING);
  EXPECT_EQ(services_->midiInClose(in), MIDIERR_STILLPLAYING);
  EXPECT_EQ(recorder.Count(MIM_CLOSE), 0u);
  Disarm(in, header);
  EXPECT_FALSE(header.dwFlags & MHDR_PREPARED);

  const int sink = OutputNumber(testing::kPeerSink);
  ASSERT_EQ(services_->midiOutOpen(&out, static_cast<UINT>(sink), recorder.OutProc(),
                                   recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  MIDIHDR outHeader{};
  outHeader.lpData = buffer.data();
  outHeader.dwBufferLength = 4;
  EXPECT_EQ(services_->midiOutLongMsg(out, &outHeader, sizeof(outHeader)), MIDIERR_UNPREPARED);
  EXPECT_EQ(recorder.Count(MOM_DONE), 0u);
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
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

// A long message arrives whole up to what the system carries; a longer one
// would vanish or arrive cut, so it is refused and the caller knows.
void RtMidiServicesTest::ExpectLongMessagesUpTo(std::size_t longest) {
  const int sink = OutputNumber(testing::kPeerSink);
  ASSERT_GE(sink, 0);
  CallbackRecorder recorder;
  HMIDIOUT out = nullptr;
  ASSERT_EQ(services_->midiOutOpen(&out, static_cast<UINT>(sink), recorder.OutProc(),
                                   recorder.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  std::size_t done = 0;
  for (const std::size_t length : {std::size_t{309}, longest, longest + 1}) {
    SCOPED_TRACE(length);
    std::vector<unsigned char> block = {0xF0, 0x00, 0x20, 0x32, 0x00, 0x14, 0x34};
    while (block.size() + 1 < length)
      block.push_back(static_cast<unsigned char>(block.size() & 0x7F));
    block.push_back(0xF7);
    MIDIHDR header{};
    header.lpData = reinterpret_cast<char*>(block.data());
    header.dwBufferLength = static_cast<DWORD>(block.size());
    ASSERT_EQ(services_->midiOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
    const bool fits = length <= longest;
    EXPECT_EQ(services_->midiOutLongMsg(out, &header, sizeof(header)),
              fits ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM);
    done += fits;
    EXPECT_EQ(recorder.Count(MOM_DONE), done);
    EXPECT_EQ((header.dwFlags & MHDR_DONE) != 0, fits);
    EXPECT_FALSE(header.dwFlags & MHDR_INQUEUE);
    EXPECT_EQ(peer_->NextReceived(), fits ? block : std::vector<unsigned char>{});
    EXPECT_EQ(services_->midiOutUnprepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
  }
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
}

// JACK: RtMidi's ring buffer holds 16379 bytes of message.
TEST_F(RtMidiServicesTest, LongMessagesArriveWholeUpToJacksLimitAndLongerOnesAreRefused) {
  if (!midi_->IsJack())
    GTEST_SKIP() << "JACK's limit; on " << midi_->Name() << " the test of its own limit runs";
  ExpectLongMessagesUpTo(16379);
}

// ALSA: a kernel MIDI port passes 4096 bytes whole, whatever a program's
// client could take.
TEST_F(RtMidiServicesTest, LongMessagesArriveWholeUpToAlsasLimitAndLongerOnesAreRefused) {
  if (midi_->IsJack())
    GTEST_SKIP() << "ALSA's limit; on JACK the test of its own limit runs";
  ExpectLongMessagesUpTo(4096);
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

// A port is live when its open returns, as on WinMM: a message sent at once
// must not be lost while the server has yet to apply the new connection.
// Repeated because a single late cycle only loses a message now and then.
constexpr int kOpenRounds = 20;

TEST_F(RtMidiServicesTest, AMessageSentAsSoonAsAnOutputOpensArrives) {
  const int sink = OutputNumber(testing::kPeerSink);
  ASSERT_GE(sink, 0);
  int lost = 0;
  for (int round = 0; round < kOpenRounds; ++round) {
    HMIDIOUT out = nullptr;
    ASSERT_EQ(services_->midiOutOpen(&out, static_cast<UINT>(sink), 0, 0, CALLBACK_NULL),
              MMSYSERR_NOERROR);
    std::vector<unsigned char> request = {
        0xF0, 0x7E, 0x7F, 0x06, 0x01, static_cast<unsigned char>(round), 0xF7};
    MIDIHDR header{};
    header.lpData = reinterpret_cast<char*>(request.data());
    header.dwBufferLength = static_cast<DWORD>(request.size());
    ASSERT_EQ(services_->midiOutPrepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
    ASSERT_EQ(services_->midiOutLongMsg(out, &header, sizeof(header)), MMSYSERR_NOERROR);
    const auto received = peer_->NextReceived();
    if (received != request) {
      ++lost;
      ADD_FAILURE() << "round " << round << ": received " << received.size() << " bytes"
                    << (received.size() > 5 ? " of round " + std::to_string(received[5]) : "");
    }
    EXPECT_EQ(services_->midiOutUnprepareHeader(out, &header, sizeof(header)), MMSYSERR_NOERROR);
    EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
  }
  EXPECT_EQ(lost, 0) << "of " << kOpenRounds << " messages sent right after the open";
}

TEST_F(RtMidiServicesTest, AMessageSentAsSoonAsAnInputOpensArrives) {
  int lost = 0;
  for (int round = 0; round < kOpenRounds; ++round) {
    CallbackRecorder recorder;
    HMIDIIN in = OpenPeerInput(recorder);
    ASSERT_NE(in, nullptr);
    std::vector<char> buffer(64);
    MIDIHDR header{};
    ASSERT_NO_FATAL_FAILURE(Arm(in, header, buffer));
    std::vector<unsigned char> reply = kIdentityReply;
    reply[6] = static_cast<unsigned char>(round);
    peer_->Send(reply);
    if (!recorder.WaitFor(MIM_LONGDATA) ||
        std::vector<unsigned char>(buffer.begin(), buffer.begin() + header.dwBytesRecorded) !=
            reply) {
      ++lost;
    }
    Disarm(in, header);
  }
  EXPECT_EQ(lost, 0) << "of " << kOpenRounds << " messages sent right after the open";
}

}  // namespace
}  // namespace korvane
