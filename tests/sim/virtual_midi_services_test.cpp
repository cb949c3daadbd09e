// The virtual MIDI system's own parts: controllers, vanishing ports and
// injected faults. What it promises as a MIDI system is the contract's
// (tests/contract/virtual_contract_test.cpp).
#include "sim/virtual_midi_services.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/contract/callback_recorder.h"

namespace korvane {
namespace {

const Bytes kIdentityRequestW = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x01, 0xF7};

// Records callbacks; with requeue set, hands each returned buffer back to the
// driver from inside the callback.
struct Recorder : testing::CallbackRecorder {
  explicit Recorder(VirtualMidiServices& services) {
    RequeueWith([this, &services](HMIDIIN in, MIDIHDR& header) {
      if (requeue)
        services.midiInAddBuffer(in, &header, sizeof header);
    });
  }
  std::atomic<bool> requeue{false};
};

// One controller on output 0 / input 0, both ports open, the input started
// with one prepared and queued header.
class Wired : public ::testing::Test {
 protected:
  void SetUp() override { Build({}); }

  void Build(DeviceModelOptions options) {
    in_ = services_.AddInput("Korvane In");
    out_ = services_.AddOutput("Korvane Out");
    controller_ = services_.AttachController(out_, {in_}, std::move(options));
    Open();
  }

