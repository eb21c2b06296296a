// Runs file_entry::check_file once, for bench/checksum.sh to time.
// Usage: checksum_tool <base folder ending with '/'> <name> <expected checksum>
// Prints the result (0 equal, 1 different, 2 cannot be read) and exits with it.
#include <cstdio>

#include "verify/file_entry.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <base folder/> <name> <checksum>\n", argv[0]);
    return 64;
  }
  const file_entry entry{argv[2], 0, argv[3]};
  const int result = entry.check_file(argv[1]);
  std::printf("%d\n", result);
  return result;
}
