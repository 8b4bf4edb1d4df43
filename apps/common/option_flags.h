#pragma once
// Command-line flags built from an options record, and parsing a command line.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "common/options.h"

namespace zelk::cli {

// The choice tokens of an option, "a|b|c".
std::string choiceTokens(const OptionSpec& option);

// Checks a flag's text against the option's kind: a whole number, a number, one of the
// choice tokens, or any text.
CLI::Validator validatorFor(const OptionSpec& option);

// Parses the command line. Returns the exit status when the program should end here:
// 0 after --help or --version, `usageStatus` after a usage error (with its message);
// nothing when the program should go on.
std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv, int usageStatus);

}  // namespace zelk::cli
