#pragma once

#include <string>
#include <vector>

namespace verify {

/// What a signed file splits into: the signed bytes and the texts of its
/// signature and certificate blocks, kept as read.
struct SignedPieces {
  std::string signed_body;                      ///< up to and including the line feed before the signature marker
  std::string signature_text;                   ///< the signature's base64 lines, each with its line feed
  std::string signer_certificate;               ///< the first certificate block as complete PEM text
  std::vector<std::string> chain_certificates;  ///< the further blocks as complete PEM texts, in file order
};

}  // namespace verify