  void Open() {
    ASSERT_EQ(
        services_.midiInOpen(&hin_, in_, inRec_.InProc(), inRec_.Instance(), CALLBACK_FUNCTION),
        MMSYSERR_NOERROR);
    ASSERT_EQ(services_.midiOutOpen(&hout_, out_, outRec_.OutProc(), outRec_.Instance(),
                                    CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    inHeader_ = MIDIHDR{};
    inHeader_.lpData = inBuffer_;
    inHeader_.dwBufferLength = sizeof inBuffer_;
    ASSERT_EQ(services_.midiInPrepareHeader(hin_, &inHeader_, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(services_.midiInAddBuffer(hin_, &inHeader_, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    ASSERT_EQ(services_.midiInStart(hin_), MMSYSERR_NOERROR);
  }

  void Close() {
    inRec_.requeue = false;  // the reset hands the buffer back for good
    EXPECT_EQ(services_.midiInReset(hin_), MMSYSERR_NOERROR);
    EXPECT_EQ(services_.midiInClose(hin_), MMSYSERR_NOERROR);
    EXPECT_EQ(services_.midiOutClose(hout_), MMSYSERR_NOERROR);
    hin_ = nullptr;
  }

  // Sends on our output, or on another one.
  MMRESULT Send(Bytes message, HMIDIOUT on = nullptr) {
    MIDIHDR header{};
    header.lpData = reinterpret_cast<char*>(message.data());
    header.dwBufferLength = static_cast<DWORD>(message.size());
    on = on != nullptr ? on : hout_;
    MMRESULT result = services_.midiOutPrepareHeader(on, &header, sizeof(MIDIHDR));
    if (result == MMSYSERR_NOERROR)
      result = services_.midiOutLongMsg(on, &header, sizeof(MIDIHDR));
    services_.midiOutUnprepareHeader(on, &header, sizeof(MIDIHDR));
    return result;
  }

  void TearDown() override {
    if (hin_ != nullptr) {
      services_.midiInReset(hin_);
      services_.midiInClose(hin_);
      services_.midiOutClose(hout_);
    }
  }

  VirtualMidiServices services_;
  UINT in_ = 0, out_ = 0;
  int controller_ = 0;
  HMIDIIN hin_ = nullptr;
  HMIDIOUT hout_ = nullptr;
  Recorder inRec_{services_}, outRec_{services_};
  char inBuffer_[64] = {};
  MIDIHDR inHeader_{};
};

TEST(VirtualMidiServices, ListsDevicesWithTheirProductNames) {
  VirtualMidiServices services;
  services.AddInput("In A");
  services.AddInput("In B");
  services.AddOutput("Out A");
  EXPECT_EQ(services.midiInGetNumDevs(), 2u);
  EXPECT_EQ(services.midiOutGetNumDevs(), 1u);
  MIDIINCAPSA inCaps{};
  ASSERT_EQ(services.midiInGetDevCapsA(1, &inCaps, sizeof inCaps), MMSYSERR_NOERROR);
  EXPECT_STREQ(inCaps.szPname, "In B");
  MIDIOUTCAPSA outCaps{};
  ASSERT_EQ(services.midiOutGetDevCapsA(0, &outCaps, sizeof outCaps), MMSYSERR_NOERROR);
  EXPECT_STREQ(outCaps.szPname, "Out A");
  EXPECT_EQ(services.midiOutGetDevCapsA(1, &outCaps, sizeof outCaps), MMSYSERR_BADDEVICEID);

  // A name longer than the field is cut and still terminated.
  services.AddInput(std::string(40, 'x'));
  ASSERT_EQ(services.midiInGetDevCapsA(2, &inCaps, sizeof inCaps), MMSYSERR_NOERROR);
  EXPECT_EQ(std::strlen(inCaps.szPname), static_cast<std::size_t>(MAXPNAMELEN - 1));
}

TEST_F(Wired, AControllersReplyFillsTheQueuedHeaderFromTheDriverThread) {
  ASSERT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  const auto seen = inRec_.Calls();
  ASSERT_EQ(seen.size(), 2u);  // MIM_OPEN, then the reply
  EXPECT_EQ(seen[1].message, static_cast<UINT>(MIM_LONGDATA));
  EXPECT_NE(seen[1].thread, std::this_thread::get_id());
  EXPECT_EQ(seen[1].bytesRecorded, 20u);
  EXPECT_EQ(seen[1].data[6], 0x02);
  EXPECT_EQ(inHeader_.dwFlags, MHDR_PREPARED | MHDR_DONE);
  EXPECT_EQ(services_.SentMessages(out_), std::vector<Bytes>{kIdentityRequestW});

  // MOM_DONE comes from the driver thread too.
  ASSERT_EQ(outRec_.Count(MOM_DONE), 1u);
  EXPECT_NE(outRec_.Calls().back().thread, std::this_thread::get_id());

  // Heard, but its reply finds no header queued again.
  ASSERT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), 1u);
  EXPECT_EQ(services_.Controller(controller_).IdentityRequests(), 2u);
}

class Delayed : public Wired {
 protected:
  void SetUp() override { Build({.replyDelayMs = 50}); }
};

TEST_F(Delayed, RepliesArriveNoSoonerThanTheirDelay) {
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  ASSERT_EQ(inRec_.Count(MIM_LONGDATA), 1u);
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(50));
}

TEST(VirtualMidiServices, AControllerOnTwoInputsAnswersOnBoth) {
  VirtualMidiServices services;
  const UINT a = services.AddInput("A");
  const UINT b = services.AddInput("B");
  const UINT out = services.AddOutput("Out");
  services.AttachController(out, {a, b});
  Recorder recA{services}, recB{services};
  HMIDIIN ha = nullptr, hb = nullptr;
  HMIDIOUT hout = nullptr;
  std::vector<char> bufA(32), bufB(32);
  MIDIHDR hdrA{}, hdrB{};
  hdrA.lpData = bufA.data();
  hdrA.dwBufferLength = 32;
  hdrB.lpData = bufB.data();
  hdrB.dwBufferLength = 32;
  ASSERT_EQ(services.midiInOpen(&ha, a, recA.InProc(), recA.Instance(), CALLBACK_FUNCTION), 0u);
  ASSERT_EQ(services.midiInOpen(&hb, b, recB.InProc(), recB.Instance(), CALLBACK_FUNCTION), 0u);
  ASSERT_EQ(services.midiOutOpen(&hout, out, 0, 0, CALLBACK_FUNCTION), 0u);
  for (auto [h, hdr] : {std::pair{ha, &hdrA}, std::pair{hb, &hdrB}}) {
    ASSERT_EQ(services.midiInPrepareHeader(h, hdr, sizeof(MIDIHDR)), 0u);
    ASSERT_EQ(services.midiInAddBuffer(h, hdr, sizeof(MIDIHDR)), 0u);
    ASSERT_EQ(services.midiInStart(h), 0u);
  }
  Bytes request = kIdentityRequestW;
  MIDIHDR header{};
  header.lpData = reinterpret_cast<char*>(request.data());
  header.dwBufferLength = 8;
  ASSERT_EQ(services.midiOutPrepareHeader(hout, &header, sizeof(MIDIHDR)), 0u);
  ASSERT_EQ(services.midiOutLongMsg(hout, &header, sizeof(MIDIHDR)), 0u);
  ASSERT_TRUE(services.WaitIdle());
  EXPECT_EQ(recA.Count(MIM_LONGDATA), 1u);
  EXPECT_EQ(recB.Count(MIM_LONGDATA), 1u);
  EXPECT_EQ(hdrA.dwBytesRecorded, 20u);
  EXPECT_EQ(hdrB.dwBytesRecorded, 20u);
  EXPECT_EQ(services.midiInClose(ha), 0u);
  EXPECT_EQ(services.midiInClose(hb), 0u);
  EXPECT_EQ(services.midiOutClose(hout), 0u);
}

TEST_F(Wired, UnpluggedControllerAnswersNothing) {
  services_.UnplugController(controller_);
  ASSERT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), 0u);
  EXPECT_EQ(services_.SentMessages(out_).size(), 1u);
}

// What reaches a paused controller: lost (as on JACK) or taken once the pause
// ends (as a USB or ALSA queue keeps it); its answers wait for the end.
class PausedController : public Wired, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    Build({.stalls = {{.block = 0, .message = 0, .ms = 200, .queued = GetParam()}}});
  }
};

