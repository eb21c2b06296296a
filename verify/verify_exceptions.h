#pragma once

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>

#include "verify/verify_status.h"

/// The exceptions through which every failure of a manifest load reaches its
/// caller. The caller catches `ve_base`, lets `print` write the diagnostic form
/// into a text stream and shows that text; `what()` is the same for the whole
/// family, so the diagnostic form is the only place the detail lives.
namespace verify_exceptions {

class ve_base : public std::runtime_error {
 public:
  ~ve_base() override = default;
  /// Writes the diagnostic form of the concrete exception.
  virtual void print(std::ostream& out) const = 0;

  std::int32_t code;  ///< a `verify_status` value

 protected:
  explicit ve_base(verify_status status);
  ve_base(const ve_base&) = default;
  ve_base& operator=(const ve_base&) = default;
};

/// A file that cannot be opened (3), a broken signed-file layout (4) or a
/// malformed manifest body (8).
class ve_file : public ve_base {
 public:
  ve_file(verify_status status, std::string path);
  void print(std::ostream& out) const override;

  std::string path;  ///< the file concerned
};

/// A failed step of the cryptographic library (always code 5). Printing it also
/// drains the calling thread's OpenSSL error queue, one line per entry.
class ve_crypt : public ve_base {
 public:
  explicit ve_crypt(std::string message);
  void print(std::ostream& out) const override;

  std::string message;  ///< names the failed step
};

/// A missing or non-matching signature (always code 6).
class ve_badsig : public ve_base {
 public:
  ve_badsig();
  void print(std::ostream& out) const override;
};

/// A missing signer certificate or a chain that does not verify (always code 7).
class ve_badcert : public ve_base {
 public:
  ve_badcert();
  void print(std::ostream& out) const override;
};

std::ostream& operator<<(std::ostream& out, const ve_base& e);
std::ostream& operator<<(std::ostream& out, const ve_file& e);
std::ostream& operator<<(std::ostream& out, const ve_crypt& e);
std::ostream& operator<<(std::ostream& out, const ve_badsig& e);
std::ostream& operator<<(std::ostream& out, const ve_badcert& e);

/// Appends the oldest entry of the calling thread's OpenSSL error queue to `text`
/// ("[Crypt Error]: " and OpenSSL's text for it, then " :data=" and the entry's
/// additional text when it has one shorter than 512 bytes) and removes it from
/// the queue. False, with `text` untouched, when the queue is empty.
bool next_crypto_error(std::string& text);

}  // namespace verify_exceptions
