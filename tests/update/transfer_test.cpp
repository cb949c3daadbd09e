#include "update/transfer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "run/steps.h"
#include "tests/update/procedure_rig.h"
#include "update/connection_probe.h"
#include "update/message_cutter.h"
#include "update/port_scan.h"
#include "update/transfer_texts.h"

namespace korvane::testing {
namespace {

const std::string kDanger = kDangerText;

// One controller on output 0 answering on input 0; ports open, pair chosen.
struct TransferRig : ProcedureRig {
  explicit TransferRig(std::vector<std::uint8_t> image, DeviceModelOptions options = {}) {
    midi.AddInput("In A");
    midi.AddOutput("Out A");
    controller = midi.AttachController(0, {0}, std::move(options));
    std::size_t longest = 0;
    for (const auto& m : SplitMessages(image))
      longest = std::max(longest, m.size());
    state.inputBufferSize = static_cast<std::uint32_t>(longest);
    state.image = std::move(image);
    state.UsePair({0, 0});
  }

  std::string Log() const { return state.log.Text(); }
  DeviceModel Device() const { return midi.Controller(controller); }
  // What went out on the output but the probes' identity requests.
  std::vector<Bytes> FirmwareSent() const {
    std::vector<Bytes> firmware;
    for (Bytes& message : midi.SentMessages(0)) {
      if (message.size() > 6 && message[6] == 0x34)
        firmware.push_back(std::move(message));
    }
    return firmware;
  }

  int controller = 0;
};

// Every text handed to the log control, removals included as empty texts.
std::string LoggedPieces(const RecordingWindow& window) {
  std::string logged;
  for (const WindowOp& op : window.Ops()) {
    if (op.kind == WindowOp::kLogReplace)
      logged += op.text + "|";
  }
  return logged;
}

std::vector<int> ProgressPositions(const RecordingWindow& window) {
  std::vector<int> positions;
  for (const WindowOp& op : window.Ops()) {
    if (op.kind == WindowOp::kProgressPosition)
      positions.push_back(static_cast<int>(op.a));
  }
  return positions;
}

TEST(TransferTest, TwoAcknowledgedBlocksLeaveOneLineAndTheImageOnTheDevice) {
  TransferRig rig(MakeImage(32));
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.Log(), std::string(kGreeting) +
                           "\r\nWriting Block 2/2 ...OK\r\nUpdate successfully completed.");
  EXPECT_EQ(rig.window.ControlText(), rig.Log());
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_RESET_PORTS});
  EXPECT_EQ(rig.window.ProgressPosition(), 0);
  EXPECT_FALSE(rig.window.ProgressEnabled());
  EXPECT_EQ(rig.window.ProgressHigh(), 15);
  EXPECT_FALSE(rig.state.busy.IsBusy());
  EXPECT_EQ(rig.Device().AcceptedFirmware(), *rig.state.image);
  // Asked once more for its identity (a pair of requests) before the first block.
  const auto sent = rig.midi.SentMessages(0);
  ASSERT_EQ(sent.size(), 34u);
  EXPECT_EQ(sent[0][6], kCmdIdentityRequest);
  EXPECT_EQ(sent[1][6], kCmdIdentityRequest);
  EXPECT_EQ(std::vector<Bytes>(sent.begin() + 2, sent.end()), SplitMessages(*rig.state.image));
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kSuccess);
}

TEST(TransferTest, ProgressRunsOneToFifteenInEveryBlockAndIsNotSetBackBetween) {
  TransferRig rig(MakeImage(32));
  rig.OpenPorts();
  TransferWorker(rig.state);

  std::vector<int> expected = {0};
  for (int block = 0; block < 2; ++block) {
    for (int i = 1; i <= 15; ++i)
      expected.push_back(i);
  }
  expected.push_back(0);  // the success verdict
  EXPECT_EQ(ProgressPositions(rig.window), expected);
}

TEST(TransferTest, TwentyMessagesShowTheUnacknowledgedRestAsBlockTwoOfOne) {
  TransferRig rig(MakeImage(20));
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.Log(),
            std::string(kGreeting) + "\r\nWriting Block 2/1 ...\r\nUpdate successfully completed.");
  EXPECT_EQ(rig.Device().BlockReplies(), 1u);
  EXPECT_EQ(rig.Device().AcceptedFirmwareWithPartial(), *rig.state.image);
}

