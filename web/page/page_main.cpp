// The page's engine: main() runs on a thread of its own (emscripten's
// PROXY_TO_PTHREAD) and is the window thread of the desktop programs. It
// takes the steps the workers post and what the user does on the page, one
// at a time, and hands them to the same workflow the desktop windows drive.
#include <emscripten/emscripten.h>

#include <string>

#include "midi/webmidi/webmidi_services.h"
#include "run/update_state.h"
#include "web/page/page_events.h"
#include "web/page/panel_json.h"
#include "web/page/web_window.h"
#include "workflow/workflow.h"

// page.js: run on the browser's main thread.
extern "C" {
void korvane_page_ready(const char* panelJson);
void korvane_page_closed();
}

namespace {

// Set while main() runs; the page reaches them only after korvane_page_ready.
korvane::web::PageEvents* gEvents = nullptr;
korvane::web::WebWindow* gWindow = nullptr;

}  // namespace

// Called by page.js on the browser's main thread.
extern "C" {

EMSCRIPTEN_KEEPALIVE void korvane_page_click(int id) {
  if (gEvents)
    gEvents->Push({korvane::web::PageEvent::kButton, id});
}

// The file the next Open takes, already written into the page's file system.
EMSCRIPTEN_KEEPALIVE void korvane_page_file(const char* path) {
  if (gWindow)
    gWindow->SetUpdateFile(path);
}

EMSCRIPTEN_KEEPALIVE void korvane_page_device(int index) {
  if (gWindow)
    gWindow->AnswerDevice(index < 0 ? korvane::DeviceChoice{}
                                    : korvane::DeviceChoice{static_cast<std::size_t>(index)});
}

EMSCRIPTEN_KEEPALIVE void korvane_page_devices_changed() {
  if (gEvents)
    gEvents->Push({korvane::web::PageEvent::kDevicesChanged});
}
}

int main() {
  using namespace korvane;
  using web::PageEvent;
  WebMidiServices midi;
  web::PageEvents events;
  web::WebWindow window(events);
  UpdateState state(midi, window);
  Workflow workflow(state, [&events] { events.Push({PageEvent::kClose}); });
  gEvents = &events;
  gWindow = &window;
  korvane_page_ready(web::PanelAsJson().c_str());
  workflow.OnPaint(true);
  for (;;) {
    const PageEvent event = events.Take();
    switch (event.kind) {
      case PageEvent::kStep:
        workflow.HandleStep(event.value);
        break;
      case PageEvent::kButton:
        workflow.OnButton(event.value);
        break;
      case PageEvent::kDevicesChanged:
        // A controller plugged in or out while nothing runs: looked for again
        // as Rescan would, once a file is checked. During a scan or an
        // update the engine itself sees the change.
        if (!state.busy.IsBusy() && state.image && !workflow.PortsOpen())
          workflow.OnButton(kRescanButton);
        break;
      case PageEvent::kClose:
        if (workflow.CloseAllowed() && workflow.PassCommand(IDCANCEL) && workflow.Destroy({})) {
          gEvents = nullptr;
          gWindow = nullptr;
          korvane_page_closed();
          return 0;
        }
        break;
      case PageEvent::kPaint:
        break;
    }
  }
}
