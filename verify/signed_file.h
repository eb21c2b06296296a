#pragma once

#include <istream>
#include <string>

#include "verify/openssl_handles.h"
#include "verify/signed_pieces.h"

/// The signed-file layout: the signed body, a base64 signature block between
/// "-----BEGIN SIGNATURE-----" and "-----END SIGNATURE-----" lines, the signer's
/// certificate block and optional chain certificate blocks, nothing after them.
/// Splitting the file, decoding its pieces and checking the RSA/SHA-1 signature.
namespace verify {

/// Splits a signed file. Fills `pieces` only when the whole layout holds;
/// otherwise leaves them untouched and the stream failed. Raises `ve_badsig`
/// when no signature text was collected and `ve_badcert` when no certificate
/// text was, whatever the stream state.
void read_signed_file(std::istream& in, SignedPieces& pieces);

/// Parses one PEM certificate; empty when the text holds none.
X509Ptr decode_certificate(const std::string& pem);

/// The public key of the signer certificate; raises `ve_crypt`.
PKeyPtr signer_public_key(const SignedPieces& pieces);

/// Decodes base64 text with line breaks. Malformed text yields fewer or other
/// bytes rather than an error; the signature check then rejects them.
std::string base64_decode(const std::string& text);

/// Checks an RSA PKCS #1 v1.5 signature over the SHA-1 digest of everything
/// left in `in`. Raises `ve_badsig` when it does not match and `ve_crypt`
/// "Error verifying signature" when it cannot be checked (any key but RSA).
void verify_signature(std::istream& in, const std::string& signature, EVP_PKEY* key);

}  // namespace verify
