// korvane-update.exe: the native window over the computer's WinMM MIDI ports.
#include <windows.h>

#include "app/win32/update_app.h"
#include "midi/winmm/native_winmm_services.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  korvane::NativeWinmmServices midi;
  return korvane::CUpdateApp().InitInstance(midi);
}
