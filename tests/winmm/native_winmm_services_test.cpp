// The native services against the platform's own WinMM (under Wine in CI,
// where no MIDI device exists; on a real Windows any ports it has).
#include "midi/winmm/native_winmm_services.h"

#include <gtest/gtest.h>

#include <atomic>

#include "run/log_console.h"
#include "run/port_set.h"
#include "run/report_midi_result.h"

namespace korvane {
namespace {

std::atomic<int> callbackCount{0};

void CALLBACK CountingInProc(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  ++callbackCount;
}
void CALLBACK CountingOutProc(HMIDIOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
  ++callbackCount;
}

// The engine's callbacks are handed to the driver as they are: their form must
// be the one the driver calls.
static_assert(std::is_same_v<MidiInCallback, decltype(&MidiInProc)>);
static_assert(std::is_same_v<MidiOutCallback, decltype(&MidiOutProc)>);

TEST(NativeWinmmServicesTest, DeviceBeyondTheCountIsRefusedWithoutCallback) {
  NativeWinmmServices midi;
  callbackCount = 0;
  const UINT inputs = midi.midiInGetNumDevs();
  const UINT outputs = midi.midiOutGetNumDevs();

  MIDIINCAPSA inCaps{};
  EXPECT_EQ(midi.midiInGetDevCapsA(inputs, &inCaps, sizeof inCaps), MMSYSERR_BADDEVICEID);
  MIDIOUTCAPSA outCaps{};
  EXPECT_EQ(midi.midiOutGetDevCapsA(outputs, &outCaps, sizeof outCaps), MMSYSERR_BADDEVICEID);

  HMIDIIN in = nullptr;
  EXPECT_EQ(midi.midiInOpen(&in, inputs, reinterpret_cast<DWORD_PTR>(&CountingInProc), 0,
                            CALLBACK_FUNCTION),
            MMSYSERR_BADDEVICEID);
  HMIDIOUT out = nullptr;
  EXPECT_EQ(midi.midiOutOpen(&out, outputs, reinterpret_cast<DWORD_PTR>(&CountingOutProc), 0,
                             CALLBACK_FUNCTION),
            MMSYSERR_BADDEVICEID);
  EXPECT_EQ(callbackCount.load(), 0);
}

TEST(NativeWinmmServicesTest, CallsOnANullHandleReportInvalidHandle) {
  NativeWinmmServices midi;
  MIDIHDR header{};
  char data[4] = {};
  header.lpData = data;
  header.dwBufferLength = sizeof data;

  EXPECT_EQ(midi.midiInClose(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midi.midiOutClose(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midi.midiInStart(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midi.midiInReset(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midi.midiOutReset(nullptr), MMSYSERR_INVALHANDLE);
  EXPECT_EQ(midi.midiOutLongMsg(nullptr, &header, sizeof header), MMSYSERR_INVALHANDLE);
  // The header was never handed over, so it is still the caller's, untouched.
  EXPECT_EQ(header.dwFlags & (MHDR_PREPARED | MHDR_INQUEUE), 0u);
}

TEST(NativeWinmmServicesTest, RefusedOpenReachesTheLogUnderItsName) {
  NativeWinmmServices midi;
  LogConsole log;
  HMIDIIN in = nullptr;
  const UINT beyond = midi.midiInGetNumDevs();
  ReportMidiResult(
      log,
      midi.midiInOpen(&in, beyond, reinterpret_cast<DWORD_PTR>(&MidiInProc), 0, CALLBACK_FUNCTION),
      kMidiInOpen);
  EXPECT_EQ(log.Text(), "MIDIINOPEN -> MMSYSERR_BADDEVICEID");
}

TEST(NativeWinmmServicesTest, PortSetOpensAndClosesEveryPortThePlatformHas) {
  NativeWinmmServices midi;
  LogConsole log;
  {
    PortSet ports(midi, log);
    const int inputs = ports.OpenAllMidiIn(64);
    const int outputs = ports.OpenAllMidiOut(64);
    EXPECT_LE(inputs, static_cast<int>(midi.midiInGetNumDevs()));
    EXPECT_LE(outputs, static_cast<int>(midi.midiOutGetNumDevs()));
    int listed = 0;
    for (PortRecord* r = ports.InputHead(); r != nullptr; r = r->next.get()) {
      // MIM_OPEN came through the driver into the engine's callback.
      EXPECT_EQ(r->openCount.load(), 1) << r->ProductName();
      ++listed;
    }
    EXPECT_EQ(listed, inputs);
    EXPECT_EQ(ports.InputEvents().size(), static_cast<std::size_t>(inputs));
    ports.CloseAllMidiIn();
    ports.CloseAllMidiOut();
    EXPECT_EQ(ports.InputHead(), nullptr);
    EXPECT_EQ(ports.OutputHead(), nullptr);
  }
  // Ports held by another program show up as refused opens; nothing else may fail.
  const std::string text = log.Text();
  EXPECT_EQ(text.find("CLOSE"), std::string::npos) << text;
  EXPECT_EQ(text.find("RESET"), std::string::npos) << text;
}

}  // namespace
}  // namespace korvane
