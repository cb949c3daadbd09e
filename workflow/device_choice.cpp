#include "workflow/device_choice.h"

#include <string>

#include "run/update_state.h"

namespace korvane {

bool ChooseFoundDevice(UpdateState& state) {
  DeviceChoice choice;
  if (!state.foundDevices.empty())
    choice = state.window.ChooseDevice(state.foundDevices, state.filePath.value_or(std::string()));
  if (!choice) {
    state.chosenDevice.reset();
    state.Record(RunOutcome::kNotChosen);
    return false;
  }
  // An index that names no device takes the first, as OK with none selected.
  state.chosenDevice = *choice < state.foundDevices.size() ? *choice : 0;
  return true;
}

void PrepareTransfer(UpdateState& state) {
  state.firmwareSent.store(false, std::memory_order_release);
  if (const FoundDevice* chosen = state.ChosenDevice())
    state.ports.CloseAllBut(chosen->ports);
  for (PortRecord* input = state.ports.InputHead(); input != nullptr; input = input->next.get()) {
    if (input->event && input->event->IsSet())
      input->event->Reset();
  }
}

}  // namespace korvane
