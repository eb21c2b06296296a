#pragma once

#include <string>
#include <vector>

/// The command line of rscdc-publish.
struct PublishOptions {
  std::string keyPath;                  ///< --key: PEM private key (RSA)
  std::string certificatePath;          ///< --cert: PEM certificate of that key
  std::vector<std::string> chainPaths;  ///< --chain, repeatable: PEM certificates written after the signer's
  std::string trustedRootPath;          ///< --verify-with: prove the result against this root; empty: skip
  std::string crlPath;                  ///< --crl: revocation lists for that proof; empty: none
  std::string outputPath;               ///< --out: the manifest to write
  std::vector<std::string> files;       ///< the files to list, in manifest order
};

enum class CommandLineAction {
  Publish,     ///< the options are complete
  ShowHelp,    ///< -h or --help
  UsageError,  ///< `error` says what is wrong
};

struct ParsedCommandLine {
  CommandLineAction action = CommandLineAction::UsageError;
  PublishOptions options;
  std::string error;
};

/// Parses the arguments after the program path. Options take their value as
/// the next argument or after `=`; "--" ends the options.
ParsedCommandLine ParsePublishCommandLine(const std::vector<std::string>& args);

/// The text of --help.
std::string PublishUsageText();
