#include "platform/process.h"

namespace platform {
namespace {

void AppendArgument(std::string& line, const ProcessArgument& argument) {
  const std::string& text = argument.text;
  if (!argument.alwaysQuoted && !text.empty() && text.find_first_of(" \t\n\v\"") == std::string::npos) {
    line += text;
    return;
  }
  line += '"';
  std::size_t backslashes = 0;
  for (char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      line.append(backslashes * 2 + 1, '\\');
    } else {
      line.append(backslashes, '\\');
    }
    backslashes = 0;
    line += c;
  }
  line.append(backslashes * 2, '\\');
  line += '"';
}

}  // namespace

std::string WindowsCommandLine(const std::vector<ProcessArgument>& args) {
  std::string line;
  for (const ProcessArgument& argument : args) {
    if (!line.empty()) line += ' ';
    AppendArgument(line, argument);
  }
  return line;
}

}  // namespace platform
