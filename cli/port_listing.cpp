#include "cli/port_listing.h"

#include <cstring>
#include <string>

#include "midi/midi_services.h"

namespace korvane {

namespace {

// szPname is fixed-size and need not be terminated when a name fills it.
std::string ProductName(const char (&name)[MAXPNAMELEN]) {
  return std::string(name, strnlen(name, MAXPNAMELEN));
}

void PrintSystemName(const SystemNameFunction& systemName, bool input, UINT id, std::ostream& out) {
  if (!systemName)
    return;
  const std::string name = systemName(input, id);
  if (!name.empty())
    out << "  (" << name << ')';
}

}  // namespace

int PrintPortList(MidiServices& services, std::ostream& out, const SystemNameFunction& systemName) {
  int listed = 0;
  const UINT inputs = services.midiInGetNumDevs();
  for (UINT id = 0; id < inputs; ++id) {
    MIDIINCAPSA caps{};
    if (services.midiInGetDevCapsA(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR)
      continue;
    out << "in " << id << ": " << ProductName(caps.szPname);
    PrintSystemName(systemName, true, id, out);
    out << '\n';
    ++listed;
  }
  const UINT outputs = services.midiOutGetNumDevs();
  for (UINT id = 0; id < outputs; ++id) {
    MIDIOUTCAPSA caps{};
    if (services.midiOutGetDevCapsA(id, &caps, sizeof(caps)) != MMSYSERR_NOERROR)
      continue;
    out << "out " << id << ": " << ProductName(caps.szPname);
    PrintSystemName(systemName, false, id, out);
    out << '\n';
    ++listed;
  }
  return listed;
}

}  // namespace korvane
