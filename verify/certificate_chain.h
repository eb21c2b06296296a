#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "verify/openssl_handles.h"

/// Proves that the signer certificate chains up to a trusted root, judged at a
/// fixed instant (1 January 2009, local time) rather than today, with the chain
/// blocks of the signed file as untrusted intermediates; then refuses the chain
/// when a certificate in it has been revoked by its issuer.
namespace verify {

/// Decodes the chain blocks in file order; raises `ve_crypt` "Decoding
/// certificate in chain" at the first block that holds no certificate.
std::vector<X509Ptr> decode_chain_certificates(const std::vector<std::string>& pems);

/// Returns when the chain verifies. Raises `ve_badcert` when OpenSSL rejects it
/// or a certificate of the verified chain is revoked, and `ve_crypt` when a
/// step of the machinery fails. An empty `crl_path` skips the revocation check.
void verify_certificate_chain(X509* signer, const std::string& trusted_certs_path, const std::vector<X509Ptr>& chain,
                              const std::string& crl_path);

/// The fixed verification instant: 2009-01-01 00:00:00 local time (no daylight
/// saving).
std::int64_t verification_time();

}  // namespace verify
