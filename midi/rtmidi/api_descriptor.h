// What this back-end knows of each MIDI system, said once: its name, the
// longest message it carries, how it names ports, how it connects them and
// why it does not start. A new system is one descriptor here and its own
// files (its probe, and a client of its own where RtMidi's will not do, as
// jack_client.h is JACK's).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <rtmidi/RtMidi.h>

namespace korvane::rtmidi_backend {

struct ApiDescriptor {
  RtMidi::Api api;
  const char* name;  // as users know it: "ALSA", "JACK", "CoreMIDI"
  const char* key;   // in port lock keys and korvane-sim's --api: "alsa", "jack", "core"
  // The longest message an output carries whole; longer ones are refused.
  std::size_t longestMessage;
  // Port names end in the client's and port's numbers ("128:0"), which
  // change when a device is plugged in again.
  bool numbersInPortName;
  // Port names read "client:port"; otherwise the whole name is the port's.
  bool clientInPortName;
  // A second client of a name is renamed "NAME-01", "NAME-02"...
  bool renamesClients;
  // Our ports there are served by one client of our own (jack_client.h),
  // not by RtMidi, which makes a client per port.
  bool ownClient;
  // korvane-sim's ports are clients of its own there, not RtMidi's.
  bool simOwnClients;
  // The system announces connections to a port, which korvane-sim watches to
  // see an updater connect (alsa_connection_watch.h).
  bool announcesConnections;
  // Why the system cannot start now, for the user; empty when it can. Asked
  // before RtMidi makes a client, so that RtMidi never complains on stderr.
  std::string (*whyNot)();
};

// Every system we know, in device-numbering order: ALSA, JACK, CoreMIDI.
std::span<const ApiDescriptor> ApiDescriptors();
// api's descriptor; an API we do not know gets one that never starts.
const ApiDescriptor& Describe(RtMidi::Api api);
// The descriptor whose key is key, or none.
const ApiDescriptor* FindDescriptor(std::string_view key);

// The systems we know that this RtMidi was built with, in numbering order.
std::vector<RtMidi::Api> UsableApis();

inline const char* ApiName(RtMidi::Api api) {
  return Describe(api).name;
}
inline bool ApiCanStart(RtMidi::Api api) {
  return Describe(api).whyNot().empty();
}

}  // namespace korvane::rtmidi_backend
