#include "workflow/steps_in_order.h"

#include "run/texts.h"
#include "run/update_state.h"
#include "update/port_scan.h"
#include "update/transfer.h"
#include "update/update_file.h"
#include "workflow/device_choice.h"
#include "workflow/file_select.h"
#include "workflow/run_worker.h"
#include "workflow/scan_ports.h"

namespace korvane {

namespace {

bool Stopped(const UpdateState& state) {
  return state.stopRequested.load(std::memory_order_acquire);
}

}  // namespace

bool LoadAndCheckFile(UpdateState& state, const std::string& path) {
  state.log.AppendLog(kGreetingText);
  state.log.AppendLog(kSelectFileText);
  TakeUpdateFile(state, path);
  if (!RunWorker(state, &FileLoadWorker) || !state.image || Stopped(state))
    return false;
  return RunWorker(state, &FileCheckWorker) && state.Outcome() == RunOutcome::kFileAccepted &&
         !Stopped(state) && RecheckModel(state);
}

bool ScanAllPorts(UpdateState& state) {
  if (!OpenPortsToScan(state))
    return false;
  // A scan worker that failed has said so; it found nothing to report.
  if (!RunWorker(state, &PortScanWorker) || Stopped(state))
    return false;
  if (state.foundDevices.empty())
    ReportNoDevice(state);
  return !state.foundDevices.empty();
}

bool ScanForDevices(UpdateState& scan, const std::string& path) {
  const bool found = LoadAndCheckFile(scan, path) && ScanAllPorts(scan);
  // Each run opens its own pair; none may find a port still held here.
  scan.ports.CloseAll();
  return found;
}

void UpdateChosenDevice(UpdateState& state) {
  PrepareTransfer(state);
  RunWorker(state, &TransferWorker);
  state.ports.CloseAll();
}

}  // namespace korvane
