#include "app/standard_streams.h"

#ifdef _WIN32

namespace korvane {

// A Windows program without a console has no standard handles to reuse.
void ReopenClosedStandardStreams() {}

}  // namespace korvane

#else

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace korvane {

void ReopenClosedStandardStreams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF)
      continue;
    // open takes the lowest free number, which is this one; checked anyway.
    const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

}  // namespace korvane

#endif
