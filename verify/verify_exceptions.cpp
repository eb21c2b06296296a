#include "verify/verify_exceptions.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <cstring>

namespace verify_exceptions {
namespace {

constexpr std::size_t kErrorTextSize = 512;

}  // namespace

ve_base::ve_base(verify_status status)
    : std::runtime_error("VerifyTool Exception"), code(static_cast<std::int32_t>(status)) {}

ve_file::ve_file(verify_status status, std::string path) : ve_base(status), path(std::move(path)) {}

void ve_file::print(std::ostream& out) const { out << *this; }

ve_crypt::ve_crypt(std::string message) : ve_base(verify_status::crypto_error), message(std::move(message)) {}

void ve_crypt::print(std::ostream& out) const { out << *this; }

ve_badsig::ve_badsig() : ve_base(verify_status::bad_signature) {}

void ve_badsig::print(std::ostream& out) const { out << *this; }

ve_badcert::ve_badcert() : ve_base(verify_status::bad_certificate) {}

void ve_badcert::print(std::ostream& out) const { out << *this; }

std::ostream& operator<<(std::ostream& out, const ve_base& e) {
  e.print(out);
  return out;
}

std::ostream& operator<<(std::ostream& out, const ve_file& e) {
  return out << "[BADFILE]: " << e.code << ": '" << e.path << "'";
}

std::ostream& operator<<(std::ostream& out, const ve_crypt& e) {
  out << "[VE_CRYPT] " << e.message << '\n' << std::flush;
  std::string text;
  while (next_crypto_error(text)) {
    out << text << '\n' << std::flush;
    text.clear();
  }
  return out;
}

std::ostream& operator<<(std::ostream& out, const ve_badsig& e) {
  return out << "[BADSIG]: " << e.code << '\n' << std::flush;
}

std::ostream& operator<<(std::ostream& out, const ve_badcert& e) {
  return out << "[VE_BADCERT]: " << e.code << '\n' << std::flush;
}

bool next_crypto_error(std::string& text) {
  // OpenSSL 3 loads its error texts by itself; asking once keeps the texts
  // available even in a process that never initialised the library otherwise.
  static const bool stringsLoaded = OPENSSL_init_crypto(OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) == 1;
  (void)stringsLoaded;

  const char* file = nullptr;
  const char* function = nullptr;
  const char* data = nullptr;
  int line = 0;
  int flags = 0;
  const unsigned long error = ERR_get_error_all(&file, &line, &function, &data, &flags);
  if (error == 0) return false;

  char buffer[kErrorTextSize];
  ERR_error_string_n(error, buffer, sizeof buffer);
  text += "[Crypt Error]: ";
  text += buffer;
  if ((flags & ERR_TXT_STRING) != 0 && data != nullptr && std::strlen(data) < kErrorTextSize) {
    text += " :data=";
    text += data;
  }
  return true;
}

}  // namespace verify_exceptions
