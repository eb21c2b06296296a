#include "verify/certificate_chain.h"

#include <openssl/crypto.h>

#include <ctime>
#include <memory>

#include "verify/revocation.h"
#include "verify/signed_file.h"
#include "verify/verify_exceptions.h"

namespace verify {
namespace {

using verify_exceptions::ve_badcert;
using verify_exceptions::ve_crypt;

/// The untrusted stack only borrows its certificates.
struct BorrowingStackDeleter {
  void operator()(STACK_OF(X509) * stack) const { sk_X509_free(stack); }
};
using BorrowingStack = std::unique_ptr<STACK_OF(X509), BorrowingStackDeleter>;

}  // namespace

std::vector<X509Ptr> decode_chain_certificates(const std::vector<std::string>& pems) {
  std::vector<X509Ptr> chain;
  chain.reserve(pems.size());
  for (const std::string& pem : pems) {
    X509Ptr certificate = decode_certificate(pem);
    if (!certificate) throw ve_crypt("Decoding certificate in chain");
    chain.push_back(std::move(certificate));
  }
  return chain;
}

std::int64_t verification_time() {
  std::tm when{};
  when.tm_sec = 0;
  when.tm_min = 0;
  when.tm_hour = 0;
  when.tm_mday = 1;
  when.tm_mon = 0;
  when.tm_year = 109;
  when.tm_isdst = 0;
  return static_cast<std::int64_t>(std::mktime(&when));
}

void verify_certificate_chain(X509* signer, const std::string& trusted_certs_path, const std::vector<X509Ptr>& chain,
                              const std::string& crl_path) {
  BorrowingStack untrusted(sk_X509_new_null());
  if (!untrusted) throw ve_crypt("Error initialising verification context");
  for (const X509Ptr& certificate : chain) {
    if (sk_X509_push(untrusted.get(), certificate.get()) <= 0) {
      throw ve_crypt("Error initialising verification context");
    }
  }
  X509StorePtr store(X509_STORE_new());
  X509StoreCtxPtr context(X509_STORE_CTX_new());
  OPENSSL_init_crypto(OPENSSL_INIT_ADD_ALL_DIGESTS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);

  if (!store) throw ve_crypt("Error creating X509_STORE object");
  if (X509_STORE_load_locations(store.get(), trusted_certs_path.c_str(), nullptr) != 1) {
    throw ve_crypt("Error loading trusted certificates file");
  }
  if (X509_STORE_add_lookup(store.get(), X509_LOOKUP_file()) == nullptr) {
    throw ve_crypt("Error creating X509_LOOKUP object");
  }
  if (!context) throw ve_crypt("Error creating X509_STORE_CTX object");
  if (X509_STORE_CTX_init(context.get(), store.get(), signer, untrusted.get()) != 1) {
    throw ve_crypt("Error initialising verification context");
  }
  // Validity periods are judged at this fixed instant, not at today's date.
  X509_STORE_CTX_set_time(context.get(), 0, static_cast<time_t>(verification_time()));

  const int result = X509_verify_cert(context.get());
  if (result == 0) throw ve_badcert();
  if (result != 1) throw ve_crypt("Verifying certificate");

  if (!crl_path.empty()) {
    const std::vector<X509CrlPtr> lists = load_revocation_lists(crl_path);
    if (chain_has_revoked_certificate(X509_STORE_CTX_get0_chain(context.get()), lists)) throw ve_badcert();
  }
}

}  // namespace verify
