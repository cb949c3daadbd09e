#include "workflow/workflow.h"

#include <gtest/gtest.h>

#include <string>

#include "midi/clock.h"
#include "run/steps.h"
#include "tests/update/procedure_rig.h"

namespace korvane::testing {
namespace {

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

class WorkflowTest : public ::testing::Test {
 protected:
  WorkflowTest() {
    rig.state.image = MakeImage(32);
    rig.state.filePath = "/tmp/update.syx";
  }

  void AddController(DeviceModelOptions options = {}) {
    const UINT in = rig.midi.AddInput("Panel In");
    const UINT out = rig.midi.AddOutput("Panel Out");
    controller = rig.midi.AttachController(out, {in}, std::move(options));
  }

  // Hands posted steps to the workflow until `until` is posted (not handled).
  bool RunUntil(int until, int timeoutMs = 20000) {
    for (;;) {
      std::optional<int> step = rig.window.WaitForPostedStep(timeoutMs);
      if (!step)
        return false;
      if (*step == until)
        return true;
      flow.HandleStep(*step);
    }
  }

  int closeRequests = 0;
  ProcedureRig rig;
  Workflow flow{rig.state, [this] { ++closeRequests; }};
  int controller = -1;
};

TEST_F(WorkflowTest, StepCodesOutsideTheRangeChangeNothing) {
  rig.window.ClearOps();
  for (int step : {0, 255, 264, 0x500, -1})
    flow.HandleStep(step);
  EXPECT_TRUE(rig.window.Ops().empty());
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kInOpen), 0u);
  EXPECT_FALSE(rig.state.workers.AnyRunning());
}

TEST_F(WorkflowTest, UnknownModelIsRefusedWithoutOpeningAPort) {
  AddController();
  for (std::uint8_t model : {std::uint8_t{0x13}, std::uint8_t{0x16}}) {
    (*rig.state.image)[5] = model;
    rig.window.ClearOps();
    const std::string before = rig.state.log.Text();
    flow.HandleStep(STEP_SCAN_PORTS);
    EXPECT_EQ(rig.state.log.Text(), before + "\r\nSorry, incorrect file");
    EXPECT_EQ(rig.midi.CallCount(MidiCall::kInOpen), 0u);
    EXPECT_EQ(rig.midi.CallCount(MidiCall::kOutOpen), 0u);
    for (const WindowOp& op : rig.window.Ops()) {
      EXPECT_NE(op.kind, WindowOp::kButtonShow);
      EXPECT_NE(op.kind, WindowOp::kButtonHide);
    }
    EXPECT_FALSE(flow.PortsOpen());
  }
}

TEST_F(WorkflowTest, WithoutInputPortsNoOutputIsOpenedAndRetryIsOffered) {
  rig.midi.AddOutput("Lonely Out");
  flow.HandleStep(STEP_SCAN_PORTS);
  EXPECT_TRUE(EndsWith(rig.state.log.Text(), std::string(kCheckingPortsText) + kNoPortText));
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kNoPort);
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kOutOpen), 0u);
  EXPECT_TRUE(rig.window.ButtonVisible(kOpenButton));
  EXPECT_TRUE(rig.window.ButtonVisible(kRescanButton));
  EXPECT_EQ(rig.window.ButtonText(kOpenButton), "&Open");
  EXPECT_EQ(rig.window.ButtonText(kRescanButton), "&Rescan");
  EXPECT_FALSE(flow.PortsOpen());
  EXPECT_TRUE(rig.window.PostedSteps().empty());  // the reset ran in the same call
}

TEST_F(WorkflowTest, InputsWithoutOutputsAreClosedAgain) {
  rig.midi.AddInput("In A");
  rig.midi.AddInput("In B");
  flow.HandleStep(STEP_SCAN_PORTS);
  EXPECT_TRUE(EndsWith(rig.state.log.Text(), kNoPortText));
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kInOpen), 2u);
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kInClose), 2u);
  EXPECT_EQ(rig.state.ports.InputHead(), nullptr);
  EXPECT_TRUE(rig.window.ButtonVisible(kRescanButton));
}