TEST_P(PausedController, LosesWhatArrivesOrTakesItAfterThePause) {
  const Bytes firstMessage = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x34, 0x00, 0x00, 0xF7};
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(Send(firstMessage), MMSYSERR_NOERROR);
  ASSERT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), GetParam() ? 1u : 0u);
  if (GetParam()) {
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
  }
}

INSTANTIATE_TEST_SUITE_P(LostOrQueued, PausedController, ::testing::Bool());

TEST_F(Wired, InjectedFailuresHitTheChosenCalls) {
  // The second long message fails; the others go out.
  services_.AddCallFault({.call = MidiCall::kOutLongMsg, .result = MMSYSERR_NOMEM, .nth = 2});
  EXPECT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  EXPECT_EQ(Send(kIdentityRequestW), MMSYSERR_NOMEM);
  EXPECT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  EXPECT_EQ(services_.SentMessages(out_).size(), 2u);
  EXPECT_EQ(services_.CallCount(MidiCall::kOutLongMsg), 3u);

  // From the nth on.
  services_.ClearCallFaults();
  services_.AddCallFault(
      {.call = MidiCall::kOutPrepareHeader, .result = 67, .nth = 2, .onward = true});
  EXPECT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  EXPECT_EQ(Send(kIdentityRequestW), 67u);
  EXPECT_EQ(Send(kIdentityRequestW), 67u);

  // Only calls on the chosen device match.
  services_.ClearCallFaults();
  services_.AddCallFault({.call = MidiCall::kInStart, .result = 5, .onward = true, .device = 3});
  EXPECT_EQ(services_.midiInStart(hin_), MMSYSERR_NOERROR);
}

// A firmware block message of the given index: F0 00 20 32 7F 15 34 <n> ... F7.
Bytes BlockMessage(std::size_t n) {
  return {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x34, static_cast<std::uint8_t>(n & 0x7F),
          0x00, 0xF7};
}

class Faulty : public Wired {
 protected:
  void SetUp() override {
    Build({.blockFaults = {{.block = 0, .status = 0, .strayBefore = StrayMessage::kIdentityReply}},
           .identityDelayMs = 150});
    inRec_.requeue = true;
  }
};

TEST_F(Faulty, TheStrayTheBlockReplyAndALateIdentityReplyArriveInTimeOrder) {
  for (std::size_t n = 0; n < 20; ++n)
    ASSERT_EQ(Send(BlockMessage(n)), MMSYSERR_NOERROR);
  // Asked in the middle of a block: what arrived of it is dropped.
  ASSERT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  std::vector<Bytes> arrived;
  for (const auto& seen : inRec_.Calls()) {
    if (seen.message == MIM_LONGDATA)
      arrived.push_back(seen.data);
  }
  ASSERT_EQ(arrived.size(), 3u);
  EXPECT_EQ(arrived[0][6], 0x02);  // the stray identity reply, 50 ms before...
  EXPECT_EQ(arrived[1][6], 0x35);  // ...the block's reply,
  EXPECT_EQ(arrived[2][6], 0x02);  // then the identity reply, 150 ms after its request
  EXPECT_EQ(services_.Controller(controller_).AcceptedMessages(), 16u);
  EXPECT_EQ(services_.Controller(controller_).PendingMessages(), 0u);
}

