#pragma once

#include <string>
#include <vector>

namespace platform {

/// The program's command-line arguments after the program name, as UTF-8 text.
/// On POSIX they are `argv` as given; on Windows they are read from the wide
/// command line, since `argv` there holds only what the code page can show.
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace platform
