#pragma once

#include <string>
#include <vector>

/// The mastering program as the tool finds it, what it prints of its own, and
/// images read back with xorriso: for tests that judge a whole build.
namespace testing_support {

/// The program the tool masters with on this platform: the first of
/// xorrisofs, mkisofs and genisoimage on PATH, as an absolute path; empty when
/// there is none.
std::string MasteringProgram();

/// The mastering program's own run with the tool's fixed arguments ("-quiet",
/// as at Normal and Quiet level) in a small folder: its exit code and what it
/// wrote on standard error.
struct MasteringOutcome {
  int exitCode = -1;
  std::string err;
};

/// A folder that holds a boot image: the program succeeds. Its standard error
/// is all that a successful build may show there.
const MasteringOutcome& MasteringOfBootableFolder();

/// A folder without "boot/isolinux/isolinux.bin": the program fails.
const MasteringOutcome& MasteringWithoutBootImage();

/// The volume id of an image ("Volume Id" of xorriso -pvd_info); empty when
/// the image cannot be read.
std::string IsoVolumeId(const std::string& image);

/// The files (not folders) of an image, without the leading '/', sorted.
std::vector<std::string> IsoFiles(const std::string& image);

/// The bytes of one file of an image; `path` without the leading '/'.
std::string IsoFileContent(const std::string& image, const std::string& path);

/// The files (not folders) of a tar archive as tar lists them, sorted.
std::vector<std::string> TarFiles(const std::string& archive);

/// The content of a .Z file, decompressed by the compress program.
std::string Uncompressed(const std::string& zFile);

}  // namespace testing_support
