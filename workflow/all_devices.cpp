#include "workflow/all_devices.h"

#include "run/texts.h"
#include "update/port_scan.h"
#include "update/transfer.h"
#include "update/update_file.h"
#include "workflow/file_select.h"
#include "workflow/run_worker.h"
#include "workflow/scan_ports.h"

namespace korvane {

namespace {

bool Stopped(const UpdateState& state) {
  return state.stopRequested.load(std::memory_order_acquire);
}

}  // namespace

bool ScanForDevices(UpdateState& scan, const std::string& path) {
  scan.log.AppendLog(kGreetingText);
  scan.log.AppendLog(kSelectFileText);
  TakeUpdateFile(scan, path);
  FileLoadWorker(scan);
  if (!scan.image || Stopped(scan))
    return false;
  FileCheckWorker(scan);
  if (scan.Outcome() != RunOutcome::kFileAccepted || Stopped(scan) || !RecheckModel(scan))
    return false;
  if (OpenPortsToScan(scan)) {
    PortScanWorker(scan);
    if (scan.foundDevices.empty() && !Stopped(scan))
      ReportNoDevice(scan);
  }
  // Each run opens its own pair; none may find a port still held here.
  scan.ports.CloseAllMidiOut();
  scan.ports.CloseAllMidiIn();
  return !scan.foundDevices.empty() && !Stopped(scan);
}

DeviceRun::DeviceRun(const UpdateState& scan, std::size_t device, Window& window)
    : state_(scan.midi, window) {
  state_.filePath = scan.filePath;
  state_.image = scan.image;
  state_.inputBufferSize = scan.inputBufferSize;
  state_.foundDevices = {scan.foundDevices.at(device)};
  state_.chosenDevice = 0;
  state_.log.AppendLog(scan.log.Text());
}

DeviceRun::~DeviceRun() {
  state_.stopRequested.store(true, std::memory_order_release);
  Join();
}

void DeviceRun::Start() {
  started_ = ended_ = std::chrono::steady_clock::now();
  thread_ = std::thread([this] { Run(); });
}

void DeviceRun::Join() {
  if (thread_.joinable())
    thread_.join();
}

void DeviceRun::Run() {
  // A port another program (or another run) holds stays closed: the transfer
  // then finds no record for it, says so and sends nothing.
  state_.ports.OpenPair(Device().ports, state_.PortBufferSize());
  RunWorker(state_, &TransferWorker);
  state_.ports.CloseAllMidiOut();
  state_.ports.CloseAllMidiIn();
  ended_ = std::chrono::steady_clock::now();
}

}  // namespace korvane