TEST(TransferTest, FewerThanSixteenMessagesAreBlockOneOfZeroAndNeverAcknowledged) {
  TransferRig rig(MakeImage(5));
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.Log(),
            std::string(kGreeting) + "\r\nWriting Block 1/0 ...\r\nUpdate successfully completed.");
  EXPECT_EQ(rig.Device().BlockReplies(), 0u);
  EXPECT_EQ(rig.Device().AcceptedFirmwareWithPartial(), *rig.state.image);
}

TEST(TransferTest, RefusedBlockKeepsItsLineAndTheRetryLine) {
  DeviceModelOptions options;
  options.addressed = true;
  options.blockFaults = {BlockFault{.block = 0, .status = 2}};
  TransferRig rig(MakeImage(32), options);
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.Log(), std::string(kGreeting) +
                           "\r\nWriting Block 1/2 ...Erase error"
                           "\r\n1st retry on Block 1/2 ...OK"
                           "\r\nWriting Block 2/2 ...OK"
                           "\r\nUpdate successfully completed.");
  EXPECT_EQ(rig.Device().AcceptedFirmware(), *rig.state.image);
  // A refused block is no sign of a lost device: no probe, only the
  // question before the first block.
  EXPECT_EQ(rig.Device().IdentityRequests(), 2u);
}

TEST(TransferTest, EveryStatusHasItsText) {
  DeviceModelOptions options;
  options.addressed = true;
  options.blockFaults = {BlockFault{.block = 0, .status = 1}, BlockFault{.block = 0, .status = 3},
                         BlockFault{.block = 0, .status = 9}};
  TransferRig rig(MakeImage(16), options);
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.Log(), std::string(kGreeting) +
                           "\r\nWriting Block 1/1 ...Sequence error"
                           "\r\n1st retry on Block 1/1 ...Reprogram error"
                           "\r\n2nd retry on Block 1/1 ...Unknown error"
                           "\r\n3rd retry on Block 1/1 ...OK\r\n"
                           "\r\nUpdate successfully completed.");
  EXPECT_EQ(rig.Device().AcceptedFirmware(), *rig.state.image);
}

TEST(TransferTest, TenUnansweredRetriesEndInDangerWhileTheProbeSucceeds) {
  DeviceModelOptions options;
  options.ignoreBlocksAfter = 0;
  TransferRig rig(MakeImage(16, 8), options);
  rig.OpenPorts();
  TransferWorker(rig.state);

  std::string expected = std::string(kGreeting) + "\r\nWriting Block 1/1 ...timeout ERROR";
  const char* ordinals[] = {"1st", "2nd", "3rd", "4th", "5th", "6th", "7th", "8th", "9th", "10th"};
  for (const char* ordinal : ordinals) {
    expected += std::string("\r\n") + ordinal + " retry on Block 1/1 ...timeout ERROR";
  }
  expected += kDanger;
  EXPECT_EQ(rig.Log(), expected);
  // The question before the first block and eleven probes, each sending its
  // request twice at least once (again when a loaded machine delays an
  // answer past 300 ms); nothing else but the eleven attempts at the block.
  const std::size_t requests = rig.Device().IdentityRequests();
  EXPECT_GE(requests, 24u);
  EXPECT_EQ(requests % 2, 0u);
  EXPECT_EQ(rig.midi.SentMessages(0).size(), 11u * 16u + requests);
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_RESET_PORTS});
  EXPECT_EQ(rig.window.ProgressPosition(), 15);  // kept after danger
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kDanger);
}

TEST(TransferTest, DeviceSilentAfterTheFirstBlockEndsWithLostConnection) {
  DeviceModelOptions options;
  options.unplugAfterMessages = 15;
  TransferRig rig(MakeImage(32, 8), options);
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.Log(), std::string(kGreeting) + "\r\nWriting Block 1/2 ...timeout ERROR" +
                           kLostConnectionText + kDanger);
  // The question before the first block, then the probe's pair of requests at
  // every attempt.
  EXPECT_EQ(rig.midi.SentMessages(0).size(), 2u + 16u + 2u * kProbeAttempts);
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_RESET_PORTS});
  EXPECT_TRUE(rig.window.ProgressEnabled());
  EXPECT_FALSE(rig.state.busy.IsBusy());
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kLostConnection);
}

