#include "tests/contract/midi_services_contract.h"

#include <string>
#include <thread>

namespace korvane::contract {

using testing::CallbackRecorder;

namespace {

const Message kIdentityReply = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x14, 0x02, 'K', 'V', 0xF7};
// Another maker's kind of SysEx: a universal identity request.
const Message kUniversal = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};

// A SysEx of length bytes (at least 2).
Message SysExOf(std::size_t length) {
  Message message = {0xF0};
  for (std::size_t i = 1; i + 1 < length; ++i)
    message.push_back(static_cast<unsigned char>(i & 0x7F));
  message.push_back(0xF7);
  return message;
}

}  // namespace

void MidiServicesBasics::SetUp() {
  rig_ = GetParam().make();
  ASSERT_EQ(rig_->SetUpError(), "");
  services_ = &rig_->Services();
}

void MidiServicesContract::SetUp() {
  ASSERT_NO_FATAL_FAILURE(MidiServicesBasics::SetUp());
  if (const std::string why = rig_->NoPorts(); !why.empty())
    GTEST_SKIP() << why;
}

void MidiServicesContract::TearDown() {
  for (HMIDIIN in : openedIns_)
    services_->midiInClose(in);
  for (HMIDIOUT out : openedOuts_)
    services_->midiOutClose(out);
}

HMIDIIN MidiServicesContract::OpenInput(CallbackRecorder& recorder, MMRESULT expected) {
  const int id = testing::DeviceNumber(*services_, true, rig_->InputName());
  EXPECT_GE(id, 0) << rig_->InputName() << " is not listed";
  HMIDIIN in = nullptr;
  EXPECT_EQ(services_->midiInOpen(&in, static_cast<UINT>(id), recorder.InProc(),
                                  recorder.Instance(), CALLBACK_FUNCTION),
            expected);
  if (in != nullptr)
    openedIns_.push_back(in);
  return in;
}

HMIDIOUT MidiServicesContract::OpenOutput(CallbackRecorder& recorder, MMRESULT expected) {
  const int id = testing::DeviceNumber(*services_, false, rig_->OutputName());
  EXPECT_GE(id, 0) << rig_->OutputName() << " is not listed";
  HMIDIOUT out = nullptr;
  EXPECT_EQ(services_->midiOutOpen(&out, static_cast<UINT>(id), recorder.OutProc(),
                                   recorder.Instance(), CALLBACK_FUNCTION),
            expected);
  if (out != nullptr)
    openedOuts_.push_back(out);
  return out;
}

void MidiServicesContract::Arm(HMIDIIN in, MIDIHDR& header, std::vector<char>& buffer) {
  header = MIDIHDR{};
  header.lpData = buffer.data();
  header.dwBufferLength = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(services_->midiInPrepareHeader(in, &header, sizeof header), MMSYSERR_NOERROR);
  EXPECT_EQ(header.dwFlags, MHDR_PREPARED);
  ASSERT_EQ(services_->midiInAddBuffer(in, &header, sizeof header), MMSYSERR_NOERROR);
  EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_INQUEUE);
  ASSERT_EQ(services_->midiInStart(in), MMSYSERR_NOERROR);
}

void MidiServicesContract::Disarm(HMIDIIN in, MIDIHDR& header) {
  EXPECT_EQ(services_->midiInReset(in), MMSYSERR_NOERROR);
  EXPECT_EQ(services_->midiInUnprepareHeader(in, &header, sizeof header), MMSYSERR_NOERROR);
  EXPECT_FALSE(header.dwFlags & MHDR_PREPARED);
  EXPECT_EQ(services_->midiInClose(in), MMSYSERR_NOERROR);
}

MMRESULT MidiServicesContract::Send(HMIDIOUT out, Message& message, MIDIHDR& header) {
  header = MIDIHDR{};
  header.lpData = reinterpret_cast<char*>(message.data());
  header.dwBufferLength = static_cast<DWORD>(message.size());
  const MMRESULT prepared = services_->midiOutPrepareHeader(out, &header, sizeof header);
  return prepared != MMSYSERR_NOERROR ? prepared
                                      : services_->midiOutLongMsg(out, &header, sizeof header);
}

