#include "tests/support/iso_image.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_system.h"

namespace testing_support {
namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Required(const std::string& name) {
  std::string path = FindOnPath(name);
  if (path.empty()) throw std::runtime_error(name + " not found on PATH (scripts/install-deps installs it)");
  return path;
}

/// The tool's fixed mastering arguments, from the file its build reads.
struct FixedArgument {
  const char* text;
  bool path;
};
constexpr FixedArgument kFixedArguments[] = {
#include "mkisofs_fixed_arguments.inc"
};

/// The mastering arguments that the tool passes at Normal level.
MasteringOutcome MasterFolder(const std::string& folder) {
  const std::string program = MasteringProgram();
  if (program.empty()) throw std::runtime_error("no mastering program (xorrisofs, mkisofs, genisoimage) on PATH");
  ScratchFolder out("mastering-reference");
  ChildOptions options;
  options.workingFolder = folder;
  std::vector<std::string> arguments{"-quiet"};
  for (const FixedArgument& fixed : kFixedArguments) arguments.push_back(fixed.text);
  arguments.insert(arguments.end(), {"-o", out / "x.iso", "-A", "RSCD 4.42", "-V", "RSCD 4.42", "."});
  ChildResult r = RunChild(program, arguments, options);
  return {r.exitStatus, r.err};
}

}  // namespace

std::string MasteringProgram() {
  for (const char* name : {"xorrisofs", "mkisofs", "genisoimage"}) {
    std::string found = FindOnPath(name);
    if (!found.empty()) return found;
  }
  return {};
}

const MasteringOutcome& MasteringOfBootableFolder() {
  static const MasteringOutcome outcome = [] {
    ScratchFolder tree("bootable-tree");
    fs::create_directories(tree / "boot/isolinux");
    WriteWholeFile(tree / "boot/isolinux/isolinux.bin", std::string(2048, '\0'));
    return MasterFolder(tree.path());
  }();
  return outcome;
}

const MasteringOutcome& MasteringWithoutBootImage() {
  static const MasteringOutcome outcome = [] {
    ScratchFolder tree("unbootable-tree");
    WriteWholeFile(tree / "README.txt", "no boot image here\n");
    return MasterFolder(tree.path());
  }();
  return outcome;
}

std::string IsoVolumeId(const std::string& image) {
  ChildResult r = RunChild(Required("xorriso"), {"-indev", image, "-pvd_info"});
  const std::string key = "Volume Id    : ";
  for (const std::string& line : Lines(r.out)) {
    if (line.rfind(key, 0) == 0) return line.substr(key.size());
  }
  return {};
}

std::vector<std::string> IsoFiles(const std::string& image) {
  ChildResult r = RunChild(Required("xorriso"), {"-indev", image, "-find", "/", "-type", "f"});
  if (r.exitStatus != 0) throw std::runtime_error("xorriso cannot read " + image + ": " + r.err);
  std::vector<std::string> files;
  for (const std::string& line : Lines(r.out)) {
    // Each path is printed in single quotes: '/a/b'.
    if (line.size() > 3 && line.front() == '\'' && line.back() == '\'') files.push_back(line.substr(2, line.size() - 3));
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string IsoFileContent(const std::string& image, const std::string& path) {
  ScratchFolder out("iso-extract");
  ChildResult r = RunChild(Required("xorriso"), {"-osirrox", "on", "-indev", image, "-extract", "/" + path, out / "f"});
  if (r.exitStatus != 0) throw std::runtime_error("xorriso cannot extract " + path + " from " + image + ": " + r.err);
  return ReadWholeFile(out / "f");
}

std::vector<std::string> TarFiles(const std::string& archive) {
  ChildResult r = RunChild(Required("tar"), {"-tf", archive});
  if (r.exitStatus != 0) throw std::runtime_error("tar cannot list " + archive + ": " + r.err);
  std::vector<std::string> files;
  for (const std::string& line : Lines(r.out)) {
    if (!line.empty() && line.back() != '/') files.push_back(line.rfind("./", 0) == 0 ? line.substr(2) : line);
  }
  std::sort(files.begin(), files.end());
  return files;
}

std::string Uncompressed(const std::string& zFile) {
  ChildResult r = RunChild(Required("compress"), {"-dc", zFile});
  if (r.exitStatus != 0) throw std::runtime_error("compress cannot decompress " + zFile + ": " + r.err);
  return r.out;
}

}  // namespace testing_support
