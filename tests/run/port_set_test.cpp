#include "run/port_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/log_console.h"
#include "run/report_midi_result.h"
#include "sim/virtual_midi_services.h"

namespace korvane {
namespace {

const Bytes kOurs = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x35, 0x00, 0x00, 0x00, 0xF7};
const Bytes kIdentityRequestW = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x01, 0xF7};

class PortSetTest : public ::testing::Test {
 protected:
  void AddPorts(int inputs, int outputs) {
    for (int i = 0; i < inputs; ++i)
      services_.AddInput("In " + std::to_string(i));
    for (int i = 0; i < outputs; ++i)
      services_.AddOutput("Out " + std::to_string(i));
  }

  // Starts an input and queues its buffer, as the discovery does.
  void Arm(PortRecord& input) {
    ASSERT_EQ(services_.midiInStart(input.inHandle), MMSYSERR_NOERROR);
    ASSERT_EQ(services_.midiInPrepareHeader(input.inHandle, input.header.get(), sizeof(MIDIHDR)),
              MMSYSERR_NOERROR);
    ASSERT_EQ(services_.midiInAddBuffer(input.inHandle, input.header.get(), sizeof(MIDIHDR)),
              MMSYSERR_NOERROR);
  }

  std::vector<std::uint32_t> InputDevices() const {
    std::vector<std::uint32_t> devices;
    for (PortRecord* r = ports_.InputHead(); r != nullptr; r = r->next.get()) {
      devices.push_back(r->deviceNumber);
    }
    return devices;
  }

  VirtualMidiServices services_;
  LogConsole log_;
  PortSet ports_{services_, log_};
};

TEST_F(PortSetTest, APortHeldElsewhereIsSkippedWithItsResultRunOnInTheLog) {
  AddPorts(3, 3);
  services_.FailInOpen(1, MMSYSERR_ALLOCATED);
  services_.FailOutOpen(0, MMSYSERR_ALLOCATED);
  log_.AppendLog("\r\nScanning");
  EXPECT_EQ(ports_.OpenAllMidiIn(128), 2);
  EXPECT_EQ(log_.Text(), "\r\nScanningMIDIINOPEN -> MMSYSERR_ALLOCATED");
  EXPECT_EQ(InputDevices(), (std::vector<std::uint32_t>{2, 0}));
  EXPECT_EQ(ports_.InputEvents().size(), 2u);

  EXPECT_EQ(ports_.OpenAllMidiOut(128), 2);
  EXPECT_EQ(log_.Text(),
            "\r\nScanningMIDIINOPEN -> MMSYSERR_ALLOCATEDMIDIOUTOPEN -> MMSYSERR_ALLOCATED");
  EXPECT_EQ(ports_.OutputHead()->deviceNumber, 2u);
  EXPECT_EQ(ports_.OutputHead()->next->deviceNumber, 1u);
  EXPECT_EQ(ports_.OutputHead()->next->next, nullptr);
  EXPECT_EQ(ports_.FindOutput(0), nullptr);
  EXPECT_STREQ(ports_.FindOutput(1)->ProductName(), "Out 1");
}

TEST_F(PortSetTest, ListsRunNewestFirstAndInputEventsFollowTheList) {
  AddPorts(3, 1);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 3);
  EXPECT_EQ(InputDevices(), (std::vector<std::uint32_t>{2, 1, 0}));
  const auto events = ports_.InputEvents();
  ASSERT_EQ(events.size(), 3u);
  int i = 0;
  for (PortRecord* r = ports_.InputHead(); r != nullptr; r = r->next.get(), ++i) {
    EXPECT_EQ(events[i], r->event.get());
    EXPECT_EQ(r->openCount.load(), 1);
    EXPECT_EQ(r->header->dwBufferLength, 64u);
    EXPECT_EQ(r->header->lpData, r->buffer.data());
    EXPECT_EQ(r->header->dwFlags, 0u);
    EXPECT_FALSE(r->event->IsSet());
  }
  EXPECT_STREQ(ports_.FindInput(1)->ProductName(), "In 1");
  EXPECT_TRUE(log_.Text().empty());
}

TEST_F(PortSetTest, AWaitThatReportsIndexZeroNamesTheHighestInput) {
  AddPorts(3, 0);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 3);
  Arm(*ports_.FindInput(0));
  Arm(*ports_.FindInput(2));
  services_.InjectInput(0, kOurs);
  services_.InjectInput(2, kOurs);
  ASSERT_TRUE(services_.WaitIdle());
  const std::uint32_t result = WaitForAnyEvent(ports_.InputEvents(), 1000);
  ASSERT_EQ(result, WAIT_OBJECT_0);
  EXPECT_EQ(ports_.InputHead()->deviceNumber, 2u);
}

TEST_F(PortSetTest, NoInputPortsGiveNoInputEvents) {
  AddPorts(0, 2);
  EXPECT_EQ(ports_.OpenAllMidiIn(128), 0);
  EXPECT_TRUE(ports_.InputEvents().empty());
  EXPECT_EQ(ports_.InputHead(), nullptr);
}