TEST_P(MidiServicesBasics, NumbersBeyondTheCountAndNullHandlesAreRefusedWithoutACallback) {
  CallbackRecorder recorder;
  const UINT inputs = services_->midiInGetNumDevs();
  const UINT outputs = services_->midiOutGetNumDevs();
  MIDIINCAPSA inCaps{};
  EXPECT_EQ(services_->midiInGetDevCapsA(inputs, &inCaps, sizeof inCaps), MMSYSERR_BADDEVICEID);
  MIDIOUTCAPSA outCaps{};
  EXPECT_EQ(services_->midiOutGetDevCapsA(outputs, &outCaps, sizeof outCaps), MMSYSERR_BADDEVICEID);
  HMIDIIN in = nullptr;
  EXPECT_EQ(
      services_->midiInOpen(&in, inputs, recorder.InProc(), recorder.Instance(), CALLBACK_FUNCTION),
      MMSYSERR_BADDEVICEID);
  HMIDIOUT out = nullptr;
  EXPECT_EQ(services_->midiOutOpen(&out, outputs, recorder.OutProc(), recorder.Instance(),
                                   CALLBACK_FUNCTION),
            MMSYSERR_BADDEVICEID);
  EXPECT_TRUE(recorder.Calls().empty());

  char data[4] = {};
  MIDIHDR header{};
  header.lpData = data;
  header.dwBufferLength = sizeof data;
  EXPECT_EQ(services_->midiInClose(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiOutClose(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiInStart(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiInReset(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiOutReset(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiInAddBuffer(nullptr, &header, sizeof header), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiOutLongMsg(nullptr, &header, sizeof header), MMSYSERR_INVALHANDLE);
  // Never handed over, the header is still the caller's, untouched.
  EXPECT_EQ(header.dwFlags, 0u);
}

// The port set counts MIM_OPEN into a record it made before the call, and
// frees the record once close returned: both callbacks come inside the calls.
TEST_P(MidiServicesContract, OpenAndCloseCallBackInsideTheCallAndAnOpenPortIsAllocated) {
  CallbackRecorder recorder;
  HMIDIIN in = OpenInput(recorder);
  ASSERT_NE(in, nullptr);
  auto calls = recorder.Calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].message, MIM_OPEN);
  EXPECT_EQ(calls[0].thread, std::this_thread::get_id());

  std::vector<char> buffer(64);
  MIDIHDR header{};
  ASSERT_NO_FATAL_FAILURE(Arm(in, header, buffer));
  EXPECT_EQ(services_->midiInReset(in), MMSYSERR_NOERROR);
  EXPECT_EQ(services_->midiInClose(in), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MIM_CLOSE), 1u);
  EXPECT_EQ(recorder.Calls().back().message, MIM_CLOSE);

  const std::size_t before = recorder.Calls().size();
  rig_->Inject(kIdentityReply);
  rig_->Settle();
  EXPECT_EQ(recorder.Calls().size(), before) << "a callback after the close";
  EXPECT_EQ(services_->midiInStart(in), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(services_->midiInClose(in), MMSYSERR_INVALHANDLE);

  HMIDIOUT out = OpenOutput(recorder);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(recorder.Count(MOM_OPEN), 1u);
  EXPECT_EQ(recorder.Calls().back().thread, std::this_thread::get_id());
  // Two updaters must never send into one controller at once.
  CallbackRecorder second;
  EXPECT_EQ(OpenOutput(second, MMSYSERR_ALLOCATED), nullptr);
  EXPECT_TRUE(second.Calls().empty());
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MOM_CLOSE), 1u);
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_INVALHANDLE);
}