// The controller gone (or another behind the same ports) by the time the
// update starts, or an input that cannot take a reply: nothing is sent, so no
// danger message, and the user is asked to rescan.
TEST(TransferTest, DeviceThatDoesNotAnswerBeforeTheFirstBlockGetsNothing) {
  struct Case {
    const char* what;
    DeviceModelOptions options;
    std::optional<CallFault> fault;
    std::string logTail;
  };
  DeviceModelOptions silent;
  silent.unplugAfter = 0;
  const std::vector<Case> cases = {
      {"silent", silent, std::nullopt, std::string(kStartingUpdateText) + kDeviceSilentText},
      {"input unprepared",
       {},
       CallFault{.call = MidiCall::kInPrepareHeader, .result = MMSYSERR_NOMEM, .onward = true},
       std::string("MIDIINPREPAREHEADER -> MMSYSERR_NOMEM") + kDeviceSilentText},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TransferRig rig(MakeImage(32, 8), c.options);
    if (c.fault)
      rig.midi.AddCallFault(*c.fault);
    rig.OpenPorts();
    TransferWorker(rig.state);

    EXPECT_TRUE(rig.Log().ends_with(c.logTail)) << rig.Log();
    EXPECT_TRUE(rig.FirmwareSent().empty());
    EXPECT_FALSE(rig.state.firmwareSent.load());
    EXPECT_EQ(rig.state.Outcome(), RunOutcome::kPortsUnusable);
    EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_RESET_PORTS});
    EXPECT_FALSE(rig.state.busy.IsBusy());
  }
}

// Restarted between the choice and the first block (a new process behind the
// same port names): the pair opened for the scan leads nowhere now, and the
// new controller gets nothing.
TEST(TransferTest, ControllerRestartedAfterTheScanGetsNothing) {
  TransferRig rig(MakeImage(32));
  rig.OpenPorts();
  PortScanWorker(rig.state);
  ASSERT_EQ(rig.state.foundDevices.size(), 1u);
  rig.state.chosenDevice = 0;
  rig.midi.RestartController(rig.controller);
  TransferWorker(rig.state);

  EXPECT_TRUE(rig.Log().ends_with(kDeviceSilentText)) << rig.Log();
  EXPECT_EQ(rig.Device().FirmwareMessages(), 0u);
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kPortsUnusable);
}

// A message longer than the MIDI system carries whole could never arrive.
TEST(TransferTest, MessageTooLongForTheMidiSystemSendsNothing) {
  TransferRig rig(MakeImage(16, 300));
  rig.midi.SetLongestMessage(299);
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_TRUE(rig.Log().ends_with(MessageTooLongLine(300, 299))) << rig.Log();
  EXPECT_TRUE(rig.midi.SentMessages(0).empty());
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kPortsUnusable);

  TransferRig fits(MakeImage(16, 300));
  fits.midi.SetLongestMessage(300);
  fits.OpenPorts();
  TransferWorker(fits.state);
  EXPECT_EQ(fits.state.Outcome(), RunOutcome::kSuccess);
}

// Only a block reply answers a block: a message with another command byte
// (a foreign command, a stray identity reply) is handed back unread, and what
// follows it still counts.
TEST(TransferTest, StrayMessagesBeforeABlockReplyAreHandedBackUnread) {
  // Taken, but answered with another command: no reply, so the block again.
  DeviceModelOptions foreign;
  foreign.addressed = true;
  foreign.blockFaults = {BlockFault{.block = 1, .status = 0, .replyCommand = 0x36}};
  TransferRig rig(MakeImage(48), foreign);
  rig.OpenPorts();
  TransferWorker(rig.state);
  EXPECT_EQ(rig.Log(), std::string(kGreeting) +
                           "\r\nWriting Block 2/3 ...timeout ERROR\r\n1st retry on Block 2/3 ...OK"
                           "\r\nWriting Block 3/3 ...OK\r\nUpdate successfully completed.");
  EXPECT_EQ(rig.Device().AcceptedFirmware(), *rig.state.image);

  // An identity reply from elsewhere just before block 2's "Erase error".
  DeviceModelOptions refusing;
  refusing.addressed = true;
  refusing.replyDelayMs = 60;
  refusing.blockFaults = {BlockFault{.block = 1, .status = 2}};
  TransferRig stray(MakeImage(48), refusing);
  stray.OpenPorts();
  stray.state.workers.Start([&] { TransferWorker(stray.state); });
  while (stray.Device().FirmwareMessages() < 32)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stray.midi.InjectInput(0, {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x02, 'T', 'R', 'W', 0xF7});
  ASSERT_EQ(stray.window.WaitForPostedStep(20000), std::optional<int>(STEP_RESET_PORTS));
  stray.state.workers.JoinAll();
  EXPECT_NE(
      stray.Log().find("\r\nWriting Block 2/3 ...Erase error\r\n1st retry on Block 2/3 ...OK"),
      std::string::npos)
      << stray.Log();
  EXPECT_EQ(stray.Device().AcceptedFirmware(), *stray.state.image);
  EXPECT_EQ(stray.state.Outcome(), RunOutcome::kSuccess);
}

