#pragma once

#include <string>

/// The process's environment variables, which child processes inherit.
namespace platform {

/// The value of the variable `name`; false when it is not set.
bool GetEnvironment(const std::string& name, std::string& value);

/// Sets the variable `name` to `value` for this process and the children it
/// starts from now on. False when the environment has no room for it.
bool SetEnvironment(const std::string& name, const std::string& value);

}  // namespace platform
