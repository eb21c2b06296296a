#pragma once

#include <string>
#include <vector>

#include "platform/mkisofs_command.h"

/// Boot ways beyond the BIOS CD entry: an image gains UEFI and disk (USB
/// stick) boot only when the distribution in the working folder brings the
/// material for it and the mastering program can use it.

struct BootOptions {
  /// Mastering arguments that go after the BIOS entry's boot catalog.
  std::vector<platform::CommandArgument> arguments;
  /// The boot ways the image will have, for instance "BIOS CD, UEFI CD".
  std::string ways;
};

/// Looks at `workingFolder` for the ISOLINUX hybrid MBR (boot/isolinux/isohdpfx.bin,
/// used only when boot/isolinux/isolinux.bin carries the hybrid mark) and for
/// the first FAT image among the usual EFI boot image places, and chooses
/// the options that `support` allows.
BootOptions ChooseBootOptions(const std::string& workingFolder, platform::MkisofsBootSupport support);