TEST(TransferTest, ReplyArrivingInsideABlockIsThrownAway) {
  // The first attempt at block 1 is taken but not answered; a stray OK reply
  // arrives while the block is being sent. Taken for the block's reply, it
  // would hide the time-out.
  DeviceModelOptions options;
  options.addressed = true;
  options.blockFaults = {BlockFault{.block = 0, .status = 0, .dropReply = true}};
  TransferRig rig(MakeImage(16, 30), options);
  rig.OpenPorts();
  rig.state.workers.Start([&] { TransferWorker(rig.state); });
  while (ProgressPositions(rig.window).size() < 3)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  rig.midi.InjectInput(0, {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x35, 0x00, 0x00, 0x00, 0xF7});
  ASSERT_EQ(rig.window.WaitForPostedStep(20000), std::optional<int>(STEP_RESET_PORTS));
  rig.state.workers.JoinAll();

  EXPECT_EQ(rig.Log(), std::string(kGreeting) +
                           "\r\nWriting Block 1/1 ...timeout ERROR"
                           "\r\n1st retry on Block 1/1 ...OK\r\n"
                           "\r\nUpdate successfully completed.");
  EXPECT_EQ(rig.Device().AcceptedFirmware(), *rig.state.image);
}

TEST(TransferTest, LongMessagesAreHeldOneMillisecondPerThreeBytes) {
  TransferRig rig(MakeImage(3, 300));
  rig.OpenPorts();
  const auto start = std::chrono::steady_clock::now();
  TransferWorker(rig.state);
  const auto elapsed = std::chrono::steady_clock::now() - start;

  EXPECT_GE(elapsed, std::chrono::milliseconds(300));
  EXPECT_EQ(rig.FirmwareSent().size(), 3u);
}

TEST(TransferTest, RefusedPrepareDropsTheMessageUncountedAndForbidsSuccess) {
  TransferRig rig(MakeImage(32));
  rig.midi.AddCallFault(CallFault{.call = MidiCall::kOutPrepareHeader, .nth = 3});
  rig.OpenPorts();
  TransferWorker(rig.state);

  const auto sent = rig.FirmwareSent();
  ASSERT_EQ(sent.size(), 31u);
  // The fourth message took the third's place, and block 1 still counted 16.
  EXPECT_EQ(sent[2], SplitMessages(*rig.state.image)[3]);
  EXPECT_EQ(rig.Device().BlockReplies(), 1u);
  // The report ran on in block 1's line, which block 2's line replaced.
  EXPECT_NE(LoggedPieces(rig.window).find("|MIDIOUTPREPAREHEADER -> 0x0001 unknown|"),
            std::string::npos);
  const std::string log = rig.Log();
  EXPECT_EQ(log.find("successfully"), std::string::npos);
  EXPECT_TRUE(log.ends_with(kDanger));
}

TEST(TransferTest, RefusedSendIsNotCountedEither) {
  TransferRig rig(MakeImage(17));
  // The first firmware message, after the pair of identity requests.
  rig.midi.AddCallFault(CallFault{.call = MidiCall::kOutLongMsg, .nth = 3});
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.FirmwareSent().size(), 16u);
  EXPECT_EQ(rig.Device().BlockReplies(), 1u);
  EXPECT_NE(LoggedPieces(rig.window).find("|MIDIOUTLONGMSG -> 0x0001 unknown|"), std::string::npos);
  const std::string log = rig.Log();
  EXPECT_TRUE(log.ends_with(kDanger));
}

