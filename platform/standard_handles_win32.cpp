#include "platform/standard_handles.h"

#include <fcntl.h>
#include <io.h>

namespace platform {

void OpenMissingStandardHandles() {
  // The C runtime hands out its lowest free descriptor, as POSIX does: one of
  // 0 to 2 left free would go to the first file the tool opens.
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (_get_osfhandle(descriptor) != -1) continue;
    const int opened = _open("NUL", descriptor == 0 ? _O_RDONLY : _O_WRONLY);
    if (opened >= 0 && opened != descriptor) {
      _dup2(opened, descriptor);
      _close(opened);
    }
  }
}

}  // namespace platform
