#include "workflow/scan_ports.h"

#include "run/texts.h"
#include "run/update_state.h"

namespace korvane {

bool OpenPortsToScan(UpdateState& state) {
  state.log.AppendLog(kCheckingPortsText);
  const std::uint32_t bufferSize = state.PortBufferSize();
  if (state.ports.OpenAllMidiIn(bufferSize) < 1 || state.ports.OpenAllMidiOut(bufferSize) < 1) {
    state.log.AppendLog(kNoPortText);
    state.Record(RunOutcome::kNoPort);
    return false;
  }
  return true;
}

void ReportNoDevice(UpdateState& state) {
  state.log.AppendLog(kNoDeviceText);
  state.Record(RunOutcome::kNoDevice);
}

}  // namespace korvane
