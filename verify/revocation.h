#pragma once

#include <string>
#include <vector>

#include "verify/openssl_handles.h"

/// Revocation of the certificates of a verified chain, by the PEM revocation
/// lists that ship with the trusted root. A list counts for a certificate only
/// when it names the certificate's issuer and carries that issuer's signature;
/// its dates are not judged, since the chain itself is judged at a fixed instant.
namespace verify {

/// Every X509 CRL block of the file, in file order. Raises `ve_crypt` "Error
/// loading revocation list file" when the file cannot be read, holds no list, or
/// holds a list that does not decode.
std::vector<X509CrlPtr> load_revocation_lists(const std::string& crl_path);

/// True when a certificate of `chain` (signer first, trust anchor last) is
/// listed by a revocation list of its issuer: the next certificate up the
/// chain, or the anchor itself for the anchor.
bool chain_has_revoked_certificate(STACK_OF(X509) * chain, const std::vector<X509CrlPtr>& lists);

}  // namespace verify
