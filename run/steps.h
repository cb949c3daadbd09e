// The step codes that move an update forward, carried by the one private
// window message (WM_USER + 0x100) and always posted, never sent.
#pragma once

namespace korvane {

constexpr unsigned WM_WORKFLOW = 0x500;

enum Step : int {
  STEP_SELECT_FILE = 256,
  STEP_LOAD_FILE = 257,
  STEP_CHECK_FILE = 258,
  STEP_SCAN_PORTS = 259,
  STEP_START_UPDATE = 260,
  STEP_CHOOSE_DEVICE = 261,
  STEP_NO_DEVICE = 262,
  STEP_RESET_PORTS = 263,
};

}  // namespace korvane
