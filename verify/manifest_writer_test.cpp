#include "verify/manifest_writer.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/test_pki.h"
#include "verify/manifest.h"
#include "verify/signed_file.h"
#include "verify/version_tool.h"

namespace {

using testing_support::Base64Lines;
using testing_support::Credential;
using testing_support::ManifestLine;
using testing_support::PemBase64Lines;
using testing_support::ScratchFolder;
using testing_support::Sha1Hex;
using testing_support::SignedFileLayout;
using testing_support::SignSha1;
using testing_support::TestIdentity;

const std::string kSum = Sha1Hex("content");

/// Whether the reader takes `line` as exactly one entry equal to `entry`.
bool ParserReadsBack(const std::string& line, const file_entry& entry) {
  std::istringstream in(line);
  std::vector<file_entry> read;
  verify::parse_manifest(in, read);
  return !in.fail() && read.size() == 1 && read[0].name == entry.name && read[0].number == entry.number &&
         read[0].checksum == entry.checksum;
}

/// What the writer says, or "" when it wrote.
std::string Refusal(const std::function<void()>& write) {
  try {
    write();
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "";
}

/// Whether the reader splits `file` completely.
bool ReaderAccepts(const std::string& file) {
  std::istringstream in(file);
  verify::SignedPieces pieces;
  try {
    verify::read_signed_file(in, pieces);
  } catch (const std::exception&) {
    return false;
  }
  return !in.fail();
}

std::string Der(const std::string& pem) {
  verify::X509Ptr certificate = verify::decode_certificate(pem);
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate.get(), &der);
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length));
  OPENSSL_free(der);
  return bytes;
}

std::string Bytes(std::size_t n) {
  std::string bytes;
  for (std::size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>(i * 37 + 11));
  return bytes;
}

TEST(ManifestLineTest, LinesReadBackAsTheEntryTheyWereMadeFrom) {
  struct Case {
    const char* why;
    file_entry entry;
  };
  const Case cases[] = {
      {"a published file", {".\\CorvexLive-SLAX.tar", 4096, kSum}},
      {"size zero", {".\\empty", 0, kSum}},
      {"the largest size a line can carry", {".\\big", 4294967295u, kSum}},
      {"spaces, dots and both separators are name bytes", {".\\sub/a b.c\\d", 7, kSum}},
      {"every printable punctuation the grammar admits", {"~!@#$%^&()_+-=[]{};',.`\\/ ", 1, kSum}},
      {"an empty name is grammatical", {"", 1, kSum}},
  };
  for (const Case& c : cases) {
    const std::string line = verify::format_manifest_line(c.entry);
    EXPECT_EQ(line, ManifestLine(c.entry.name, c.entry.number, c.entry.checksum)) << c.why;
    EXPECT_TRUE(ParserReadsBack(line, c.entry)) << c.why;
  }
}

TEST(ManifestLineTest, RefusesEveryNameByteThatTheParserRefuses) {
  for (int byte = 0; byte < 256; ++byte) {
    const file_entry entry{std::string("a") + static_cast<char>(byte) + "b", 1, kSum};
    const bool parserReads = ParserReadsBack(ManifestLine(entry.name, entry.number, entry.checksum), entry);
    const std::string refusal = Refusal([&] { verify::format_manifest_line(entry); });
    EXPECT_EQ(refusal.empty(), parserReads) << "byte " << byte << ": " << refusal;
    EXPECT_EQ(verify::manifest_name_problem(entry.name), refusal) << "byte " << byte;
    if (!refusal.empty()) {
      EXPECT_NE(refusal.find("at offset 1"), std::string::npos) << refusal;
    }
  }
}

TEST(ManifestLineTest, RefusesChecksumsThatAreNotLowerCaseSha1) {
  std::string upper = kSum;
  upper[upper.find_first_of("abcdef")] = 'A';
  const struct {
    const char* why;
    std::string checksum;
  } cases[] = {
      {"upper-case digit: the parser refuses it", upper},
      {"empty: grammatical but never matches a file", ""},
      {"39 digits", kSum.substr(1)},
      {"41 digits", kSum + "0"},
      {"not hexadecimal", std::string(40, 'g')},
  };
  for (const auto& c : cases) {
    const std::string refusal = Refusal([&] { verify::format_manifest_line({".\\f", 1, c.checksum}); });
    EXPECT_NE(refusal.find("is not 40 lower-case hexadecimal digits"), std::string::npos) << c.why << ": " << refusal;
  }
}

TEST(ManifestBodyTest, KeepsTheOrderOfItsEntriesAndRefusesAnEmptyList) {
  const std::vector<file_entry> entries = {{".\\z", 3, Sha1Hex("z")}, {".\\a", 1, Sha1Hex("a")}, {".\\m", 2, kSum}};
  const std::string body = verify::format_manifest_body(entries);
  EXPECT_EQ(body, ManifestLine(".\\z", 3, Sha1Hex("z")) + ManifestLine(".\\a", 1, Sha1Hex("a")) +
                      ManifestLine(".\\m", 2, kSum));

  EXPECT_EQ(Refusal([] { verify::format_manifest_body({}); }), "a manifest needs at least one entry");
  EXPECT_NE(Refusal([] { verify::format_manifest_body({{".\\ok", 1, kSum}, {"bad|name", 1, kSum}}); }), "");
}

TEST(Base64LinesTest, SixtyFourCharactersALineWithThePaddingOnTheLast) {
  for (std::size_t n : {0u, 1u, 2u, 3u, 47u, 48u, 49u, 256u, 1000u}) {
    const std::string bytes = Bytes(n);
    const std::string lines = verify::base64_lines(bytes);
    EXPECT_EQ(lines, Base64Lines(bytes, 64)) << n << " bytes";
    EXPECT_EQ(verify::base64_decode(lines), bytes) << n << " bytes";
  }
}

