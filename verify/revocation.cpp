#include "verify/revocation.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include "verify/verify_exceptions.h"

namespace verify {
namespace {

constexpr const char* kLoadFailed = "Error loading revocation list file";

bool isEndOfPemInput(unsigned long error) {
  return ERR_GET_LIB(error) == ERR_LIB_PEM && ERR_GET_REASON(error) == PEM_R_NO_START_LINE;
}

/// A signature check that leaves nothing in the error queue: a list signed by
/// someone else is simply not the issuer's list.
bool signedBy(X509_CRL* list, EVP_PKEY* key) {
  if (key == nullptr) return false;
  ERR_set_mark();
  const bool ok = X509_CRL_verify(list, key) == 1;
  ERR_pop_to_mark();
  return ok;
}

bool revokedBy(X509_CRL* list, X509* certificate) {
  X509_REVOKED* entry = nullptr;
  // 2 means the entry only lifts a hold on the certificate.
  return X509_CRL_get0_by_cert(list, &entry, certificate) == 1;
}

}  // namespace

std::vector<X509CrlPtr> load_revocation_lists(const std::string& crl_path) {
  BioPtr file(BIO_new_file(crl_path.c_str(), "r"));
  if (!file) throw verify_exceptions::ve_crypt(kLoadFailed);

  std::vector<X509CrlPtr> lists;
  ERR_set_mark();
  for (;;) {
    X509CrlPtr list(PEM_read_bio_X509_CRL(file.get(), nullptr, nullptr, nullptr));
    if (list) {
      lists.push_back(std::move(list));
      continue;
    }
    // Running out of PEM blocks ends the file normally once a list was read;
    // anything else is a damaged list, and an empty file is no trust material.
    const unsigned long error = ERR_peek_last_error();
    if (!lists.empty() && isEndOfPemInput(error)) {
      ERR_pop_to_mark();
      return lists;
    }
    ERR_clear_last_mark();
    throw verify_exceptions::ve_crypt(kLoadFailed);
  }
}

bool chain_has_revoked_certificate(STACK_OF(X509) * chain, const std::vector<X509CrlPtr>& lists) {
  const int length = sk_X509_num(chain);
  for (int i = 0; i < length; ++i) {
    X509* certificate = sk_X509_value(chain, i);
    X509* issuer = i + 1 < length ? sk_X509_value(chain, i + 1) : certificate;
    for (const X509CrlPtr& list : lists) {
      if (X509_NAME_cmp(X509_CRL_get_issuer(list.get()), X509_get_issuer_name(certificate)) != 0) continue;
      if (!signedBy(list.get(), X509_get0_pubkey(issuer))) continue;
      if (revokedBy(list.get(), certificate)) return true;
    }
  }
  return false;
}

}  // namespace verify