TEST_P(MidiServicesContract, ASysExFillsTheQueuedHeaderOnTheDriversThreadAsFarAsItHolds) {
  CallbackRecorder recorder;
  HMIDIIN in = OpenInput(recorder);
  ASSERT_NE(in, nullptr);
  std::vector<char> buffer(kIdentityReply.size(), 0);
  MIDIHDR header{};
  ASSERT_NO_FATAL_FAILURE(Arm(in, header, buffer));

  rig_->Inject(kIdentityReply);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA));
  const testing::Call call = recorder.Calls().back();
  EXPECT_EQ(call.param1, reinterpret_cast<DWORD_PTR>(&header));
  EXPECT_NE(call.thread, std::this_thread::get_id());
  EXPECT_EQ(call.data, kIdentityReply);
  EXPECT_EQ(header.dwBytesRecorded, kIdentityReply.size());
  EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_DONE);

  // A longer message leaves its first bytes; the engine reads no further.
  header.dwFlags &= ~MHDR_DONE;
  ASSERT_EQ(services_->midiInAddBuffer(in, &header, sizeof header), MMSYSERR_NOERROR);
  const Message longer = SysExOf(45);
  rig_->Inject(longer);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 2));
  EXPECT_EQ(recorder.Calls().back().data, Message(longer.begin(), longer.begin() + buffer.size()));
  EXPECT_EQ(header.dwBytesRecorded, buffer.size());
  Disarm(in, header);
}

// The engine's input callback hands another maker's message straight back
// to the driver from inside MIM_LONGDATA; that must neither deadlock nor lose
// the next message.
TEST_P(MidiServicesContract, AHeaderQueuedAgainFromTheCallbackReceivesTheNextMessage) {
  CallbackRecorder recorder;
  HMIDIIN in = nullptr;
  recorder.RequeueWith([&](HMIDIIN handle, MIDIHDR& header) {
    if (header.dwBytesRecorded < 2 || header.lpData[1] != 0x7E)
      return;
    header.dwBytesRecorded = 0;
    header.dwFlags &= ~MHDR_DONE;
    services_->midiInAddBuffer(handle, &header, sizeof header);
  });
  in = OpenInput(recorder);
  ASSERT_NE(in, nullptr);
  std::vector<char> buffer(32, 0);
  MIDIHDR header{};
  ASSERT_NO_FATAL_FAILURE(Arm(in, header, buffer));

  rig_->Inject(kUniversal);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 1));
  rig_->Inject(kIdentityReply);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA, 2));
  const auto calls = recorder.Calls();
  EXPECT_EQ(calls[calls.size() - 2].data, kUniversal);
  EXPECT_EQ(calls.back().data, kIdentityReply);
  EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_DONE);
  Disarm(in, header);
}

