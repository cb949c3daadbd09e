// A private X server for the tests that need the window system itself.
// Start() runs Xvfb on a display number that Xvfb picks as free and waits
// until it accepts clients; the destructor stops that server. POSIX only.
#pragma once

#include <sys/types.h>

#include <string>

namespace korvane::testing {

class XvfbDisplay {
 public:
  XvfbDisplay() = default;
  ~XvfbDisplay();
  XvfbDisplay(const XvfbDisplay&) = delete;
  XvfbDisplay& operator=(const XvfbDisplay&) = delete;

  // The display's name (":N"); empty when no server came up, with the
  // reason in reason.
  std::string Start(std::string& reason);

 private:
  pid_t pid_ = -1;
};

}  // namespace korvane::testing
