// trusted_root_store add|remove CERT.pem: adds the certificate to the local
// machine's Root store, or deletes it from there, and ends with 0 when done.
// For TrustedTestCa (tests/support/test_trust_win32.cpp) under wine: the store
// lives in the registry of the tests' own wine prefix. A program of its own,
// because a process keeps the Root store it read first: the test process
// reads it only when it first checks a certificate, after this has run.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "trusted_root_store: %s failed, error %lu\n", what, GetLastError());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "add" && std::string(argv[1]) != "remove")) {
    std::fprintf(stderr, "usage: trusted_root_store add|remove CERT.pem\n");
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  DWORD size = 0;
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr, &size,
                            nullptr, nullptr)) {
    return Fail("reading the certificate");
  }
  std::vector<BYTE> der(size);
  if (!CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(), &size,
                            nullptr, nullptr)) {
    return Fail("reading the certificate");
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
  if (store == nullptr) return Fail("opening the Root store");
  int status = 0;
  if (std::string(argv[1]) == "add") {
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr)) {
      status = Fail("adding the certificate");
    }
  } else {
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), size);
    PCCERT_CONTEXT found =
        wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr) : nullptr;
    // Deleting frees the context it is given; one that is not there is gone already.
    if (found != nullptr && !CertDeleteCertificateFromStore(found)) status = Fail("deleting the certificate");
    if (wanted != nullptr) CertFreeCertificateContext(wanted);
  }
  CertCloseStore(store, 0);
  return status;
}
