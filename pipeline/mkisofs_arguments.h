#pragma once

#include <string>
#include <vector>

#include "image/boot_material.h"
#include "pipeline/mastering_program.h"
#include "platform/process.h"

/// The mastering arguments after the program's name, in their fixed order: the
/// output flag, Joliet and Rock Ridge names, no deep relocation, the El Torito
/// boot image (kBiosLoader) and catalog, then `bootArguments` (further boot
/// ways, which must follow the BIOS entry), "-o" and the image file (none when
/// `outputPath` is empty: the image goes to standard output), the application and
/// volume labels, and "." as the root. Paths and labels are always quoted on a
/// Windows command line, as in the command the distribution's own program was
/// made for.
std::vector<platform::ProcessArgument> MkisofsArguments(
    const std::string& outputFlag, const std::string& outputPath, const std::string& label,
    const std::vector<platform::ProcessArgument>& bootArguments = {});

/// The mastering arguments that go after the BIOS entry's boot catalog for
/// the material that `flavour` can use; none for FixedCommandOnly.
std::vector<platform::ProcessArgument> BootArguments(const BootMaterial& material, MkisofsFlavour flavour);