TEST_F(PortSetTest, OurReplySignalsAndStaysOutOfTheQueueUntilRequeued) {
  AddPorts(1, 0);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 1);
  PortRecord& input = *ports_.InputHead();
  Arm(input);
  services_.InjectInput(0, kOurs);
  ASSERT_EQ(WaitForEvent(*input.event, 2000), WAIT_OBJECT_0);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_EQ(services_.QueuedInputHeaders(0), 0u);
  EXPECT_EQ(input.header->dwBytesRecorded, kOurs.size());
  EXPECT_EQ(Bytes(input.buffer.begin(), input.buffer.begin() + kOurs.size()), kOurs);
  EXPECT_EQ(input.lastMessage.load(), MIM_LONGDATA);

  input.event->Reset();
  ports_.RequeueInputBuffer(input);
  EXPECT_EQ(services_.QueuedInputHeaders(0), 1u);
  EXPECT_EQ(input.header->dwBytesRecorded, 0u);
  EXPECT_EQ(input.header->dwFlags & MHDR_DONE, 0u);
  EXPECT_TRUE(log_.Text().empty());
}

TEST_F(PortSetTest, ForeignSysExIsHandedBackWithoutASignal) {
  AddPorts(1, 0);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 1);
  PortRecord& input = *ports_.InputHead();
  Arm(input);
  services_.InjectForeignSysEx(0);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_FALSE(input.event->IsSet());
  EXPECT_EQ(services_.QueuedInputHeaders(0), 1u);
  // Both foreign messages were received into the one buffer and handed back.
  EXPECT_EQ(services_.CallCount(MidiCall::kInAddBuffer), 3u);
  EXPECT_EQ(input.lastMessage.load(), MIM_LONGDATA);

  // A signal already given is kept: the foreign message leaves the event alone.
  input.event->Set();
  services_.InjectForeignSysEx(0);
  ASSERT_TRUE(services_.WaitIdle());
  EXPECT_TRUE(input.event->IsSet());
  EXPECT_TRUE(log_.Text().empty());
}

TEST_F(PortSetTest, AnEmptyBufferReturnedByResetIsSignalledAndNotQueuedAgain) {
  AddPorts(1, 0);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 1);
  PortRecord& input = *ports_.InputHead();
  Arm(input);
  ASSERT_EQ(services_.midiInReset(input.inHandle), MMSYSERR_NOERROR);
  EXPECT_TRUE(input.event->IsSet());
  EXPECT_EQ(input.header->dwBytesRecorded, 0u);
  EXPECT_EQ(services_.QueuedInputHeaders(0), 0u);
}

TEST_F(PortSetTest, ClosingReleasesEverythingAndClosingTwiceIsClosingOnce) {
  AddPorts(2, 2);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 2);
  ASSERT_EQ(ports_.OpenAllMidiOut(64), 2);
  Arm(*ports_.FindInput(1));  // a queued, prepared header: reset and unprepare first
  ports_.CloseAllMidiOut();
  ports_.CloseAllMidiIn();
  EXPECT_EQ(ports_.InputHead(), nullptr);
  EXPECT_EQ(ports_.OutputHead(), nullptr);
  EXPECT_TRUE(ports_.InputEvents().empty());
  EXPECT_EQ(services_.CallCount(MidiCall::kInClose), 2u);
  EXPECT_EQ(services_.CallCount(MidiCall::kOutClose), 2u);
  EXPECT_EQ(services_.CallCount(MidiCall::kInUnprepareHeader), 1u);
  EXPECT_TRUE(log_.Text().empty());

  ports_.CloseAllMidiOut();
  ports_.CloseAllMidiIn();
  EXPECT_EQ(services_.CallCount(MidiCall::kInClose), 2u);
  EXPECT_EQ(services_.CallCount(MidiCall::kInReset), 2u);
  EXPECT_TRUE(log_.Text().empty());

  // The ports are free again: a new open finds them all.
  EXPECT_EQ(ports_.OpenAllMidiIn(64), 2);
}

TEST_F(PortSetTest, ClosingAllButAPairKeepsItsRecordsUsableAndFreesTheRest) {
  AddPorts(3, 3);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 3);
  ASSERT_EQ(ports_.OpenAllMidiOut(64), 3);
  PortRecord* const input = ports_.FindInput(1);
  PortRecord* const output = ports_.FindOutput(2);
  ports_.CloseAllBut(PortPair{2, 1});
  EXPECT_EQ(ports_.InputHead(), input);
  EXPECT_EQ(ports_.OutputHead(), output);
  EXPECT_EQ(input->next, nullptr);
  EXPECT_EQ(output->next, nullptr);
  ASSERT_EQ(ports_.InputEvents().size(), 1u);
  EXPECT_EQ(ports_.InputEvents()[0], input->event.get());
  EXPECT_EQ(services_.CallCount(MidiCall::kInClose), 2u);
  EXPECT_EQ(services_.CallCount(MidiCall::kOutClose), 2u);
  // The pair still carries a message, and every other port opens elsewhere.
  Arm(*input);
  EXPECT_EQ(ports_.OpenAllMidiIn(64), 2);
}