// The scan and the transfer count on a header filled only by a SysEx that
// came while it was queued on a started input.
TEST_P(MidiServicesContract, WhatComesWithNoHeaderQueuedOnAStoppedInputOrAsANoteIsDropped) {
  CallbackRecorder recorder;
  HMIDIIN in = OpenInput(recorder);
  ASSERT_NE(in, nullptr);
  std::vector<char> buffer(32, 0);
  MIDIHDR header{};
  header.lpData = buffer.data();
  header.dwBufferLength = static_cast<DWORD>(buffer.size());
  ASSERT_EQ(services_->midiInPrepareHeader(in, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(services_->midiInStart(in), MMSYSERR_NOERROR);
  rig_->Inject(kUniversal);  // started, nothing queued
  rig_->Settle();
  ASSERT_EQ(services_->midiInAddBuffer(in, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(services_->midiInStop(in), MMSYSERR_NOERROR);
  rig_->Inject(kUniversal);  // queued, stopped
  rig_->Settle();
  EXPECT_EQ(recorder.Count(MIM_LONGDATA), 0u);
  EXPECT_EQ(header.dwFlags, MHDR_PREPARED | MHDR_INQUEUE);

  ASSERT_EQ(services_->midiInStart(in), MMSYSERR_NOERROR);
  rig_->Inject({0x90, 0x40, 0x7F});
  rig_->Inject(kIdentityReply);
  ASSERT_TRUE(recorder.WaitFor(MIM_LONGDATA));
  EXPECT_EQ(recorder.Count(MIM_LONGDATA), 1u);
  EXPECT_EQ(recorder.Calls().back().data, kIdentityReply);
  if (!rig_->ReportsShortMessages()) {
    EXPECT_EQ(recorder.Count(MIM_DATA), 0u);
  }
  Disarm(in, header);
}

// The port set resets, then unprepares: every header must be back by then.
TEST_P(MidiServicesContract, ResetHandsBackEveryQueuedHeaderEmptyBeforeItReturnsAndStops) {
  CallbackRecorder recorder;
  HMIDIIN in = OpenInput(recorder);
  ASSERT_NE(in, nullptr);
  std::vector<char> first(16), second(16);
  MIDIHDR a{}, b{};
  ASSERT_NO_FATAL_FAILURE(Arm(in, a, first));
  b.lpData = second.data();
  b.dwBufferLength = static_cast<DWORD>(second.size());
  ASSERT_EQ(services_->midiInPrepareHeader(in, &b, sizeof b), MMSYSERR_NOERROR);
  // A stale count from an earlier use must not survive, whether it was there
  // when the header was queued or written while it was.
  b.dwBytesRecorded = 99;
  ASSERT_EQ(services_->midiInAddBuffer(in, &b, sizeof b), MMSYSERR_NOERROR);
  if (!rig_->CountsInTheQueuedHeader())
    a.dwBytesRecorded = 99;

  ASSERT_EQ(services_->midiInReset(in), MMSYSERR_NOERROR);
  ASSERT_EQ(recorder.Count(MIM_LONGDATA), 2u);
  const auto calls = recorder.Calls();
  EXPECT_EQ(calls[calls.size() - 2].param1, reinterpret_cast<DWORD_PTR>(&a));
  EXPECT_EQ(calls.back().param1, reinterpret_cast<DWORD_PTR>(&b));
  for (MIDIHDR* h : {&a, &b}) {
    EXPECT_EQ(h->dwBytesRecorded, 0u);
    EXPECT_EQ(h->dwFlags, MHDR_PREPARED | MHDR_DONE);
  }
  // Reset stopped the input too: a header queued again waits for a start.
  ASSERT_EQ(services_->midiInAddBuffer(in, &a, sizeof a), MMSYSERR_NOERROR);
  rig_->Inject(kIdentityReply);
  rig_->Settle();
  EXPECT_EQ(recorder.Count(MIM_LONGDATA), 2u);
  EXPECT_EQ(services_->midiInReset(in), MMSYSERR_NOERROR);
  EXPECT_EQ(services_->midiInUnprepareHeader(in, &b, sizeof b), MMSYSERR_NOERROR);
  Disarm(in, a);
}

// A message the system could not carry whole would vanish or arrive cut, so
// it is refused and the caller knows; the engine asks LongestMessage first.
TEST_P(MidiServicesContract, LongMessagesArriveWholeUpToTheLimitAndLongerOnesAreRefused) {
  CallbackRecorder recorder;
  HMIDIOUT out = OpenOutput(recorder);
  ASSERT_NE(out, nullptr);
  const std::size_t longest = rig_->Longest();
  ASSERT_EQ(services_->LongestMessage(out), longest);
  std::vector<std::size_t> lengths = {309};
  if (longest != MidiServices::kNoKnownLimit)
    lengths = {309, longest, longest + 1};
  std::size_t done = 0;
  for (const std::size_t length : lengths) {
    SCOPED_TRACE(length);
    Message message = SysExOf(length);
    MIDIHDR header{};
    const bool fits = length <= longest;
    EXPECT_EQ(Send(out, message, header), fits ? MMSYSERR_NOERROR : MMSYSERR_INVALPARAM);
    done += fits;
    ASSERT_TRUE(recorder.WaitFor(MOM_DONE, done));
    EXPECT_EQ(recorder.Count(MOM_DONE), done);
    EXPECT_EQ(header.dwFlags, fits ? MHDR_PREPARED | MHDR_DONE : MHDR_PREPARED);
    if (!fits) {
      // Had it gone out, it would come before this one.
      Message marker = kUniversal;
      MIDIHDR markerHeader{};
      ASSERT_EQ(Send(out, marker, markerHeader), MMSYSERR_NOERROR);
      ASSERT_TRUE(recorder.WaitFor(MOM_DONE, ++done));
      EXPECT_EQ(services_->midiOutUnprepareHeader(out, &markerHeader, sizeof markerHeader),
                MMSYSERR_NOERROR);
      message = marker;
    }
    EXPECT_EQ(rig_->NextReceived(), message);
    EXPECT_EQ(services_->midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags, fits ? MHDR_DONE : 0u);
  }
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
}

TEST_P(MidiServicesContract, MisuseGetsWinmmResults) {
  CallbackRecorder recorder;
  HMIDIIN in = OpenInput(recorder);
  ASSERT_NE(in, nullptr);
  std::vector<char> buffer(16);
  MIDIHDR header{};
  header.lpData = buffer.data();
  header.dwBufferLength = static_cast<DWORD>(buffer.size());
  EXPECT_EQ(services_->midiInPrepareHeader(in, &header, 8), MMSYSERR_INVALPARAM);
  EXPECT_EQ(services_->midiInAddBuffer(in, &header, sizeof header), MIDIERR_UNPREPARED);
  ASSERT_EQ(services_->midiInPrepareHeader(in, &header, sizeof header), MMSYSERR_NOERROR);
  ASSERT_EQ(services_->midiInAddBuffer(in, &header, sizeof header), MMSYSERR_NOERROR);
  // A queued header can be neither queued again nor unprepared, nor its port closed.
  EXPECT_EQ(services_->midiInAddBuffer(in, &header, sizeof header), MIDIERR_STILLPLAYING);
  EXPECT_EQ(services_->midiInUnprepareHeader(in, &header, sizeof header), MIDIERR_STILLPLAYING);
  EXPECT_EQ(services_->midiInClose(in), MIDIERR_STILLPLAYING);
  EXPECT_EQ(recorder.Count(MIM_CLOSE), 0u);
  Disarm(in, header);

  HMIDIOUT out = OpenOutput(recorder);
  ASSERT_NE(out, nullptr);
  MIDIHDR outHeader{};
  outHeader.lpData = buffer.data();
  outHeader.dwBufferLength = 4;
  EXPECT_EQ(services_->midiOutLongMsg(out, &outHeader, sizeof outHeader), MIDIERR_UNPREPARED);
  EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
  EXPECT_EQ(recorder.Count(MOM_DONE), 0u);
}

// A port is live when its open returns, as on WinMM: the engine asks the
// controller at once. Repeated, because a late server cycle only now and
// then loses a message.
TEST_P(MidiServicesContract, AMessageSentAsSoonAsAPortOpensArrives) {
  constexpr int kRounds = 20;
  int lost = 0;
  for (int round = 0; round < kRounds; ++round) {
    CallbackRecorder recorder;
    HMIDIOUT out = OpenOutput(recorder);
    ASSERT_NE(out, nullptr);
    Message request = kUniversal;
    request[4] = static_cast<unsigned char>(round);
    MIDIHDR header{};
    ASSERT_EQ(Send(out, request, header), MMSYSERR_NOERROR);
    lost += rig_->NextReceived() != request;
    ASSERT_TRUE(recorder.WaitFor(MOM_DONE));
    EXPECT_EQ(services_->midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(services_->midiOutClose(out), MMSYSERR_NOERROR);
  }
  for (int round = 0; round < kRounds; ++round) {
    CallbackRecorder recorder;
    HMIDIIN in = OpenInput(recorder);
    ASSERT_NE(in, nullptr);
    std::vector<char> buffer(64);
    MIDIHDR header{};
    ASSERT_NO_FATAL_FAILURE(Arm(in, header, buffer));
    Message reply = kIdentityReply;
    reply[6] = static_cast<unsigned char>(round);
    rig_->Inject(reply);
    lost += !recorder.WaitFor(MIM_LONGDATA) || recorder.Calls().back().data != reply;
    Disarm(in, header);
  }
  EXPECT_EQ(lost, 0) << "of " << 2 * kRounds << " messages sent right after an open";
}

}  // namespace korvane::contract