TEST_F(WorkflowTest, FullUpdateThenRescanReusesTheImage) {
  AddController();
  // An answer past the list names no device: the first is taken, as OK with
  // none selected.
  rig.window.deviceAnswer = 7;
  flow.HandleStep(STEP_SCAN_PORTS);
  EXPECT_TRUE(flow.PortsOpen());
  ASSERT_TRUE(RunUntil(STEP_RESET_PORTS));
  EXPECT_EQ(rig.window.LastDevicePath(), "/tmp/update.syx");
  ASSERT_EQ(rig.window.LastDevices().size(), 1u);
  EXPECT_EQ(rig.window.LastDevices().front().outputName, "Panel Out");
  EXPECT_EQ(rig.state.chosenDevice, std::optional<std::size_t>(0));
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kSuccess);
  flow.HandleStep(STEP_RESET_PORTS);
  EXPECT_FALSE(flow.PortsOpen());
  EXPECT_EQ(rig.state.ports.InputHead(), nullptr);
  EXPECT_EQ(rig.state.ports.OutputHead(), nullptr);
  EXPECT_TRUE(rig.window.ButtonVisible(kOpenButton));
  EXPECT_TRUE(rig.window.ButtonVisible(kRescanButton));
  EXPECT_NE(rig.state.log.Text().find("Update successfully completed."), std::string::npos);
  EXPECT_EQ(rig.midi.Controller(controller).AcceptedFirmware(), *rig.state.image);

  // Rescan: the same image, scanned and sent again; no file is read.
  const auto image = *rig.state.image;
  flow.OnButton(kRescanButton);
  ASSERT_TRUE(RunUntil(STEP_RESET_PORTS));
  EXPECT_EQ(*rig.state.image, image);
  // Each run: the scan's request and its confirmation, then the pair of
  // requests before the first block.
  EXPECT_EQ(rig.midi.Controller(controller).IdentityRequests(), 8u);
  for (int step : rig.window.PostedSteps()) {
    EXPECT_NE(step, STEP_LOAD_FILE);
    EXPECT_NE(step, STEP_CHECK_FILE);
  }
}

TEST_F(WorkflowTest, AWorkerThatThrowsSaysSoLeavesBusyAndHandsBack) {
  AddController();
  rig.window.deviceAnswer = 0;
  rig.window.rangeThrows = true;  // the transfer's first window call
  flow.HandleStep(STEP_SCAN_PORTS);
  ASSERT_TRUE(RunUntil(STEP_RESET_PORTS));
  rig.state.workers.JoinAll();
  EXPECT_FALSE(rig.state.busy.IsBusy());
  EXPECT_TRUE(EndsWith(rig.state.log.Text(),
                       "\r\nAn internal error ended this step; please try again (the window "
                       "broke down)"))
      << rig.state.log.Text();
}

TEST_F(WorkflowTest, ATransferThatThrowsAfterFirmwareWentOutEndsInDanger) {
  AddController();
  rig.window.deviceAnswer = 0;
  rig.window.positionThrows = 5;  // inside block 1
  flow.HandleStep(STEP_SCAN_PORTS);
  ASSERT_TRUE(RunUntil(STEP_RESET_PORTS));
  rig.state.workers.JoinAll();
  EXPECT_FALSE(rig.state.busy.IsBusy());
  EXPECT_TRUE(EndsWith(rig.state.log.Text(), std::string("(the window broke down)") + kDangerText))
      << rig.state.log.Text();
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kDanger);
}

TEST_F(WorkflowTest, CancelInTheDeviceDialogDropsThePairsAndResets) {
  AddController();
  rig.window.deviceAnswer = std::nullopt;
  flow.HandleStep(STEP_SCAN_PORTS);
  ASSERT_TRUE(RunUntil(STEP_CHOOSE_DEVICE));
  flow.HandleStep(STEP_CHOOSE_DEVICE);
  EXPECT_FALSE(rig.state.chosenDevice.has_value());
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kNotChosen);
  ASSERT_EQ(rig.window.TakePostedStep(), std::optional<int>(STEP_RESET_PORTS));
  flow.HandleStep(STEP_RESET_PORTS);
  rig.state.workers.JoinAll();
  EXPECT_EQ(rig.midi.Controller(controller).FirmwareMessages(), 0u);
  EXPECT_EQ(rig.state.ports.InputHead(), nullptr);
  EXPECT_TRUE(rig.window.ButtonVisible(kOpenButton));
}

