#include "tests/support/test_trust.h"

#include "platform/windows_api.h"

#include <wincrypt.h>

#include <stdexcept>
#include <vector>

// WinINet checks certificates against the system's ROOT store, which under
// wine lives in the registry of the prefix the tests run in: the build's own
// (see scripts/test --windows), never the machine's trust store. The test CA
// is added to the current user's ROOT store and deleted again.

namespace testing_support {

struct TrustedTestCa::Held {
  HCERTSTORE store = nullptr;
  PCCERT_CONTEXT added = nullptr;
};

namespace {

[[noreturn]] void Fail(const char* what) {
  throw std::runtime_error(std::string("trusting the test CA: ") + what + " failed, error " +
                           std::to_string(GetLastError()));
}

}  // namespace

TrustedTestCa::TrustedTestCa(const std::string& certificatePem) : held_(std::make_unique<Held>()) {
  DWORD size = 0;
  if (!CryptStringToBinaryA(certificatePem.data(), static_cast<DWORD>(certificatePem.size()),
                            CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
    Fail("CryptStringToBinaryA");
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(certificatePem.data(), static_cast<DWORD>(certificatePem.size()),
                            CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
    Fail("CryptStringToBinaryA");
  }
  held_->store = CertOpenSystemStoreW(0, L"ROOT");
  if (held_->store == nullptr) Fail("CertOpenSystemStoreW(ROOT)");
  if (!CertAddEncodedCertificateToStore(held_->store, X509_ASN_ENCODING, der.data(), size,
                                        CERT_STORE_ADD_REPLACE_EXISTING, &held_->added)) {
    CertCloseStore(held_->store, 0);
    Fail("CertAddEncodedCertificateToStore");
  }
}

TrustedTestCa::~TrustedTestCa() {
  // Deleting frees the context it is given.
  CertDeleteCertificateFromStore(held_->added);
  CertCloseStore(held_->store, 0);
}

}  // namespace testing_support
