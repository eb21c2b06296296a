#include "verify/manifest_writer.h"

#include <openssl/evp.h>

#include <climits>
#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "verify/layout_markers.h"
#include "verify/manifest.h"
#include "verify/signed_file.h"
#include "verify/signed_pieces.h"
#include "verify/stream_reading.h"

namespace verify {
namespace {

std::string describeByte(unsigned char byte) {
  char text[32];
  if (byte >= 0x20 && byte < 0x7F) {
    std::snprintf(text, sizeof text, "'%c' (0x%02X)", byte, byte);
  } else {
    std::snprintf(text, sizeof text, "byte 0x%02X", byte);
  }
  return text;
}

bool sameEntries(const std::vector<file_entry>& a, const std::vector<file_entry>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].name != b[i].name || a[i].number != b[i].number || a[i].checksum != b[i].checksum) return false;
  }
  return true;
}

std::string certificatePem(std::string_view der) {
  std::string pem(kBeginCertificateLine);
  pem += base64_lines(der);
  pem += kEndCertificateLine;
  return pem;
}

/// Runs the reader's own block reading over the lines as they will stand in
/// the file, so that its rules are not restated here.
void checkBlock(const std::string& piece, std::string_view bytes, std::string_view endMarker) {
  if (bytes.empty()) throw std::invalid_argument(piece + " is empty");
  const std::string lines = base64_lines(bytes);
  std::istringstream in(lines + std::string(endMarker));
  std::string read;
  read_base64_block(in, read);
  expect_literal(in, endMarker);
  if (!in.fail() && read == lines) return;
  if (lines.find('\n') == lines.size() - 1 && lines.find('=') != std::string::npos) {
    throw std::invalid_argument(piece + " (" + std::to_string(bytes.size()) +
                                " bytes) would be a single base64 line carrying padding, which the manifest "
                                "reader refuses");
  }
  throw std::invalid_argument(piece + " (" + std::to_string(bytes.size()) +
                              " bytes) would not read back as a base64 block");
}

void checkBody(std::string_view body) {
  if (body.empty()) throw std::invalid_argument("the manifest body is empty");
  if (body.back() != '\n') throw std::invalid_argument("the manifest body does not end with a line feed");
  if (body.front() == '\n' || body.find("\n\n") != std::string_view::npos) {
    throw std::invalid_argument("the manifest body holds an empty line");
  }
  std::string marker = "\n";
  marker += kBeginSignatureLine;
  if (body.find(marker) != std::string_view::npos) {
    throw std::invalid_argument("the manifest body holds a signature marker line");
  }
}

}  // namespace

std::string manifest_name_problem(std::string_view name) {
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (!is_name_char(name[i])) {
      return describeByte(static_cast<unsigned char>(name[i])) + " at offset " + std::to_string(i) +
             " cannot stand in a manifest name";
    }
  }
  return {};
}

std::string format_manifest_line(const file_entry& entry) {
  if (const std::string problem = manifest_name_problem(entry.name); !problem.empty()) {
    throw std::invalid_argument(problem);
  }
  bool hex = entry.checksum.size() == kChecksumLength;
  for (char c : entry.checksum) hex = hex && is_hex_lower(c);
  if (!hex) {
    throw std::invalid_argument("the checksum '" + entry.checksum + "' is not 40 lower-case hexadecimal digits");
  }
  std::string line;
  line.reserve(entry.name.size() + entry.checksum.size() + 16);
  line += '"';
  line += entry.name;
  line += "\" ";
  line += std::to_string(entry.number);
  line += ' ';
  line += entry.checksum;
  line += '\n';
  return line;
}

std::string format_manifest_body(const std::vector<file_entry>& entries) {
  if (entries.empty()) throw std::invalid_argument("a manifest needs at least one entry");
  std::string body;
  for (const file_entry& entry : entries) body += format_manifest_line(entry);

  std::istringstream in(body);
  std::vector<file_entry> read;
  parse_manifest(in, read);
  if (in.fail() || !sameEntries(read, entries)) {
    throw std::invalid_argument("the manifest body would not read back as written");
  }
  return body;
}

std::string base64_lines(std::string_view bytes) {
  // EVP_EncodeBlock counts in int; four output characters per three input bytes.
  if (bytes.size() > static_cast<std::size_t>(INT_MAX / 4 * 3 - 3)) {
    throw std::invalid_argument("too many bytes for one base64 block");
  }
  std::string encoded((bytes.size() + 2) / 3 * 4 + 1, '\0');
  const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                     reinterpret_cast<const unsigned char*>(bytes.data()),
                                     static_cast<int>(bytes.size()));
  encoded.resize(static_cast<std::size_t>(length));

  std::string lines;
  lines.reserve(encoded.size() + encoded.size() / kBase64LineLength + 1);
  for (std::size_t at = 0; at < encoded.size(); at += kBase64LineLength) {
    lines.append(encoded, at, kBase64LineLength);
    lines += '\n';
  }
  return lines;
}

std::string format_signed_file(std::string_view body, std::string_view signature, std::string_view signer_der,
                               const std::vector<std::string>& chain_der) {
  checkBody(body);
  checkBlock("the signature", signature, kEndSignatureLine);
  checkBlock("the signer certificate", signer_der, kEndCertificateLine);
  for (std::size_t i = 0; i < chain_der.size(); ++i) {
    checkBlock("chain certificate " + std::to_string(i + 1), chain_der[i], kEndCertificateLine);
  }

  const std::string signatureLines = base64_lines(signature);
  std::string file(body);
  file += kBeginSignatureLine;
  file += signatureLines;
  file += kEndSignatureLine;
  file += certificatePem(signer_der);
  for (const std::string& der : chain_der) file += certificatePem(der);

  // The last word belongs to the reader: the file must split into exactly the
  // pieces it was made of, and the signature must decode to the same bytes.
  SignedPieces pieces;
  std::istringstream in(file);
  bool same = false;
  try {
    read_signed_file(in, pieces);
    same = !in.fail() && pieces.signed_body == body && pieces.signature_text == signatureLines &&
           base64_decode(pieces.signature_text) == signature && pieces.signer_certificate == certificatePem(signer_der) &&
           pieces.chain_certificates.size() == chain_der.size();
    for (std::size_t i = 0; same && i < chain_der.size(); ++i) {
      same = pieces.chain_certificates[i] == certificatePem(chain_der[i]);
    }
  } catch (const std::exception&) {
    same = false;
  }
  if (!same) throw std::invalid_argument("the signed file would not read back as written");
  return file;
}

}  // namespace verify
