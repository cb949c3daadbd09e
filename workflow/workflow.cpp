#include "workflow/workflow.h"

#include "midi/winmm.h"
#include "run/steps.h"
#include "update/port_scan.h"
#include "update/transfer.h"
#include "update/update_file.h"
#include "workflow/device_choice.h"
#include "workflow/file_select.h"
#include "workflow/run_worker.h"
#include "workflow/scan_ports.h"

namespace korvane {

void Workflow::HandleStep(int step) {
  UpdateState& state = state_;
  switch (step) {
    case STEP_SELECT_FILE:
      StartFileWorker(&FileSelectWorker);
      break;
    case STEP_LOAD_FILE:
      StartFileWorker(&FileLoadWorker);
      break;
    case STEP_CHECK_FILE:
      StartFileWorker(&FileCheckWorker);
      break;
    case STEP_SCAN_PORTS:
      ScanPorts();
      break;
    case STEP_START_UPDATE:
      // Only the device choice enters it; a stray post while a worker is at
      // work would start a second transfer or race the scan for the pair list.
      if (portsOpen_ && state.chosenDevice && !state.workers.AnyRunning())
        StartUpdate();
      break;
    case STEP_CHOOSE_DEVICE:
      ChooseDevice();
      break;
    case STEP_NO_DEVICE:
      ReportNoDevice(state);
      state.window.PostStep(STEP_RESET_PORTS);
      break;
    case STEP_RESET_PORTS:
      ResetPorts();
      break;
    default:
      break;  // not a step of ours
  }
}

void Workflow::StartWorker(void (*worker)(UpdateState&)) {
  UpdateState& state = state_;
  state.workers.Start([&state, worker] { RunWorker(state, worker); });
}

void Workflow::StartFileWorker(void (*worker)(UpdateState&)) {
  fileWork_->store(true, std::memory_order_release);
  UpdateState& state = state_;
  state.workers.Start([&state, worker, busy = fileWork_] {
    RunWorker(state, worker);
    busy->store(false, std::memory_order_release);
  });
}

void Workflow::ScanPorts() {
  // A repeated scan (Rescan clicked twice before the first scan got going)
  // would open the ports again or close them under the running scan.
  if (portsOpen_)
    return;
  if (!RecheckModel(state_))
    return;
  portsOpen_ = true;
  if (!OpenPortsToScan(state_)) {
    ResetPorts();
    return;
  }
  StartWorker(&PortScanWorker);
}

void Workflow::ChooseDevice() {
  if (!ChooseFoundDevice(state_)) {
    state_.window.PostStep(STEP_RESET_PORTS);
    return;
  }
  StartUpdate();
}

void Workflow::StartUpdate() {
  PrepareTransfer(state_);
  StartWorker(&TransferWorker);
}

void Workflow::ResetPorts() {
  state_.ports.CloseAll();
  portsOpen_ = false;
  state_.window.SetButtonText(kOpenButton, kOpenText);
  state_.window.ShowButton(kOpenButton);
  state_.window.SetButtonText(kRescanButton, kRescanText);
  state_.window.ShowButton(kRescanButton);
}

void Workflow::OnButton(int id) {
  switch (id) {
    case kOpenButton:
      state_.window.HideButton(kOpenButton);
      state_.window.PostStep(STEP_SELECT_FILE);
      break;
    case kRescanButton:
      // While a file is chosen, loaded or checked, a scan is either coming
      // (the check worker posts it) or would race the worker for the image;
      // while the ports are open one runs. The click is dropped. A transfer
      // or scan worker that has posted its last step no longer counts.
      if (portsOpen_ || fileWork_->load(std::memory_order_acquire))
        return;
      state_.window.PostStep(STEP_SCAN_PORTS);
      break;
    case kExitButton:
      if (requestClose_)
        requestClose_();
      break;
    default:
      break;
  }
}

bool Workflow::PassCommand(int commandId) {
  if (commandId != IDCANCEL || !state_.busy.IsBusy())
    return true;
  // OK keeps the work running; Cancel lets the window close.
  return !state_.window.AskOkCancel(kQuestionCaption, kCancelQuestion);
}

void Workflow::OnPaint(bool windowVisible) {
  if (firstPaints_++ != 0)
    return;
  if (!windowVisible) {
    firstPaints_ = 0;  // a paint of a hidden window leaves the greeting due
    return;
  }
  state_.log.AppendLog(kGreetingText);
  state_.log.AppendLog(kSelectFileText);
  state_.window.SetButtonText(kOpenButton, kOpenText);
  state_.window.ShowButton(kOpenButton);
  state_.window.SetButtonText(kExitButton, kExitText);
  state_.window.ShowButton(kExitButton);
}

void Workflow::StopWorkers(const std::function<void()>& stopWindowCalls) {
  state_.stopRequested.store(true, std::memory_order_release);
  if (stopWindowCalls)
    stopWindowCalls();
  state_.workers.JoinAll();
}

bool Workflow::Destroy(const std::function<void()>& stopWindowCalls) {
  if (state_.busy.IsBusy() && !state_.window.AskOkCancel(kQuestionCaption, kDestroyQuestion)) {
    return false;
  }
  // Nothing a worker uses may go before the worker has stopped.
  StopWorkers(stopWindowCalls);
  state_.foundDevices.clear();
  state_.chosenDevice.reset();
  state_.filePath.reset();
  state_.log.Release();
  state_.image.reset();
  firstPaints_ = 0;
  state_.ports.CloseAllMidiIn();
  state_.ports.CloseAllMidiOut();
  portsOpen_ = false;
  return true;
}

void Workflow::Shutdown(const std::function<void()>& stopWindowCalls) {
  StopWorkers(stopWindowCalls);
}

}  // namespace korvane
