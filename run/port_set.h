// The MIDI ports a run opened (every port of the computer that could be, for
// a scan; one pair for an update on its own): two lists of PortRecords,
// newest first, and InputEvents in input-list order.
//
// Threads: the open and close operations run on the window thread; workers use
// the records between them; the driver's callbacks touch only their own record.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "midi/event.h"
#include "midi/midi_services.h"
#include "run/found_device.h"
#include "run/port_record.h"

namespace korvane {

class LogConsole;

class PortSet {
 public:
  PortSet(MidiServices& services, LogConsole& log);
  ~PortSet();
  PortSet(const PortSet&) = delete;
  PortSet& operator=(const PortSet&) = delete;

  // Open every device of a kind with buffers of bufferSize bytes; return how many opened.
  int OpenAllMidiIn(std::uint32_t bufferSize);
  int OpenAllMidiOut(std::uint32_t bufferSize);
  // Only the two ports of one pair, for an update that needs no others: true
  // when both opened. Whatever opened is closed with the others.
  bool OpenPair(PortPair ports, std::uint32_t bufferSize);
  void CloseAllMidiIn();
  void CloseAllMidiOut();
  // Outputs, then inputs.
  void CloseAll();
  // Every port but the pair's two.
  void CloseAllBut(PortPair ports);

  // Hands an input record's header back to the driver after a worker read it.
  void RequeueInputBuffer(PortRecord& input);

  PortRecord* InputHead() const { return inputHead_.get(); }
  PortRecord* OutputHead() const { return outputHead_.get(); }
  PortRecord* FindInput(std::int32_t deviceNumber) const;
  PortRecord* FindOutput(std::int32_t deviceNumber) const;
  // Entry i is the event of the record i steps from the input head.
  std::span<ManualResetEvent* const> InputEvents() const { return inputEvents_; }

 private:
  enum class Opened { kYes, kNo, kNoMemory };
  Opened OpenInput(UINT device, std::uint32_t bufferSize);
  Opened OpenOutput(UINT device, std::uint32_t bufferSize);
  void ListInputEvents();
  void CloseInput(std::unique_ptr<PortRecord> record);
  void CloseOutput(std::unique_ptr<PortRecord> record);

  MidiServices& services_;
  LogConsole& log_;
  std::unique_ptr<PortRecord> inputHead_;
  std::unique_ptr<PortRecord> outputHead_;
  std::vector<ManualResetEvent*> inputEvents_;
  // Records whose port refused to close: the driver may still call back with
  // them, so they live until the port set does.
  std::vector<std::unique_ptr<PortRecord>> unclosed_;
};

// The driver callbacks; the instance value is the port's PortRecord. They
// neither log nor allocate.
void CALLBACK MidiInProc(HMIDIIN handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                         DWORD_PTR param2);
void CALLBACK MidiOutProc(HMIDIOUT handle, UINT message, DWORD_PTR instance, DWORD_PTR param1,
                          DWORD_PTR param2);

}  // namespace korvane
