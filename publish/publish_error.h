#pragma once

#include <stdexcept>
#include <string>

/// A failure of the publisher, in the one form it reports: what failed (a path
/// or an option) and why. The program prints it as one line after its name.
class PublishError : public std::runtime_error {
 public:
  PublishError(const std::string& what, const std::string& why) : std::runtime_error(what + ": " + why) {}
};
