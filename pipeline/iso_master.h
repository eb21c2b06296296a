#pragma once

#include <cstdint>
#include <string>

#include "common/verbosity.h"
#include "common/virus_data_version.h"

/// Mastering: turns the prepared working folder into the bootable ISO image
/// with an outside mkisofs-compatible program.

/// Exit code reported when the program was started but its exit code cannot be
/// read. All bits set: no POSIX child can exit with it (0-255, or
/// kSignalExitBase plus a signal number), and it reads as -1 on Windows.
inline constexpr std::uint32_t kUnreadableExitCode = 0xFFFFFFFFu;

/// Masters the image at `fullOutputPath` (absolute: the program runs in the
/// working folder) from everything in `workingFolder`, labelled "RSCD %d.%d"
/// after `version`; the program is verbose only at Verbose. The image also
/// boots from disks and by UEFI as far as the distribution's files and the
/// program allow (FindBootMaterial, FindMasteringProgram); CompleteIsoImage
/// adds what the program left out. True when the program ran and exited
/// with 0. Otherwise prints one line on standard error:
/// "Failed to launch mkisofs" when it could not be started, or "mkisofs failed
/// with exit code %lu" with its exit code, kSignalExitBase plus the signal
/// number when a signal ended it, or kUnreadableExitCode. At Quiet the
/// program's own output is held back and shown only before that failure line.
/// When an interrupt was requested, the run stops and nothing is printed.
bool MasterIsoImage(const std::string& workingFolder, const std::string& fullOutputPath, VirusDataVersion version,
                    Verbosity verbosity);

/// Gives the image at `imagePath`, just mastered from `workingFolder`, the boot
/// ways the distribution brings the material for and the program left out
/// (CompleteBootWays); an image without such material stays as it is. At
/// Verbose a line "Boot: ..." then names the ways the image has. False, with
/// "Failed to complete the boot records of the image: <reason>" on standard
/// error, when the image cannot be completed; it may then be half-written and
/// must go.
bool CompleteIsoImage(const std::string& workingFolder, const std::string& imagePath, Verbosity verbosity);
