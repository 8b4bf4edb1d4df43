#include "option_flags.h"

#include <cmath>

#include "common/numbers.h"

namespace zelk::cli {

std::string choiceTokens(const OptionSpec& option) {
  std::string tokens;
  for (const auto& choice : option.choices) {
    if (!tokens.empty()) tokens += "|";
    tokens += choice.token;
  }
  return tokens;
}

CLI::Validator validatorFor(const OptionSpec& option) {
  switch (option.kind) {
    case OptionKind::Integer:
      return CLI::Validator(
          [](std::string& text) -> std::string {
            if (!isWholeNumberText(text) || leadingNumber(text) != std::trunc(leadingNumber(text)))
              return "expected a whole number, got \"" + text + "\"";
            return {};
          },
          "INT");
    case OptionKind::Number:
      return CLI::Validator(
          [](std::string& text) -> std::string {
            if (!isWholeNumberText(text)) return "expected a number, got \"" + text + "\"";
            return {};
          },
          "NUMBER");
    case OptionKind::Choice: {
      const std::string tokens = choiceTokens(option);
      return CLI::Validator(
          [option, tokens](std::string& text) -> std::string {
            if (option.choiceByToken(text) == nullptr)
              return "expected one of " + tokens + ", got \"" + text + "\"";
            return {};
          },
          tokens);
    }
    case OptionKind::Text:
      break;
  }
  return CLI::Validator([](std::string&) { return std::string(); }, "TEXT");
}

std::optional<int> parseCommandLine(CLI::App& app, int argc, char** argv, int usageStatus) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return usageStatus;
  }
  return std::nullopt;
}

}  // namespace zelk::cli
