#pragma once
// Command-line flags built from an options record.

#include <CLI/CLI.hpp>
#include <string>

#include "common/options.h"

namespace zelk::cli {

// The choice tokens of an option, "a|b|c".
std::string choiceTokens(const OptionSpec& option);

// Checks a flag's text against the option's kind: a whole number, a number, one of the
// choice tokens, or any text.
CLI::Validator validatorFor(const OptionSpec& option);

}  // namespace zelk::cli
