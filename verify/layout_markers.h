#pragma once

#include <string_view>

/// The marker lines of the signed-file layout, each with its line feed, shared
/// by the code that reads the layout and the code that writes it.
namespace verify {

inline constexpr std::string_view kBeginSignatureLine = "-----BEGIN SIGNATURE-----\n";
inline constexpr std::string_view kEndSignatureLine = "-----END SIGNATURE-----\n";
inline constexpr std::string_view kBeginCertificateLine = "-----BEGIN CERTIFICATE-----\n";
inline constexpr std::string_view kEndCertificateLine = "-----END CERTIFICATE-----\n";

}  // namespace verify