// The block rules of the reader are subtle (a lone padded line is refused), so
// the writer is held against the reader itself for every small size, and for
// every block of the layout.
TEST(SignedFileWriterTest, RefusesExactlyTheBlocksTheReaderRefuses) {
  const std::string body = ManifestLine(".\\f", 1, kSum);
  const std::string other = Bytes(100);
  for (std::size_t n = 0; n <= 200; ++n) {
    const std::string bytes = Bytes(n);
    const std::string lines = Base64Lines(bytes, 64);
    const struct {
      const char* block;
      std::string signature, signer;
      std::vector<std::string> chain;
      std::string expected;
    } cases[] = {
        {"signature", bytes, other, {}, SignedFileLayout(body, lines, Base64Lines(other))},
        {"signer", other, bytes, {}, SignedFileLayout(body, Base64Lines(other), lines)},
        {"chain", other, other, {other, bytes},
         SignedFileLayout(body, Base64Lines(other), Base64Lines(other), {Base64Lines(other), lines})},
    };
    for (const auto& c : cases) {
      std::string written;
      const std::string refusal =
          Refusal([&] { written = verify::format_signed_file(body, c.signature, c.signer, c.chain); });
      EXPECT_EQ(refusal.empty(), ReaderAccepts(c.expected)) << c.block << " of " << n << " bytes: " << refusal;
      if (refusal.empty()) {
        EXPECT_EQ(written, c.expected) << c.block << " of " << n << " bytes";
      }
    }
  }
}

TEST(SignedFileWriterTest, NamesTheBlockAndTheReasonItRefuses) {
  const std::string body = ManifestLine(".\\f", 1, kSum);
  const std::string ok = Bytes(100);
  EXPECT_EQ(Refusal([&] { verify::format_signed_file(body, "", ok, {}); }), "the signature is empty");
  EXPECT_EQ(Refusal([&] { verify::format_signed_file(body, Bytes(47), ok, {}); }),
            "the signature (47 bytes) would be a single base64 line carrying padding, which the manifest reader "
            "refuses");
  EXPECT_EQ(Refusal([&] { verify::format_signed_file(body, ok, Bytes(1), {}); }),
            "the signer certificate (1 bytes) would be a single base64 line carrying padding, which the manifest "
            "reader refuses");
  EXPECT_EQ(Refusal([&] { verify::format_signed_file(body, ok, ok, {ok, ""}); }), "chain certificate 2 is empty");
}

TEST(SignedFileWriterTest, RefusesBodiesTheReaderWouldSplitElsewhere) {
  const std::string line = ManifestLine(".\\f", 1, kSum);
  const struct {
    const char* why;
    std::string body;
    std::string refusal;
  } cases[] = {
      {"empty body", "", "the manifest body is empty"},
      {"last line not ended", line.substr(0, line.size() - 1), "the manifest body does not end with a line feed"},
      {"leading empty line", "\n" + line, "the manifest body holds an empty line"},
      {"empty line inside", line + "\n" + line, "the manifest body holds an empty line"},
      {"its own signature marker would end it early", line + "-----BEGIN SIGNATURE-----\n" + line,
       "the manifest body holds a signature marker line"},
  };
  const std::string ok = Bytes(100);
  for (const auto& c : cases) {
    EXPECT_EQ(Refusal([&] { verify::format_signed_file(c.body, ok, ok, {}); }), c.refusal) << c.why;
    // The reader indeed does not give back this body.
    std::istringstream in(SignedFileLayout(c.body, Base64Lines(ok), Base64Lines(ok)));
    verify::SignedPieces pieces;
    try {
      verify::read_signed_file(in, pieces);
    } catch (const std::exception&) {
    }
    EXPECT_TRUE(in.fail() || pieces.signed_body != c.body) << c.why;
  }
}

TEST(SignedFileWriterTest, AWrittenManifestLoadsAgainstTheRoot) {
  const std::vector<file_entry> entries = {{".\\one.tar", 5, Sha1Hex("hello")}, {".\\two", 0, Sha1Hex("")}};
  const std::string body = verify::format_manifest_body(entries);
  const auto& signer = Credential(TestIdentity::SignerByIntermediate);
  const auto& intermediate = Credential(TestIdentity::Intermediate);
  const std::string file = verify::format_signed_file(body, SignSha1(body, signer.privateKeyPem),
                                                      Der(signer.certificatePem), {Der(intermediate.certificatePem)});
  // The certificate blocks carry the same lines as the usual PEM form.
  EXPECT_EQ(file, SignedFileLayout(body, Base64Lines(SignSha1(body, signer.privateKeyPem)),
                                   PemBase64Lines(signer.certificatePem), {PemBase64Lines(intermediate.certificatePem)}));

  ScratchFolder folder("manifest-writer");
  testing_support::WriteWholeFile(folder / "manifest.dat", file);
  testing_support::WriteRootCertificate(folder / "root.crt");
  testing_support::WriteCrlFile(folder / "root.crl");
  VersionTool tool;
  tool.load(folder / "manifest.dat", folder / "root.crt", folder / "root.crl");
  ASSERT_EQ(tool.version().size(), 2u);
  EXPECT_EQ(tool.version()[0].name, ".\\one.tar");
  EXPECT_EQ(tool.version()[0].number, 5u);
  EXPECT_EQ(tool.version()[0].checksum, Sha1Hex("hello"));
  EXPECT_EQ(tool.version()[1].name, ".\\two");
}

}  // namespace
