#include "archive/virus_version.h"

#include <cstdio>
#include <string_view>

namespace {

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view lowerCase) {
  if (text.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != lowerCase[i]) return false;
  }
  return true;
}

}  // namespace

void MyUntarCallback::OnDirectory(const std::string&) {}

void MyUntarCallback::OnFile(const std::string& name) {
  if (found) return;
  // Only a file inside some folder counts; a backslash is part of a name here.
  const std::size_t slash = name.rfind('/');
  if (slash == std::string::npos) return;
  const std::string component = name.substr(slash + 1);
  const std::string_view view(component);
  if (view.size() < 4 || !EqualsIgnoringAsciiCase(view.substr(0, 4), "vdl-") ||
      !EqualsIgnoringAsciiCase(view.substr(view.size() - 4), ".dat")) {
    return;
  }
  int first = 0;
  int second = 0;
  // The C library's scanning rules on purpose: white space and a sign may come
  // before either number, and anything after the second number is ignored.
  if (std::sscanf(component.c_str() + 4, "%d.%d", &first, &second) != 2) return;
  major = first;
  minor = second;
  found = true;
}
