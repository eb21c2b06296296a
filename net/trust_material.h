#pragma once

#include <string>

#include "platform/resources.h"

/// The trust anchors embedded in the executable: the root certificate and the
/// revocation lists, written into the working folder before every proof because
/// the verification library reads trust material from files only.

// Where the build embeds them (CMakeLists.txt), given to every user of the
// program's resources as compile definitions.
inline constexpr const char* kCertificateResourceType = RSCDC_CERTIFICATE_RESOURCE_TYPE;
inline constexpr int kCertificateResourceId = RSCDC_CERTIFICATE_RESOURCE_ID;
inline constexpr const char* kCrlResourceType = RSCDC_CRL_RESOURCE_TYPE;
inline constexpr int kCrlResourceId = RSCDC_CRL_RESOURCE_ID;

inline constexpr const char* kCaCertificateFileName = "ps_rootca.crt";
inline constexpr const char* kCrlFileName = "ps.crl";

/// Copies a located resource's bytes, unchanged. False (reason in the last
/// error) when the resource is missing or empty.
bool LoadResourceBytes(const platform::Resource& resource, std::string& bytes);

/// Writes the bytes to a new or truncated file. True only if every byte reached
/// the file; otherwise the reason is in `errno`.
bool WriteBytesToFile(const std::string& path, const std::string& bytes);

/// Writes "ps_rootca.crt" and "ps.crl" into the working folder from the given
/// resource table (the program's own by default). Prints its own failure
/// message on standard error.
bool ExtractTrustMaterial(const std::string& workingFolder,
                          const platform::ResourceTable& resources = platform::ProgramResources());
