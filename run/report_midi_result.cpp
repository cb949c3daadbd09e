#include "run/report_midi_result.h"

#include <array>
#include <cstdio>

#include "run/log_console.h"

namespace korvane {
namespace {

constexpr std::array<const char*, 15> kLabels = {
    "MIDIOUTOPEN -> ",
    "MIDIOUTCLOSE -> ",
    "MIDIOUTRESET -> ",
    "MIDIOUTPREPAREHEADER -> ",
    "MIDIOUTUNPREPAREHEADER -> ",
    "MIDIOUTLONGMSG -> ",
    "MIDIOUTMESSAGE -> ",
    "MIDIINOPEN -> ",
    "MIDIINCLOSE -> ",
    "MIDIINRESET -> ",
    "MIDIINPREPAREHEADER -> ",
    "MIDIINUNPREPAREHEADER -> ",
    "MIDIINSTART -> ",
    "MIDIINSTOP -> ",
    "MIDIINADDBUFFER -> ",
};

const char* ResultName(MMRESULT result) {
  switch (result) {
    case 2:
      return "MMSYSERR_BADDEVICEID";
    case 4:
      return "MMSYSERR_ALLOCATED";
    case 5:
      return "MMSYSERR_INVALHANDLE";
    case 7:
      return "MMSYSERR_NOMEM";
    case 11:
      return "MMSYSERR_INVALPARAM";
    case 64:
      return "MIDIERR_UNPREPARED";
    case 67:
      return "MIDIERR_NOTREADY";
    case 68:
      return "MIDIERR_NODEVICE";
    default:
      return nullptr;
  }
}

}  // namespace

std::string MidiResultText(MMRESULT result, unsigned operation) {
  std::string text = operation < kLabels.size() ? kLabels[operation] : "";
  if (const char* name = ResultName(result)) {
    text += name;
  } else {
    char unknown[32];
    std::snprintf(unknown, sizeof unknown, "0x%04x unknown", static_cast<unsigned>(result));
    text += unknown;
  }
  return text;
}

MMRESULT ReportMidiResult(LogConsole& log, MMRESULT result, unsigned operation) {
  if (result != MMSYSERR_NOERROR)
    log.AppendLog(MidiResultText(result, operation));
  return result;
}

}  // namespace korvane
