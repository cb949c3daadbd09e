// A sentence the MIDI back-end has for the user that no MIDI result carries,
// such as why a port is not used. The back-end says it here; the front end
// decides where it goes (the window's log), else it is one line on stderr.
// Each distinct sentence is given once per process, so a rescan does not
// repeat it.
#pragma once

#include <functional>
#include <string>

namespace korvane {

using BackendNoticeSink = std::function<void(const std::string&)>;

// An empty sink puts stderr back. The sink is called from whichever thread
// opened the port, with no lock held; it must stay callable until replaced.
void SetBackendNoticeSink(BackendNoticeSink sink);

void BackendNotice(const std::string& text);

}  // namespace korvane
