#include "update/port_scan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "run/steps.h"
#include "tests/update/procedure_rig.h"

namespace korvane::testing {
namespace {

using Pairs = std::vector<PortPair>;

// inputs and outputs ports named "In 0".., "Out 0"..; the image's longest
// message is 8 bytes, as in the smallest update files.
struct ScanRig : ProcedureRig {
  ScanRig(int inputs, int outputs) {
    for (int i = 0; i < inputs; ++i)
      midi.AddInput("In " + std::to_string(i));
    for (int i = 0; i < outputs; ++i)
      midi.AddOutput("Out " + std::to_string(i));
    state.image = MakeImage(16, 8);
    state.inputBufferSize = 8;
  }

  static DeviceModelOptions Named(std::string name) {
    DeviceModelOptions options;
    options.name = std::move(name);
    return options;
  }

  // The pairs of the devices found, in list order.
  Pairs Found() const {
    Pairs pairs;
    for (const FoundDevice& device : state.foundDevices)
      pairs.push_back(device.ports);
    return pairs;
  }
  std::string Name(std::size_t entry) const { return state.foundDevices.at(entry).name; }
  // Every input left stopped with nothing queued and its header unprepared.
  bool InputsDisarmed() const {
    for (PortRecord* in = state.ports.InputHead(); in != nullptr; in = in->next.get()) {
      if (midi.QueuedInputHeaders(in->deviceNumber) != 0)
        return false;
      if (in->header->dwFlags & MHDR_PREPARED)
        return false;
    }
    return true;
  }
};

TEST(PortScanTest, OneControllerIsFoundWithItsPortsNameAndModel) {
  ScanRig rig(3, 2);
  rig.midi.AttachController(1, {2}, ScanRig::Named("TRW1000"));
  rig.OpenPorts();
  PortScanWorker(rig.state);

  ASSERT_EQ(rig.Found(), (Pairs{{1, 2}}));
  const FoundDevice& found = rig.state.foundDevices.front();
  EXPECT_EQ(found.name, "     TRW1000");
  EXPECT_EQ(found.model, kModelTrw1000);
  EXPECT_EQ(DeviceEntry(found), "     TRW1000 (Out 1/In 2)");
  EXPECT_FALSE(rig.state.chosenDevice.has_value());
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_CHOOSE_DEVICE});
  EXPECT_FALSE(rig.state.busy.IsBusy());
  EXPECT_TRUE(rig.InputsDisarmed());
  // One identity request per output port, for the image's model, and a
  // second on the output that was answered, to confirm the pair.
  const Bytes request = {0xF0, 0x00, 0x20, 0x32, 0x7F, 0x15, 0x01, 0xF7};
  EXPECT_EQ(rig.midi.SentMessages(0), std::vector<Bytes>{request});
  EXPECT_EQ(rig.midi.SentMessages(1), (std::vector<Bytes>{request, request}));
}

// The confirmation's request (or its answer) lost once or twice on a busy
// MIDI system: asked again, the controller is found; never answered, it is not.
TEST(PortScanTest, ALostConfirmationIsAskedAgainUpToThreeTimes) {
  for (const std::size_t lost : {1u, 2u, 3u}) {
    SCOPED_TRACE(lost);
    ScanRig rig(1, 1);
    DeviceModelOptions options = ScanRig::Named("TRW1000");
    for (std::size_t i = 1; i <= lost; ++i)
      options.lostIdentityRequests.push_back(i);
    rig.midi.AttachController(0, {0}, options);
    rig.OpenPorts();
    PortScanWorker(rig.state);
    EXPECT_EQ(rig.Found(), (lost < 3 ? Pairs{{0, 0}} : Pairs{}));
    EXPECT_EQ(rig.midi.SentMessages(0).size(), 1 + std::min<std::size_t>(lost + 1, 3));
  }
}

TEST(PortScanTest, NoControllerMeansNoDevice) {
  ScanRig rig(2, 2);
  rig.OpenPorts();
  PortScanWorker(rig.state);

  EXPECT_TRUE(rig.state.foundDevices.empty());
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_NO_DEVICE});
  EXPECT_FALSE(rig.state.busy.IsBusy());
  EXPECT_TRUE(rig.InputsDisarmed());
}

TEST(PortScanTest, ControllersAreListedHighestOutputFirst) {
  ScanRig rig(2, 4);
  rig.midi.AttachController(0, {0}, ScanRig::Named("FIRST"));
  rig.midi.AttachController(3, {1}, ScanRig::Named("SECOND"));
  rig.OpenPorts();
  PortScanWorker(rig.state);

  EXPECT_EQ(rig.Found(), (Pairs{{3, 1}, {0, 0}}));
  EXPECT_EQ(rig.Name(0), "      SECOND");
  EXPECT_EQ(rig.Name(1), "       FIRST");
}

