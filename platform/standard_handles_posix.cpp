#include "platform/standard_handles.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

void OpenMissingStandardHandles() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) >= 0 || errno != EBADF) continue;
    // open takes the lowest free number, which is this one.
    const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
    if (opened >= 0 && opened != descriptor) {
      dup2(opened, descriptor);
      close(opened);
    }
  }
}

}  // namespace platform
