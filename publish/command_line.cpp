#include "publish/command_line.h"

#include <string_view>

namespace {

/// The option an argument names and the value it carries after `=`, if any.
struct OptionArgument {
  std::string name;
  std::string value;
  bool hasValue = false;
};

OptionArgument splitOption(const std::string& arg) {
  const std::size_t equals = arg.find('=');
  if (arg.starts_with("--") && equals != std::string::npos) {
    return {arg.substr(0, equals), arg.substr(equals + 1), true};
  }
  return {arg, {}, false};
}

}  // namespace

ParsedCommandLine ParsePublishCommandLine(const std::vector<std::string>& args) {
  ParsedCommandLine parsed;
  PublishOptions& o = parsed.options;
  auto usageError = [&parsed](std::string error) {
    parsed.action = CommandLineAction::UsageError;
    parsed.error = std::move(error);
    return parsed;
  };

  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      o.files.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    const OptionArgument option = splitOption(arg);
    if (option.name == "-h" || option.name == "--help") {
      if (option.hasValue) return usageError("option --help takes no value");
      parsed.action = CommandLineAction::ShowHelp;
      return parsed;
    }

    std::string* single = nullptr;
    if (option.name == "--key") {
      single = &o.keyPath;
    } else if (option.name == "--cert") {
      single = &o.certificatePath;
    } else if (option.name == "--verify-with") {
      single = &o.trustedRootPath;
    } else if (option.name == "--crl") {
      single = &o.crlPath;
    } else if (option.name == "--out") {
      single = &o.outputPath;
    } else if (option.name != "--chain") {
      return usageError("unknown option " + option.name);
    }

    std::string value = option.value;
    if (!option.hasValue) {
      if (i + 1 >= args.size()) return usageError("option " + option.name + " needs a value");
      value = args[++i];
    }
    if (value.empty()) return usageError("option " + option.name + " needs a non-empty value");
    if (single == nullptr) {
      o.chainPaths.push_back(std::move(value));
    } else if (!single->empty()) {
      return usageError("option " + option.name + " is given more than once");
    } else {
      *single = std::move(value);
    }
  }

  if (o.keyPath.empty()) return usageError("--key is required");
  if (o.certificatePath.empty()) return usageError("--cert is required");
  if (o.outputPath.empty()) return usageError("--out is required");
  if (!o.crlPath.empty() && o.trustedRootPath.empty()) return usageError("--crl needs --verify-with");
  if (o.files.empty()) return usageError("no file to list in the manifest");
  parsed.action = CommandLineAction::Publish;
  return parsed;
}

std::string PublishUsageText() {
  return R"(Usage: rscdc-publish --key KEY.pem --cert CERT.pem [--chain CHAIN.pem ...]
                     [--verify-with ROOT.crt [--crl CRL.pem]] --out MANIFEST FILE...

Writes MANIFEST, a signed manifest that rscdc accepts, listing each FILE in the
order given. Each FILE becomes one line
  ".\NAME" SIZE SHA1
where NAME is the file's base name, SIZE its size in bytes (decimal; files of
more than 4294967295 bytes cannot be listed) and SHA1 the lower-case
hexadecimal SHA-1 of its content. The lines are signed with RSA PKCS #1 v1.5
over SHA-1, followed by the signer certificate and the chain certificates.

  --key FILE          the signer's unencrypted PEM private key; RSA only
  --cert FILE         the signer's PEM certificate (one certificate; it must
                      belong to the key)
  --chain FILE        PEM certificates to write after the signer's, in order
                      (every certificate of the file); repeatable
  --verify-with FILE  before publishing, load the manifest as rscdc does with
                      FILE (PEM) as the trusted root, and check every FILE
                      against it; publish nothing if that fails
  --crl FILE          revocation lists (PEM) for --verify-with
  --out FILE          the manifest to write; it is replaced only when the new
                      one is complete, so a failure leaves no partial manifest
  -h, --help          this text

Exit status: 0 when the manifest was written, 1 on any error, 2 on a usage
error.
)";
}
