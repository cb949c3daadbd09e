#include "cli/list_command.h"

#include "cli/command_line.h"
#include "cli/flash_command.h"
#include "cli/port_listing.h"
#include "midi/platform_midi.h"

namespace korvane {

int RunList(std::ostream& out, std::ostream& err) {
  const std::unique_ptr<MidiServices> services = MakePlatformMidiServices();
  if (PrintPortList(*services, out, [&services](bool input, UINT id) {
        return SystemPortName(*services, input, id);
      }) > 0)
    return kExitPassed;
  // Nothing to list: say which systems were asked and what each answered.
  const std::vector<MidiSystemState> systems = DescribeMidiSystems();
  bool anyRuns = false;
  for (const MidiSystemState& system : systems)
    anyRuns = anyRuns || system.whyNot.empty();
  err << (anyRuns ? "korvane-flash: no MIDI port:\n" : "korvane-flash: no MIDI system runs:\n");
  for (const MidiSystemState& system : systems) {
    err << "  " << system.name << ": "
        << (system.whyNot.empty() ? "runs, with no port" : system.whyNot) << '\n';
  }
  return kExitNoDevice;
}

}  // namespace korvane