TEST_F(PortSetTest, ARecordWhoseOpenCountIsZeroIsReleasedSilently) {
  AddPorts(2, 0);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 2);
  PortRecord& input = *ports_.FindInput(0);
  // As the transfer does when it closes an input and fails to open it again.
  ASSERT_EQ(services_.midiInClose(input.inHandle), MMSYSERR_NOERROR);
  EXPECT_EQ(input.openCount.load(), 0);
  EXPECT_EQ(input.lastMessage.load(), MIM_CLOSE);
  services_.AddCallFault(
      {.call = MidiCall::kInReset, .result = MMSYSERR_INVALHANDLE, .onward = true, .device = 0});
  ports_.CloseAllMidiIn();
  EXPECT_EQ(services_.CallCount(MidiCall::kInReset), 1u);  // only the open one
  EXPECT_EQ(services_.CallCount(MidiCall::kInClose), 2u);
  EXPECT_TRUE(log_.Text().empty());
}

TEST_F(PortSetTest, FailuresWhileClosingAreLoggedAndTheClosingGoesOn) {
  AddPorts(2, 1);
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 2);
  ASSERT_EQ(ports_.OpenAllMidiOut(64), 1);
  services_.AddCallFault({.call = MidiCall::kInReset, .result = MMSYSERR_INVALHANDLE, .nth = 1});
  services_.AddCallFault({.call = MidiCall::kOutClose, .result = MMSYSERR_NOMEM, .nth = 1});
  ports_.CloseAllMidiOut();
  ports_.CloseAllMidiIn();
  EXPECT_EQ(log_.Text(), "MIDIOUTCLOSE -> MMSYSERR_NOMEMMIDIINRESET -> MMSYSERR_INVALHANDLE");
  EXPECT_EQ(services_.CallCount(MidiCall::kInClose), 2u);
  EXPECT_EQ(ports_.InputHead(), nullptr);
  EXPECT_EQ(ports_.OutputHead(), nullptr);
}

TEST_F(PortSetTest, MomOpenIsCountedWithoutASignalAndLaterOutputMessagesSignal) {
  AddPorts(0, 1);
  services_.AttachController(0, {});
  ASSERT_EQ(ports_.OpenAllMidiOut(16), 1);
  PortRecord& output = *ports_.OutputHead();
  EXPECT_EQ(output.openCount.load(), 1);
  EXPECT_EQ(output.lastMessage.load(), MOM_OPEN);
  EXPECT_FALSE(output.event->IsSet());

  std::copy(kIdentityRequestW.begin(), kIdentityRequestW.end(), output.buffer.begin());
  output.header->dwBufferLength = 8;
  ASSERT_EQ(services_.midiOutPrepareHeader(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
            MMSYSERR_NOERROR);
  ASSERT_EQ(services_.midiOutLongMsg(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
            MMSYSERR_NOERROR);
  ASSERT_EQ(WaitForEvent(*output.event, 2000), WAIT_OBJECT_0);
  EXPECT_EQ(output.lastMessage.load(), MOM_DONE);
  // The prepared header is unprepared on closing.
  ports_.CloseAllMidiOut();
  EXPECT_EQ(services_.CallCount(MidiCall::kOutUnprepareHeader), 1u);
  EXPECT_TRUE(log_.Text().empty());
}

TEST_F(PortSetTest, AnIdentityExchangeWithAControllerThroughThePortSet) {
  AddPorts(2, 2);
  services_.AttachController(1, {0}, {.name = "TRW1000 A"});
  ASSERT_EQ(ports_.OpenAllMidiIn(64), 2);
  ASSERT_EQ(ports_.OpenAllMidiOut(64), 2);
  for (PortRecord* r = ports_.InputHead(); r != nullptr; r = r->next.get())
    Arm(*r);

  PortRecord& output = *ports_.FindOutput(1);
  std::copy(kIdentityRequestW.begin(), kIdentityRequestW.end(), output.buffer.begin());
  output.header->dwBufferLength = 8;
  ASSERT_EQ(services_.midiOutPrepareHeader(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
            MMSYSERR_NOERROR);
  ASSERT_EQ(services_.midiOutLongMsg(output.outHandle, output.header.get(), sizeof(MIDIHDR)),
            MMSYSERR_NOERROR);
  // Input 0 is the last record of the list: index 1.
  ASSERT_EQ(WaitForAnyEvent(ports_.InputEvents(), 2000), WAIT_OBJECT_0 + 1);
  const PortRecord& input = *ports_.FindInput(0);
  EXPECT_EQ(input.header->dwBytesRecorded, 20u);
  EXPECT_EQ(std::string(input.buffer.data() + 7, 9), "TRW1000 A");
  ports_.CloseAllMidiOut();
  ports_.CloseAllMidiIn();
  EXPECT_TRUE(log_.Text().empty());
}

}  // namespace
}  // namespace korvane
