#include "workflow/all_devices.h"

#include "update/transfer.h"
#include "workflow/run_worker.h"

namespace korvane {

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
  state_.ports.CloseAll();
  ended_ = std::chrono::steady_clock::now();
}

}  // namespace korvane
