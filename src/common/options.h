#pragma once
// Options records: each analysis declares its options once, and every front end (the
// desktop dialog, the command line and its --help) is built from that declaration.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelk {

enum class OptionKind {
  Integer,  // a text field holding a whole number
  Number,   // a text field holding a number
  Text,     // a text field holding any text
  Choice,   // a group of radio buttons, one of which is chosen
};

// One radio button of a choice.
struct OptionChoice {
  std::string controlName;  // the button's control name, e.g. "TGRadioButton"
  std::string caption;      // the button's caption, e.g. "Tarone-Greenland"
  std::string value;        // what the record holds when it is chosen, e.g. "TG"
  std::string token;        // what the command line accepts for it, e.g. "tg"
};

struct OptionSpec {
  std::string field;        // the record's field: a property or a text field's control name
  std::string controlName;  // the text field, or the group box holding the radio buttons
  std::string caption;      // the label shown with the control
  std::string group;        // the caption of the group box the control sits in
  OptionKind kind = OptionKind::Text;
  std::string defaultText;  // the text field's default, or the value of the default choice
  std::vector<OptionChoice> choices;
  std::string flag;  // the command-line flag, without its dashes
  std::string help;  // one line for --help

  const OptionChoice* choiceByToken(std::string_view token) const;
  const OptionChoice* choiceByValue(std::string_view value) const;
  // The text shown as the default on a command line (the token of the default choice).
  std::string defaultToken() const;
};

// The settings of one run: one text per field, starting at the declared defaults.
class OptionValues {
 public:
  explicit OptionValues(const std::vector<OptionSpec>& specs);
  const std::string& text(std::string_view field) const;
  bool is(std::string_view field, std::string_view value) const { return text(field) == value; }
  void set(std::string_view field, std::string text);

 private:
  std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace zelk