TEST(TransferTest, RepliesAreReadOnlyInsideTheInputBuffer) {
  // Eight-byte messages: the workflow's buffers still hold a whole reply.
  TransferRig rig(MakeImage(32, 8));
  ASSERT_EQ(rig.state.inputBufferSize, 8u);
  rig.OpenPorts();
  TransferWorker(rig.state);
  EXPECT_TRUE(rig.Log().ends_with(kSuccessText));

  // Buffers of 8 bytes cut the reply before its status: never read past
  // them, the reply counts as an unknown status.
  TransferRig small(MakeImage(16, 8));
  small.OpenPorts(8);
  TransferWorker(small.state);
  const std::string log = small.Log();
  EXPECT_NE(log.find("\r\nWriting Block 1/1 ...Unknown error\r\n1st retry"), std::string::npos);
  EXPECT_TRUE(log.ends_with(kDanger));
}

TEST(TransferTest, BytesOutsideAnyMessageAreNeverSent) {
  const auto messages = SplitMessages(MakeImage(2));
  std::vector<std::uint8_t> image = {0x00, 0xF7, 0x12};
  image.insert(image.end(), messages[0].begin(), messages[0].end());
  image.insert(image.end(), {0x34, 0xF7});
  image.insert(image.end(), messages[1].begin(), messages[1].end());
  image.insert(image.end(), {0xF0, 0x00, 0x20});  // never closed
  TransferRig rig(image);
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.FirmwareSent(), messages);
  EXPECT_TRUE(rig.Log().ends_with(kSuccessText));
}

TEST(TransferTest, CutterKeepsASecondStartInsideTheMessage) {
  const std::vector<std::uint8_t> image = {0x01, 0xF0, 0x05, 0xF0, 0x06, 0xF7, 0xF7, 0xF0};
  std::size_t position = 0;
  const auto first = CutNextMessage(image, position);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->offset, 1u);
  EXPECT_EQ(first->length, 5u);
  EXPECT_EQ(position, 6u);
  EXPECT_FALSE(CutNextMessage(image, position).has_value());
  EXPECT_EQ(position, image.size());
  EXPECT_EQ(CountMessageStarts(image), 3u);
}

TEST(TransferTest, MissingPairRecordResetsThePortsWithoutSending) {
  TransferRig rig(MakeImage(16));
  rig.state.UsePair({4, 0});
  rig.OpenPorts();
  TransferWorker(rig.state);

  EXPECT_EQ(rig.Log(), std::string(kGreeting) + kPairNotFoundText);
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kPortsUnusable);
  EXPECT_TRUE(rig.midi.SentMessages(0).empty());
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_RESET_PORTS});
  EXPECT_FALSE(rig.state.busy.IsBusy());

  rig.state.chosenDevice.reset();
  TransferWorker(rig.state);
  EXPECT_EQ(rig.window.PostedSteps(), (std::vector<int>{STEP_RESET_PORTS, STEP_RESET_PORTS}));
}

TEST(TransferTest, StopRequestEndsInDangerAndPostsNothing) {
  TransferRig rig(MakeImage(64, 30));
  rig.OpenPorts();
  rig.state.workers.Start([&] { TransferWorker(rig.state); });
  while (ProgressPositions(rig.window).size() < 3)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  rig.state.stopRequested = true;
  rig.state.workers.JoinAll();

  EXPECT_TRUE(rig.window.PostedSteps().empty());
  EXPECT_TRUE(rig.Log().ends_with(kDanger));
  EXPECT_LT(rig.midi.SentMessages(0).size(), 64u);
  EXPECT_FALSE(rig.state.busy.IsBusy());
}

// Forwards to the virtual system, but the input callback never hears of a
// close: the port seems never to confirm it.
class CloseNeverConfirmed : public MidiServices {
 public:
  explicit CloseNeverConfirmed(VirtualMidiServices& inner) : inner_(inner) {}