TEST_F(WorkflowTest, NoDeviceWritesItsMessageAndResets) {
  rig.midi.AddInput("Quiet In");
  rig.midi.AddOutput("Quiet Out");
  flow.HandleStep(STEP_SCAN_PORTS);
  ASSERT_TRUE(RunUntil(STEP_NO_DEVICE));
  flow.HandleStep(STEP_NO_DEVICE);
  EXPECT_TRUE(EndsWith(rig.state.log.Text(), kNoDeviceText));
  EXPECT_EQ(rig.state.Outcome(), RunOutcome::kNoDevice);
  ASSERT_TRUE(RunUntil(STEP_RESET_PORTS));
}

TEST_F(WorkflowTest, RepeatedScanWhilePortsAreOpenIsIgnored) {
  AddController();
  rig.window.deviceAnswer = std::nullopt;
  flow.HandleStep(STEP_SCAN_PORTS);
  flow.HandleStep(STEP_SCAN_PORTS);
  flow.OnButton(kRescanButton);  // a click while the scan runs is dropped too
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kInOpen), 1u);
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kOutOpen), 1u);
  ASSERT_TRUE(RunUntil(STEP_CHOOSE_DEVICE));
  EXPECT_EQ(rig.midi.Controller(controller).IdentityRequests(), 2u);  // asked and confirmed
  for (int step : rig.window.PostedSteps())
    EXPECT_NE(step, STEP_SCAN_PORTS);
}

TEST_F(WorkflowTest, StrayStartUpdateStartsNothing) {
  AddController();
  flow.HandleStep(STEP_START_UPDATE);  // no ports, no pairs
  rig.state.workers.JoinAll();
  EXPECT_EQ(rig.midi.Controller(controller).FirmwareMessages(), 0u);
  EXPECT_TRUE(rig.window.PostedSteps().empty());
}

TEST_F(WorkflowTest, CloseGuardsWhileBusy) {
  rig.state.busy.EnterBusy();
  EXPECT_FALSE(flow.CloseAllowed());
  rig.window.ClearOps();
  rig.window.askAnswer = true;  // OK: the work goes on
  EXPECT_FALSE(flow.PassCommand(IDCANCEL));
  rig.window.askAnswer = false;  // Cancel: the window may close
  EXPECT_TRUE(flow.PassCommand(IDCANCEL));
  EXPECT_TRUE(flow.PassCommand(IDOK));  // the accept command is never asked about
  const auto ops = rig.window.Ops();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].kind, WindowOp::kAsk);
  EXPECT_EQ(ops[0].text, std::string("Korvane Update Utility|") + kCancelQuestion);
  EXPECT_NE(ops[0].text.find("progrss"), std::string::npos);

  rig.state.busy.LeaveBusy();
  rig.window.ClearOps();
  EXPECT_TRUE(flow.CloseAllowed());
  EXPECT_TRUE(flow.PassCommand(IDCANCEL));
  EXPECT_TRUE(rig.window.Ops().empty());
}

TEST_F(WorkflowTest, OpenHidesOnlyItsOwnButtonAndExitRequestsClose) {
  flow.OnPaint(true);
  flow.HandleStep(STEP_RESET_PORTS);
  flow.OnButton(kOpenButton);
  EXPECT_FALSE(rig.window.ButtonVisible(kOpenButton));
  EXPECT_TRUE(rig.window.ButtonVisible(kRescanButton));
  EXPECT_TRUE(rig.window.ButtonVisible(kExitButton));
  EXPECT_EQ(rig.window.TakePostedStep(), std::optional<int>(STEP_SELECT_FILE));
  EXPECT_EQ(closeRequests, 0);
  flow.OnButton(kExitButton);
  EXPECT_EQ(closeRequests, 1);
}

