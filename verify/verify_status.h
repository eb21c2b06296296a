#pragma once

#include <cstdint>

/// One numbering for both the state of a `VersionTool` and the `code` of every
/// verification exception, so a caller can tell from either where a load stopped.
enum class verify_status : std::int32_t {
  not_loaded = 1,       ///< constructed; no load has succeeded
  valid = 2,            ///< the last load succeeded
  open_failed = 3,      ///< a file cannot be opened for reading
  bad_layout = 4,       ///< the signed file does not follow its layout
  crypto_error = 5,     ///< a step of the cryptographic library failed
  bad_signature = 6,    ///< the signature is missing or does not match
  bad_certificate = 7,  ///< the signer certificate is missing or its chain does not verify
  bad_content = 8,      ///< the signed body is not a well-formed manifest body
};
