#pragma once

#include <cstddef>
#include <string>

/// What tests ask of the system they run on, beyond files and processes.
namespace testing_support {

/// Removes an environment variable from this process.
void UnsetEnvironment(const std::string& name);

/// How many files, sockets and other handles this process holds open.
std::size_t OpenHandleCount();

/// Makes a named pipe at `path`; false where the system has none.
bool MakeFifo(const std::string& path);

/// True when this process may write to files whatever their permissions say.
bool IgnoresFilePermissions();

}  // namespace testing_support
