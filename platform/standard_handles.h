#pragma once

/// The three standard handles at start-up.
namespace platform {

/// Opens the null device on each standard handle that the process was started
/// without, so that the first file the tool opens cannot take the place of its
/// console and receive console text.
void OpenMissingStandardHandles();

}  // namespace platform
