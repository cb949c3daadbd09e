#include "run/report_midi_result.h"

#include <gtest/gtest.h>

#include "run/log_console.h"

namespace korvane {
namespace {

TEST(ReportMidiResult, SuccessPassesSilentlyWhateverTheCode) {
  LogConsole log;
  log.AppendLog("\r\nBefore");
  for (unsigned code : {0u, 7u, 14u, 15u, 1000u}) {
    EXPECT_EQ(ReportMidiResult(log, MMSYSERR_NOERROR, code), MMSYSERR_NOERROR);
  }
  EXPECT_EQ(log.Text(), "\r\nBefore");
}

TEST(ReportMidiResult, AFailureRunsOnAfterTheLogAndIsReturnedUnchanged) {
  LogConsole log;
  log.AppendLog("\r\nOpening");
  EXPECT_EQ(ReportMidiResult(log, 4, kMidiInOpen), 4u);
  EXPECT_EQ(log.Text(), "\r\nOpeningMIDIINOPEN -> MMSYSERR_ALLOCATED");
}

TEST(ReportMidiResult, AResultWithoutANameIsWrittenInHexAsUnknown) {
  LogConsole log;
  EXPECT_EQ(ReportMidiResult(log, 65, kMidiOutUnprepareHeader), 65u);
  EXPECT_EQ(log.Text(), "MIDIOUTUNPREPAREHEADER -> 0x0041 unknown");
  EXPECT_EQ(MidiResultText(1, kMidiOutOpen), "MIDIOUTOPEN -> 0x0001 unknown");
  EXPECT_EQ(MidiResultText(70, kMidiInStop), "MIDIINSTOP -> 0x0046 unknown");
  EXPECT_EQ(MidiResultText(0x12345, kMidiInStop), "MIDIINSTOP -> 0x12345 unknown");
}

TEST(ReportMidiResult, ACodeAboveFourteenGivesTheNameAlone) {
  LogConsole log;
  EXPECT_EQ(ReportMidiResult(log, 2, 15), 2u);
  EXPECT_EQ(ReportMidiResult(log, 2, 0xFFFFFFFFu), 2u);
  EXPECT_EQ(log.Text(), "MMSYSERR_BADDEVICEIDMMSYSERR_BADDEVICEID");
}

TEST(ReportMidiResult, TwoFailuresInARowMakeOneUnbrokenRun) {
  LogConsole log;
  ReportMidiResult(log, 5, kMidiInStart);
  ReportMidiResult(log, 5, kMidiInPrepareHeader);
  EXPECT_EQ(log.Text(),
            "MIDIINSTART -> MMSYSERR_INVALHANDLEMIDIINPREPAREHEADER -> MMSYSERR_INVALHANDLE");
}

TEST(ReportMidiResult, EveryLabelAndEveryNamedResult) {
  const char* const labels[] = {
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
  for (unsigned code = 0; code < 15; ++code) {
    EXPECT_EQ(MidiResultText(7, code), std::string(labels[code]) + "MMSYSERR_NOMEM") << code;
  }
  const std::pair<MMRESULT, const char*> names[] = {
      {2, "MMSYSERR_BADDEVICEID"}, {4, "MMSYSERR_ALLOCATED"},   {5, "MMSYSERR_INVALHANDLE"},
      {7, "MMSYSERR_NOMEM"},       {11, "MMSYSERR_INVALPARAM"}, {64, "MIDIERR_UNPREPARED"},
      {67, "MIDIERR_NOTREADY"},    {68, "MIDIERR_NODEVICE"},
  };
  for (const auto& [result, name] : names)
    EXPECT_EQ(MidiResultText(result, 99), name);
  // Results that WinMM names but the log does not.
  EXPECT_EQ(MidiResultText(6, 99), "0x0006 unknown");
  EXPECT_EQ(MidiResultText(66, 99), "0x0042 unknown");
}

}  // namespace
}  // namespace korvane
