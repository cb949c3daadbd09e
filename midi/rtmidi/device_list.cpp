#include "midi/rtmidi/device_list.h"

#include "midi/rtmidi/port_names.h"
#include "midi/winmm.h"

namespace korvane::rtmidi_backend {

int FindPort(RtMidi& midi, ErrorSlot& errors, const std::string& portName) {
  try {
    errors.Clear();
    const unsigned count = midi.getPortCount();
    for (unsigned i = 0; i < count; ++i) {
      if (midi.getPortName(i) == portName && !errors.Failed())
        return static_cast<int>(i);
    }
  } catch (...) {
  }
  return -1;
}

DeviceList::Enumerator* DeviceList::EnumeratorFor(RtMidi::Api api) {
  for (auto& e : enumerators_) {
    if (e->api == api)
      return e.get();
  }
  if (!ApiCanStart(api))
    return nullptr;
  auto e = std::make_unique<Enumerator>();
  e->api = api;
  try {
    const std::string client(kClientName);
    if (inputs_) {
      e->in = std::make_unique<RtMidiIn>(api, client);
    } else {
      e->out = std::make_unique<RtMidiOut>(api, client);
    }
    e->errors.Attach(e->midi());
  } catch (...) {
    return nullptr;
  }
  enumerators_.push_back(std::move(e));
  return enumerators_.back().get();
}

bool DeviceList::ListPorts(RtMidi::Api api, std::vector<std::string>& names) {
  names.clear();
  // Our inputs take from the system's sources.
  if (Describe(api).ownClient)
    return jack_.ListPorts(inputs_, names);
  Enumerator* e = EnumeratorFor(api);
  if (e == nullptr)
    return false;
  try {
    e->errors.Clear();
    const unsigned count = e->midi().getPortCount();
    for (unsigned i = 0; i < count; ++i) {
      e->errors.Clear();
      std::string name = e->midi().getPortName(i);
      // A port that went away while we counted comes back as an error or empty.
      if (!e->errors.Failed() && !name.empty())
        names.push_back(std::move(name));
    }
  } catch (...) {
  }
  return true;
}

void DeviceList::Refresh() {
  entries_.clear();
  std::vector<std::string> names;
  for (RtMidi::Api api : UsableApis()) {
    if (!ListPorts(api, names))
      continue;
    for (std::string& name : names) {
      if (!IsOwnPort(api, name))
        entries_.push_back(DeviceEntry{api, std::move(name), {}});
    }
  }
  // Named together: a name must tell its port from every other one listed.
  std::vector<PortNameParts> parts;
  parts.reserve(entries_.size());
  for (const auto& entry : entries_)
    parts.push_back(SplitPortName(entry.api, entry.portName));
  std::vector<std::string> deviceNames = DeviceNames(parts, MAXPNAMELEN - 1);
  for (std::size_t i = 0; i < entries_.size(); ++i)
    entries_[i].deviceName = std::move(deviceNames[i]);
}

}  // namespace korvane::rtmidi_backend
