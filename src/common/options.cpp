#include "common/options.h"

#include <stdexcept>

namespace zelk {

const OptionChoice* OptionSpec::choiceByToken(std::string_view t) const {
  for (const auto& choice : choices) {
    if (choice.token == t) return &choice;
  }
  return nullptr;
}

const OptionChoice* OptionSpec::choiceByValue(std::string_view v) const {
  for (const auto& choice : choices) {
    if (choice.value == v) return &choice;
  }
  return nullptr;
}

std::string OptionSpec::defaultToken() const {
  if (kind != OptionKind::Choice) return defaultText;
  const OptionChoice* choice = choiceByValue(defaultText);
  return choice != nullptr ? choice->token : defaultText;
}

OptionValues::OptionValues(const std::vector<OptionSpec>& specs) {
  for (const auto& option : specs) values_.emplace(option.field, option.defaultText);
}

const std::string& OptionValues::text(std::string_view field) const {
  const auto found = values_.find(field);
  // Asking for an undeclared field is a programming error in an analysis, not bad input.
  if (found == values_.end())
    throw std::logic_error("undeclared option field: " + std::string(field));
  return found->second;
}

void OptionValues::set(std::string_view field, std::string text) {
  const auto found = values_.find(field);
  if (found == values_.end())
    throw std::logic_error("undeclared option field: " + std::string(field));
  found->second = std::move(text);
}

}  // namespace zelk
