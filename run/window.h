// The window seam: everything the engine shows or asks of the user goes
// through this interface. The Qt main dialog implements it (a worker's call is
// a blocking queued call, the window thread's own call a direct one), the
// terminal front end implements it for a console, and tests record it.
//
// Every method may be called from a worker thread; a call returns once the
// window has carried it out. PostStep never waits.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvane {

// Control identifiers of the main window.
enum ControlId : int {
  kLogControl = 1004,
  kProgressBar = 1006,
  kPanelPicture = 1007,
  kExitButton = 1008,
  kUnusedButton1009 = 1009,
  kUnusedButton1010 = 1010,
  kRescanButton = 1011,
  kOpenButton = 1012,
};

}  // namespace korvane

#include "run/found_device.h"

namespace korvane {

class Window {
 public:
  virtual ~Window() = default;

  // The log control (1004): character positions count every CR and LF.
  virtual void LogSetSelection(std::size_t from, std::size_t to) = 0;
  virtual void LogReplaceSelection(std::string_view text) = 0;
  virtual void LogScrollCaret() = 0;

  // The progress bar (1006).
  virtual void ProgressSetRange(int low, int high) = 0;
  virtual void ProgressSetPosition(int position) = 0;
  virtual void ProgressStep() = 0;
  virtual void ProgressEnable(bool enabled) = 0;

  // Push buttons by control id.
  virtual void SetButtonText(int id, std::string_view text) = 0;
  virtual void ShowButton(int id) = 0;
  virtual void HideButton(int id) = 0;

  // The wait cursor, and putting back the cursor it replaced.
  virtual void SetWaitCursor() = 0;
  virtual void RestoreCursor() = 0;

  // Queues a step for the window thread's step handler and returns at once.
  virtual void PostStep(int step) = 0;

  // The open-file dialog ("SysEx Files (*.syx)", default suffix "syx"): the
  // chosen file's full path, or nothing on cancel or failure.
  virtual std::optional<std::string> ChooseUpdateFile() = 0;

  // The device selection dialog over the devices the scan found, shown as
  // their entries in this order. OK with no entry selected chooses the
  // first. Runs on the window thread only.
  virtual DeviceChoice ChooseDevice(const std::vector<FoundDevice>& devices,
                                    const std::string& filePath) = 0;

  // A question box with OK and Cancel; true when the answer is OK.
  virtual bool AskOkCancel(std::string_view caption, std::string_view text) = 0;
};

}  // namespace korvane
