#pragma once

#include <functional>
#include <istream>
#include <ostream>
#include <sstream>
#include <string>

#include "verify/verify_exceptions.h"

/// Shared by the tests of the verification library.
namespace verify_testing {

/// The stream state as one word: "good", "eof", "fail", "eof+fail" or "bad".
inline std::string StateOf(const std::istream& in) {
  if (in.bad()) return "bad";
  if (in.eof() && in.fail()) return "eof+fail";
  if (in.eof()) return "eof";
  if (in.fail()) return "fail";
  return "good";
}

/// What a verification exception writes with `print`.
inline std::string Printed(const verify_exceptions::ve_base& e) {
  std::ostringstream out;
  e.print(out);
  return out.str();
}

/// How an action ended: which exception class (or "none"), its code and its
/// diagnostic form.
struct Outcome {
  std::string kind;
  int code = 0;
  std::string printed;
  bool operator==(const Outcome&) const = default;
};

inline void PrintTo(const Outcome& o, std::ostream* out) {
  *out << "{" << o.kind << ", " << o.code << ", \"" << o.printed << "\"}";
}

inline std::string KindOf(const verify_exceptions::ve_base& e) {
  using namespace verify_exceptions;
  if (dynamic_cast<const ve_file*>(&e)) return "ve_file";
  if (dynamic_cast<const ve_crypt*>(&e)) return "ve_crypt";
  if (dynamic_cast<const ve_badsig*>(&e)) return "ve_badsig";
  if (dynamic_cast<const ve_badcert*>(&e)) return "ve_badcert";
  return "ve_base";
}

inline Outcome OutcomeOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const verify_exceptions::ve_base& e) {
    return {KindOf(e), e.code, Printed(e)};
  }
  return {"none", 0, ""};
}

inline Outcome None() { return {"none", 0, ""}; }
inline Outcome BadSignature() { return {"ve_badsig", 6, "[BADSIG]: 6\n"}; }
inline Outcome BadCertificate() { return {"ve_badcert", 7, "[VE_BADCERT]: 7\n"}; }
inline Outcome BadFile(int code, const std::string& path) {
  return {"ve_file", code, "[BADFILE]: " + std::to_string(code) + ": '" + path + "'"};
}

/// The first line of a `ve_crypt` form; the lines after it come from OpenSSL.
inline std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n') + 1); }

}  // namespace verify_testing
