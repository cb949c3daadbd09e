// What every front end's scan does around PortScanWorker: open the ports it
// asks on, and say when nothing answered.
#pragma once

namespace korvane {

class UpdateState;

// Logs "Checking MidiPorts..." and opens every input and output; false, with
// the no-port message logged and recorded, when no input or no output opened.
bool OpenPortsToScan(UpdateState& state);

// The scan found no controller: the message and the outcome.
void ReportNoDevice(UpdateState& state);

}  // namespace korvane
