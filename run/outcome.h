// What ended a run, recorded where it happens (beside the text the log gets),
// so that a front end never has to read it back out of the log.
#pragma once

namespace korvane {

enum class RunOutcome {
  kNone,            // nothing has ended yet
  kFileRefused,     // the file could not be read, or failed the check
  kFileAccepted,    // the file passed the check; the scan comes next
  kNoPort,          // no MIDI input, or inputs but no output
  kNoDevice,        // no port pair answered the identity request
  kNotChosen,       // the device choice was cancelled
  kPortsUnusable,   // the chosen pair's ports could not be used: nothing was sent
  kSuccess,         // "Update successfully completed."
  kDanger,          // the danger message: errors while flashing
  kLostConnection,  // the controller stopped answering: lost, then danger
  kStopped,         // the transfer was asked to stop; the danger message stands
};

}  // namespace korvane
