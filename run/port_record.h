// One opened MIDI port with its one long-message header, the header's buffer,
// its manual-reset event and what the driver's callbacks count for it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "midi/event.h"
#include "midi/winmm.h"

namespace korvane {

class MidiServices;

struct PortRecord {
  std::uint32_t deviceNumber = 0;
  bool isInput = false;
  HMIDIIN inHandle = nullptr;    // input records only
  HMIDIOUT outHandle = nullptr;  // output records only

  // The header's lpData points into buffer; whoever resizes the buffer (only
  // while the header is unprepared) points lpData at it again.
  std::unique_ptr<MIDIHDR> header;
  std::vector<char> buffer;
  std::unique_ptr<ManualResetEvent> event;
  std::unique_ptr<PortRecord> next;  // the next record of the same list

  MIDIINCAPSA inCaps{};    // input records
  MIDIOUTCAPSA outCaps{};  // output records

  // Written by the driver's callback thread, read by workers.
  std::atomic<std::uint32_t> lastMessage{0};
  std::atomic<std::int32_t> openCount{0};

  // The services the port was opened on: the input callback hands foreign
  // buffers back to the driver through them.
  MidiServices* services = nullptr;

  // Sizes the buffer and points the header at it; false when memory cannot be had.
  bool ResizeBuffer(std::size_t size);
  const char* ProductName() const { return isInput ? inCaps.szPname : outCaps.szPname; }
};

}  // namespace korvane
