#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/verbosity.h"
#include "common/virus_data_version.h"
#include "image/boot_material.h"
#include "platform/output_file.h"

/// Mastering: turns the prepared working folder into the bootable ISO image
/// with an outside mkisofs-compatible program.

/// Exit code reported when the program was started but its exit code cannot be
/// read. All bits set: no POSIX child can exit with it (0-255, or
/// kSignalExitBase plus a signal number), and it reads as -1 on Windows.
inline constexpr std::uint32_t kUnreadableExitCode = 0xFFFFFFFFu;

/// Masters the image into `image`'s result file (empty, written from its
/// start) from everything in `workingFolder`, its current folder, labelled
/// "RSCD %d.%d" after `version`: as the program's standard output where the
/// program takes it so, else by the file's path. The program is verbose only
/// at Verbose. The image also boots from disks and by UEFI as far as
/// `material` (what FindBootMaterial found in `workingFolder`) and the program
/// allow (FindMasteringProgram); CompleteIsoImage adds what the program left
/// out. True when the program ran and exited
/// with 0. Otherwise prints one line on standard error:
/// "Failed to launch mkisofs" when it could not be started, or "mkisofs failed
/// with exit code %lu" with its exit code, kSignalExitBase plus the signal
/// number when a signal ended it, or kUnreadableExitCode. At Quiet the
/// program's own output is held back and shown only before that failure line.
/// When an interrupt was requested, the run stops and nothing is printed.
bool MasterIsoImage(const std::string& workingFolder, const BootMaterial& material, const platform::OutputPlace& image,
                    VirusDataVersion version, Verbosity verbosity);

/// Gives the image that `image` is open on ("r+b"; the caller closes it),
/// just mastered from `workingFolder`, the boot ways that `material` (found
/// there) serves and the program left out (CompleteBootWays); an image
/// without such material stays as it is. At Verbose a line "Boot: ..." then
/// names the ways the image has. False, with "Failed to complete the boot
/// records of the image: <reason>" on standard error, when the image cannot be
/// completed or, with material or without, is malformed: shorter than its
/// volume, or with an extent that the completion reads outside the file or
/// in the system area. It may then be half-written and must go.
bool CompleteIsoImage(const std::string& workingFolder, const BootMaterial& material, std::FILE* image,
                      Verbosity verbosity);