  static void CALLBACK Filter(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR p1,
                              DWORD_PTR p2) {
    if (message != MIM_CLOSE)
      MidiInProc(handle, message, instance, p1, p2);
  }

  UINT midiInGetNumDevs() override { return inner_.midiInGetNumDevs(); }
  UINT midiOutGetNumDevs() override { return inner_.midiOutGetNumDevs(); }
  MMRESULT midiInGetDevCapsA(UINT_PTR d, MIDIINCAPSA* c, UINT s) override {
    return inner_.midiInGetDevCapsA(d, c, s);
  }
  MMRESULT midiOutGetDevCapsA(UINT_PTR d, MIDIOUTCAPSA* c, UINT s) override {
    return inner_.midiOutGetDevCapsA(d, c, s);
  }
  MMRESULT midiInOpen(HMIDIIN* h, UINT d, DWORD_PTR, DWORD_PTR i, DWORD f) override {
    return inner_.midiInOpen(h, d, reinterpret_cast<DWORD_PTR>(&Filter), i, f);
  }
  MMRESULT midiOutOpen(HMIDIOUT* h, UINT d, DWORD_PTR c, DWORD_PTR i, DWORD f) override {
    return inner_.midiOutOpen(h, d, c, i, f);
  }
  MMRESULT midiInClose(HMIDIIN h) override { return inner_.midiInClose(h); }
  MMRESULT midiOutClose(HMIDIOUT h) override { return inner_.midiOutClose(h); }
  MMRESULT midiInStart(HMIDIIN h) override { return inner_.midiInStart(h); }
  MMRESULT midiInStop(HMIDIIN h) override { return inner_.midiInStop(h); }
  MMRESULT midiInReset(HMIDIIN h) override { return inner_.midiInReset(h); }
  MMRESULT midiOutReset(HMIDIOUT h) override { return inner_.midiOutReset(h); }
  MMRESULT midiInPrepareHeader(HMIDIIN h, MIDIHDR* m, UINT s) override {
    return inner_.midiInPrepareHeader(h, m, s);
  }
  MMRESULT midiInUnprepareHeader(HMIDIIN h, MIDIHDR* m, UINT s) override {
    return inner_.midiInUnprepareHeader(h, m, s);
  }
  MMRESULT midiInAddBuffer(HMIDIIN h, MIDIHDR* m, UINT s) override {
    return inner_.midiInAddBuffer(h, m, s);
  }
  MMRESULT midiOutPrepareHeader(HMIDIOUT h, MIDIHDR* m, UINT s) override {
    return inner_.midiOutPrepareHeader(h, m, s);
  }
  MMRESULT midiOutUnprepareHeader(HMIDIOUT h, MIDIHDR* m, UINT s) override {
    return inner_.midiOutUnprepareHeader(h, m, s);
  }
  MMRESULT midiOutLongMsg(HMIDIOUT h, MIDIHDR* m, UINT s) override {
    return inner_.midiOutLongMsg(h, m, s);
  }

 private:
  VirtualMidiServices& inner_;
};

TEST(TransferTest, InputThatNeverConfirmsItsCloseEndsTheRunWithNothingSent) {
  VirtualMidiServices virtualMidi;
  virtualMidi.AddInput("In A");
  virtualMidi.AddOutput("Out A");
  virtualMidi.AttachController(0, {0});
  CloseNeverConfirmed midi(virtualMidi);
  RecordingWindow window;
  UpdateState state(midi, window);
  state.log.AppendLog(kGreeting);
  state.image = MakeImage(16);
  state.UsePair({0, 0});
  state.ports.OpenAllMidiIn(state.PortBufferSize());
  state.ports.OpenAllMidiOut(state.PortBufferSize());

  const auto start = std::chrono::steady_clock::now();
  TransferWorker(state);
  // It waited for the close a while before it gave up.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  // Nothing was sent: no danger message, the user is asked to rescan.
  EXPECT_EQ(state.log.Text(), std::string(kGreeting) + kStartingUpdateText + kInputNotClosedText);
  EXPECT_TRUE(virtualMidi.SentMessages(0).empty());
  EXPECT_EQ(window.PostedSteps(), std::vector<int>{STEP_RESET_PORTS});
  EXPECT_FALSE(state.busy.IsBusy());
}

}  // namespace
}  // namespace korvane::testing
