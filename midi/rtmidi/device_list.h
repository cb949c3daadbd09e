// The numbered list of ports of one direction across every API that starts.
// Not thread-safe: the services guard it with their own lock.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <rtmidi/RtMidi.h>

#include "midi/rtmidi/api_descriptor.h"
#include "midi/rtmidi/error_slot.h"
#include "midi/rtmidi/jack_client.h"

namespace korvane::rtmidi_backend {

struct DeviceEntry {
  RtMidi::Api api;
  std::string portName;    // as RtMidi names it: the system's own name, to find the port again
  std::string deviceName;  // what the capabilities show: at most 31 bytes, unique in the list
};

// The index of the port named portName in midi's current list, or -1.
int FindPort(RtMidi& midi, ErrorSlot& errors, const std::string& portName);

class DeviceList {
 public:
  // JACK's ports are listed through jack, RtMidi's systems' through RtMidi.
  DeviceList(bool inputs, JackClient& jack) : inputs_(inputs), jack_(jack) {}

  // Takes the list again; an API that does not start yet is tried again next time.
  void Refresh();
  const std::vector<DeviceEntry>& Entries() const { return entries_; }

 private:
  struct Enumerator {
    RtMidi::Api api;
    ErrorSlot errors;  // before the RtMidi objects: it must outlive them
    std::unique_ptr<RtMidiIn> in;
    std::unique_ptr<RtMidiOut> out;
    RtMidi& midi() { return in ? static_cast<RtMidi&>(*in) : *out; }
  };

  Enumerator* EnumeratorFor(RtMidi::Api api);
  // The system's port names in its order; false when it does not start.
  bool ListPorts(RtMidi::Api api, std::vector<std::string>& names);

  bool inputs_;
  JackClient& jack_;
  std::vector<std::unique_ptr<Enumerator>> enumerators_;
  std::vector<DeviceEntry> entries_;
};

}  // namespace korvane::rtmidi_backend
