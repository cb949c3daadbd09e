// The workflow: the handler of the posted steps that move an update from the
// file choice to the transfer, the three buttons that start and end work, the
// two guards that keep the window from closing in passing while busy, the
// first paint's greeting and the release of everything when the window goes.
//
// Plain C++ behind the Window interface, so that the Qt window, the terminal
// front end and the tests all drive the same logic. Every method runs on the
// window thread; workers only ever reach it through posted steps.
#pragma once

#include <atomic>
#include <memory>

#include <functional>

#include "run/texts.h"
#include "run/update_state.h"

namespace korvane {

class Workflow {
 public:
  // requestClose is what the Exit button does: the front end's close request
  // (which then passes CloseAllowed), posted, never run inside the click.
  Workflow(UpdateState& state, std::function<void()> requestClose = {})
      : state_(state), requestClose_(std::move(requestClose)) {}
  Workflow(const Workflow&) = delete;
  Workflow& operator=(const Workflow&) = delete;

  // A posted step; codes outside 256 to 263 are ignored.
  void HandleStep(int step);

  // A click on push button 1008, 1011 or 1012; other ids do nothing.
  void OnButton(int id);

  // The close request guard: false while busy, and the request is dropped
  // without a word. Otherwise the front end turns it into the cancel command.
  bool CloseAllowed() const { return !state_.busy.IsBusy(); }

  // The filter every command passes: the cancel command while busy asks the
  // user; false when the answer was OK and the command is consumed.
  bool PassCommand(int commandId);

  // A paint of the restored window: the first one at which the window is
  // visible greets and shows Open and Exit.
  void OnPaint(bool windowVisible);

  // The window is going away. Busy: asks first, and false (nothing released)
  // unless the answer is OK. Then stops and joins every worker, releases the
  // image, path, pair list and log, and closes the ports, inputs first.
  // stopWindowCalls makes the window's calls from worker threads return at
  // once, so that a worker waiting on the window cannot block the join.
  bool Destroy(const std::function<void()>& stopWindowCalls);

  // The last act when the window object ends without the release above (the
  // user declined it): stop and join the workers so nothing outlives the state.
  void Shutdown(const std::function<void()>& stopWindowCalls);

  // Ports stay open from a scan that opened them to the next reset.
  bool PortsOpen() const { return portsOpen_; }

 private:
  void ScanPorts();
  void ChooseDevice();
  void StartUpdate();
  void ResetPorts();
  void StopWorkers(const std::function<void()>& stopWindowCalls);
  // Starts a worker of the file's chain (choose, load, check).
  // Starts a worker; one that throws logs a line and posts STEP_RESET_PORTS.
  void StartWorker(void (*worker)(UpdateState&));
  void StartFileWorker(void (*worker)(UpdateState&));

  UpdateState& state_;
  std::function<void()> requestClose_;
  bool portsOpen_ = false;
  // From the start of a file worker until its body returns: a scan now would
  // race it for the image. Shared with the worker, which may outlive this.
  std::shared_ptr<std::atomic<bool>> fileWork_ = std::make_shared<std::atomic<bool>>(false);
  int firstPaints_ = 0;
};

}  // namespace korvane