// Ports listed before, between and after the controller's.
class TwoNeighbours : public Wired {
 protected:
  void SetUp() override {
    services_.AddInput("Before In");
    in_ = services_.AddInput("Korvane In");
    services_.AddInput("After In");
    services_.AddOutput("Before Out");
    out_ = services_.AddOutput("Korvane Out");
    services_.AddOutput("After Out");
    inRec_.requeue = true;
  }

  std::vector<std::string> InputNames() {
    std::vector<std::string> names;
    for (UINT i = 0; i < services_.midiInGetNumDevs(); ++i) {
      MIDIINCAPSA caps{};
      EXPECT_EQ(services_.midiInGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
      names.push_back(caps.szPname);
    }
    return names;
  }
  std::vector<std::string> OutputNames() {
    std::vector<std::string> names;
    for (UINT i = 0; i < services_.midiOutGetNumDevs(); ++i) {
      MIDIOUTCAPSA caps{};
      EXPECT_EQ(services_.midiOutGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
      names.push_back(caps.szPname);
    }
    return names;
  }

  using Names = std::vector<std::string>;
};

TEST_F(TwoNeighbours, AVanishedControllerTakesItsPortsOutOfTheSystemAndARestartBringsThemBack) {
  const int controller = services_.AttachController(out_, {in_}, {.vanishAfterMessages = 20});
  Open();
  for (std::size_t n = 0; n < 16; ++n)
    ASSERT_EQ(Send(BlockMessage(n)), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), 1u);  // block 0's reply
  for (std::size_t n = 16; n < 20; ++n)
    ASSERT_EQ(Send(BlockMessage(n)), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(services_.Controller(controller).AcceptedFirmwareWithPartial().size(), 20u * 10);

  // The ports after it shift down; the old numbers name other ports or none.
  EXPECT_EQ(InputNames(), (Names{"Before In", "After In"}));
  EXPECT_EQ(OutputNames(), (Names{"Before Out", "After Out"}));
  MIDIINCAPSA caps{};
  EXPECT_EQ(services_.midiInGetDevCapsA(2, &caps, sizeof caps), MMSYSERR_BADDEVICEID);
  HMIDIOUT other = nullptr;
  ASSERT_EQ(services_.midiOutOpen(&other, 1, 0, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  EXPECT_EQ(services_.SentMessages(2).size(), 0u);
  EXPECT_EQ(Send(kIdentityRequestW, other), MMSYSERR_NOERROR);
  EXPECT_EQ(services_.SentMessages(2).size(), 1u);  // "After Out", now device 1
  EXPECT_EQ(services_.midiOutClose(other), MMSYSERR_NOERROR);

  // Its handles: sends fail, nothing arrives, and they still close.
  EXPECT_EQ(Send(kIdentityRequestW), MMSYSERR_NODRIVER);
  services_.InjectInput(in_, kIdentityRequestW);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), 1u);
  Close();

  // Plugged in again: listed in its place, holding nothing, answering.
  services_.RestartController(controller);
  EXPECT_EQ(InputNames(), (Names{"Before In", "Korvane In", "After In"}));
  EXPECT_TRUE(services_.Controller(controller).AcceptedFirmwareWithPartial().empty());
  Open();
  const std::size_t before = inRec_.Count(MIM_LONGDATA);
  EXPECT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), before + 1);
  Close();
}