TEST(PortScanTest, ReplyOnTwoInputsPairsTheLowestIndexAndNothingElse) {
  // Outputs 0 and 1; the controller on output 1 answers on inputs 1 and 0.
  // Input 1 has index 0 among the events and wins. Input 0's copy is no
  // answer to output 0's request, which nothing behind output 0 answers.
  ScanRig rig(2, 2);
  rig.midi.AttachController(1, {1, 0}, ScanRig::Named("BOTH"));
  rig.OpenPorts();
  PortScanWorker(rig.state);

  EXPECT_EQ(rig.Found(), (Pairs{{1, 1}}));
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_CHOOSE_DEVICE});
}

// A controller that answers after the 300 ms wait: its reply arrives while
// the next output is asked, and a pair only such a late answer explains is
// not listed, whatever stands behind that next output.
TEST(PortScanTest, LateAnswerIsNotPairedWithTheNextOutput) {
  struct Case {
    const char* what;
    std::uint8_t nextModel;
    Pairs expected;
  };
  const Case cases[] = {
      {"beside a controller of another model", 0x14, {}},
      {"beside one of the same model", 0x15, {{0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScanRig rig(2, 2);
    DeviceModelOptions late = ScanRig::Named("LATE");
    late.replyDelayMs = 350;
    rig.midi.AttachController(1, {1}, late);  // asked first
    DeviceModelOptions next = ScanRig::Named("NEXT");
    next.model = c.nextModel;
    next.replyDelayMs = 100;
    rig.midi.AttachController(0, {0}, next);
    rig.OpenPorts();
    PortScanWorker(rig.state);

    EXPECT_EQ(rig.Found(), c.expected);
  }
}

TEST(PortScanTest, ForeignSysExAroundTheReplyChangesNothing) {
  ScanRig rig(1, 1);
  DeviceModelOptions options = ScanRig::Named("AB123");
  options.noise = true;
  rig.midi.AttachController(0, {0}, options);
  rig.OpenPorts();
  PortScanWorker(rig.state);

  EXPECT_EQ(rig.Found(), (Pairs{{0, 0}}));
  EXPECT_EQ(rig.Name(0), "       AB123");
}

TEST(PortScanTest, ControllerOfAnotherModelIsNotPaired) {
  ScanRig rig(1, 1);
  DeviceModelOptions options;
  options.model = 0x14;
  rig.midi.AttachController(0, {0}, options);
  rig.OpenPorts();
  PortScanWorker(rig.state);
  EXPECT_EQ(rig.window.PostedSteps(), std::vector<int>{STEP_NO_DEVICE});
}

TEST(PortScanTest, NameIsReadOnlyInsideTheInputBuffer) {
  // Buffers of the image's 8 bytes hold only the name's first character; the
  // workflow's buffers are never that small, but nothing may be read past one.
  ScanRig rig(1, 1);
  rig.midi.AttachController(0, {0}, ScanRig::Named("TRW1000"));
  rig.OpenPorts(8);
  PortScanWorker(rig.state);
  EXPECT_EQ(rig.Name(0), "           T");
}

TEST(PortScanTest, RefusedPrepareSkipsThatOutputOnly) {
  ScanRig rig(1, 2);
  rig.midi.AttachController(0, {0});
  rig.midi.AddCallFault(CallFault{.call = MidiCall::kOutPrepareHeader, .result = 4, .nth = 1});
  rig.OpenPorts();
  PortScanWorker(rig.state);

  EXPECT_EQ(rig.state.log.Text(),
            std::string(kGreeting) + "MIDIOUTPREPAREHEADER -> MMSYSERR_ALLOCATED");
  EXPECT_TRUE(rig.midi.SentMessages(1).empty());
  EXPECT_EQ(rig.Found(), (Pairs{{0, 0}}));
}

TEST(PortScanTest, RescanReplacesTheDevicesAndTheChoice) {
  ScanRig rig(1, 1);
  rig.midi.AttachController(0, {0});
  rig.state.foundDevices = {{.ports = {7, 7}}, {.ports = {8, 8}}};
  rig.state.chosenDevice = 1;
  rig.OpenPorts();
  PortScanWorker(rig.state);
  EXPECT_EQ(rig.Found(), (Pairs{{0, 0}}));
  EXPECT_FALSE(rig.state.chosenDevice.has_value());
}

TEST(PortScanTest, StopRequestDisarmsAndPostsNothing) {
  ScanRig rig(1, 2);
  rig.midi.AttachController(0, {0});
  rig.OpenPorts();
  rig.state.stopRequested = true;
  PortScanWorker(rig.state);

  EXPECT_TRUE(rig.window.PostedSteps().empty());
  EXPECT_TRUE(rig.midi.SentMessages(0).empty());
  EXPECT_TRUE(rig.midi.SentMessages(1).empty());
  EXPECT_FALSE(rig.state.busy.IsBusy());
  EXPECT_TRUE(rig.InputsDisarmed());
}

}  // namespace
}  // namespace korvane::testing
