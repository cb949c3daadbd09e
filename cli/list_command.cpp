#include "cli/list_command.h"

#include "cli/command_line.h"
#include "cli/flash_command.h"
#include "cli/port_listing.h"
#include "midi/rtmidi/api_probe.h"
#include "midi/rtmidi/rtmidi_services.h"

namespace korvane {

int RunList(std::ostream& out, std::ostream& err) {
  RtMidiServices services;
  if (PrintPortList(services, out) > 0)
    return kExitPassed;
  // Nothing to list: say which systems were asked and what each answered.
  const std::vector<rtmidi_backend::ApiState> apis = rtmidi_backend::ProbeApis();
  bool anyRuns = false;
  for (const rtmidi_backend::ApiState& api : apis)
    anyRuns = anyRuns || api.whyNot.empty();
  err << (anyRuns ? "korvane-flash: no MIDI port:\n" : "korvane-flash: no MIDI system runs:\n");
  for (const rtmidi_backend::ApiState& api : apis)
    err << "  " << api.name << ": " << (api.whyNot.empty() ? "runs, with no port" : api.whyNot)
        << '\n';
  return kExitNoDevice;
}

}  // namespace korvane