TEST_F(TwoNeighbours, ARestartedControllersOldHandlesLeadNowhere) {
  const int controller = services_.AttachController(out_, {in_});
  Open();
  for (std::size_t n = 0; n < 20; ++n)
    ASSERT_EQ(Send(BlockMessage(n)), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  ASSERT_EQ(inRec_.Count(MIM_LONGDATA), 1u);

  services_.RestartController(controller);
  EXPECT_EQ(InputNames(), (Names{"Before In", "Korvane In", "After In"}));
  EXPECT_EQ(OutputNames(), (Names{"Before Out", "Korvane Out", "After Out"}));
  EXPECT_EQ(services_.Controller(controller).AcceptedMessages(), 0u);

  // The old output still sends, into nothing; nothing reaches the old input.
  EXPECT_EQ(Send(kIdentityRequestW), MMSYSERR_NOERROR);
  services_.InjectInput(in_, kIdentityRequestW);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), 1u);
  EXPECT_EQ(services_.Controller(controller).IdentityRequests(), 0u);

  // The new ports are free to open beside the old handles, and answer.
  Recorder fresh{services_};
  fresh.requeue = true;
  HMIDIIN newIn = nullptr;
  HMIDIOUT newOut = nullptr;
  ASSERT_EQ(services_.midiInOpen(&newIn, in_, fresh.InProc(), fresh.Instance(), CALLBACK_FUNCTION),
            MMSYSERR_NOERROR);
  ASSERT_EQ(services_.midiOutOpen(&newOut, out_, 0, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  std::vector<char> newBuffer(64);
  MIDIHDR newHeader{};
  newHeader.lpData = newBuffer.data();
  newHeader.dwBufferLength = 64;
  ASSERT_EQ(services_.midiInPrepareHeader(newIn, &newHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(services_.midiInAddBuffer(newIn, &newHeader, sizeof(MIDIHDR)), MMSYSERR_NOERROR);
  ASSERT_EQ(services_.midiInStart(newIn), MMSYSERR_NOERROR);
  EXPECT_EQ(Send(kIdentityRequestW, newOut), MMSYSERR_NOERROR);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(fresh.Count(MIM_LONGDATA), 1u);
  EXPECT_EQ(inRec_.Count(MIM_LONGDATA), 1u);
  fresh.requeue = false;
  EXPECT_EQ(services_.midiInReset(newIn), MMSYSERR_NOERROR);
  EXPECT_EQ(services_.midiInClose(newIn), MMSYSERR_NOERROR);
  EXPECT_EQ(services_.midiOutClose(newOut), MMSYSERR_NOERROR);
  Close();  // the old handles
}

TEST(VirtualMidiServices, ProbabilisticFailuresFollowTheSeed) {
  auto pattern = [](std::uint32_t seed) {
    VirtualMidiServices services;
    services.AddInput("In");
    services.AddCallFault(
        {.call = MidiCall::kInStart, .result = MMSYSERR_ERROR, .probability = 0.5, .seed = seed});
    HMIDIIN h = nullptr;
    EXPECT_EQ(services.midiInOpen(&h, 0, 0, 0, CALLBACK_FUNCTION), 0u);
    std::vector<bool> failed;
    for (int i = 0; i < 64; ++i)
      failed.push_back(services.midiInStart(h) != 0);
    EXPECT_EQ(services.midiInClose(h), 0u);
    return failed;
  };
  const std::vector<bool> first = pattern(7);
  EXPECT_EQ(first, pattern(7));
  EXPECT_NE(first, pattern(8));
  const auto failures = std::count(first.begin(), first.end(), true);
  EXPECT_GT(failures, 0);
  EXPECT_LT(failures, 64);
}

TEST(VirtualMidiServices, AChosenDevicesOpenFails) {
  VirtualMidiServices services;
  services.AddOutput("Zero");
  services.AddOutput("One");
  services.FailOutOpen(1, MMSYSERR_ALLOCATED);
  HMIDIOUT h0 = nullptr, h1 = nullptr;
  EXPECT_EQ(services.midiOutOpen(&h0, 0, 0, 0, CALLBACK_FUNCTION), MMSYSERR_NOERROR);
  EXPECT_EQ(services.midiOutOpen(&h1, 1, 0, 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
  EXPECT_EQ(services.midiOutOpen(&h1, 1, 0, 0, CALLBACK_FUNCTION), MMSYSERR_ALLOCATED);
  EXPECT_EQ(h1, nullptr);
  EXPECT_EQ(services.midiOutClose(h0), MMSYSERR_NOERROR);
}

TEST(VirtualMidiServices, SystemsSideBySideAreIndependent) {
  std::vector<std::unique_ptr<VirtualMidiServices>> systems;
  for (int i = 0; i < 4; ++i) {
    systems.push_back(std::make_unique<VirtualMidiServices>());
    systems.back()->AddInput("In " + std::to_string(i));
  }
  HMIDIIN h = nullptr;
  ASSERT_EQ(systems[0]->midiInOpen(&h, 0, 0, 0, CALLBACK_FUNCTION), 0u);
  HMIDIIN other = nullptr;
  EXPECT_EQ(systems[1]->midiInOpen(&other, 0, 0, 0, CALLBACK_FUNCTION), 0u);
  EXPECT_EQ(systems[0]->midiInClose(h), 0u);
  EXPECT_EQ(systems[1]->midiInClose(other), 0u);
  systems.clear();  // each joins its own driver thread
}

}  // namespace
}  // namespace korvane