TEST_F(WorkflowTest, FirstVisiblePaintGreetsOnce) {
  rig.state.log.Release();
  flow.OnPaint(false);  // hidden: the greeting stays due
  EXPECT_EQ(rig.state.log.Text(), "");
  flow.OnPaint(true);
  flow.OnPaint(true);
  EXPECT_EQ(rig.state.log.Text(),
            "Welcome to the Korvane-Update Utility.\r\nPlease select a file to upload.");
  EXPECT_EQ(rig.window.ButtonText(kOpenButton), "&Open");
  EXPECT_EQ(rig.window.ButtonText(kExitButton), "&Exit");
  EXPECT_TRUE(rig.window.ButtonVisible(kOpenButton));
  EXPECT_TRUE(rig.window.ButtonVisible(kExitButton));
  EXPECT_FALSE(rig.window.ButtonVisible(kRescanButton));
}

TEST_F(WorkflowTest, DestroyWhileIdleReleasesAndClosesInputsFirst) {
  AddController();
  rig.OpenPorts();
  rig.state.UsePair({0, 0});
  bool stopped = false;
  EXPECT_TRUE(flow.Destroy([&] { stopped = true; }));
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(rig.state.image.has_value());
  EXPECT_FALSE(rig.state.filePath.has_value());
  EXPECT_TRUE(rig.state.foundDevices.empty());
  EXPECT_FALSE(rig.state.chosenDevice.has_value());
  EXPECT_EQ(rig.state.log.Capacity(), 0u);
  EXPECT_EQ(rig.state.ports.InputHead(), nullptr);
  EXPECT_EQ(rig.state.ports.OutputHead(), nullptr);
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kInClose), 1u);
  EXPECT_EQ(rig.midi.CallCount(MidiCall::kOutClose), 1u);
  for (const WindowOp& op : rig.window.Ops())
    EXPECT_NE(op.kind, WindowOp::kAsk);
}

TEST_F(WorkflowTest, DestroyDuringTransferStopsAndJoinsTheWorkerFirst) {
  // Long enough that the transfer is surely still running when the window goes.
  rig.state.image = MakeImage(400, 300);
  AddController();
  rig.window.deviceAnswer = 0;
  flow.HandleStep(STEP_SCAN_PORTS);
  ASSERT_TRUE(RunUntil(STEP_CHOOSE_DEVICE));
  flow.HandleStep(STEP_CHOOSE_DEVICE);
  while (rig.midi.Controller(controller).FirmwareMessages() == 0)
    SleepMs(5);
  ASSERT_TRUE(rig.state.busy.IsBusy());

  rig.window.askAnswer = false;  // declined: nothing is released
  EXPECT_FALSE(flow.Destroy({}));
  EXPECT_TRUE(rig.state.image.has_value());
  EXPECT_TRUE(rig.state.workers.AnyRunning());

  rig.window.askAnswer = true;
  bool workerRunningAtStop = false;
  EXPECT_TRUE(flow.Destroy([&] { workerRunningAtStop = rig.state.workers.AnyRunning(); }));
  EXPECT_TRUE(workerRunningAtStop);
  EXPECT_FALSE(rig.state.workers.AnyRunning());
  EXPECT_TRUE(rig.state.stopRequested.load());
  EXPECT_FALSE(rig.state.image.has_value());
  EXPECT_EQ(rig.state.ports.InputHead(), nullptr);
  EXPECT_EQ(rig.state.ports.OutputHead(), nullptr);
  EXPECT_LT(rig.midi.Controller(controller).FirmwareMessages(), 400u);
  const auto ops = rig.window.Ops();
  int asks = 0;
  for (const WindowOp& op : ops) {
    if (op.kind == WindowOp::kAsk) {
      ++asks;
      EXPECT_EQ(op.text, std::string("Korvane Update Utility|") + kDestroyQuestion);
    }
  }
  EXPECT_EQ(asks, 2);
}

}  // namespace
}  // namespace korvane::testing
