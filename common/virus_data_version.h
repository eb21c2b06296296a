#pragma once

/// Version of the anti-virus package's virus data, as read from its "vdl-" file
/// name: it names the identities archive and labels the image.
struct VirusDataVersion {
  int major = 0;
  int minor = 0;
};
