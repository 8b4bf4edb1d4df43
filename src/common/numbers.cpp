#include "common/numbers.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace zelk {
namespace {

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}
bool isBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

NumberSpan findLeadingNumber(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && isBlank(text[i])) ++i;
  const std::size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && isDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return {start, 0};
  std::size_t end = i;
  // An exponent counts only when it has at least one digit.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    std::size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    if (j < text.size() && isDigit(text[j])) {
      while (j < text.size() && isDigit(text[j])) ++j;
      end = j;
    }
  }
  return {start, end - start};
}

double leadingNumber(std::string_view text) {
  const NumberSpan span = findLeadingNumber(text);
  if (span.length == 0) return 0.0;
  // strtod needs a terminated string; the number is short, so copy it.
  const std::string number(text.substr(span.start, span.length));
  return std::strtod(number.c_str(), nullptr);
}

bool isWholeNumberText(std::string_view text) {
  const NumberSpan span = findLeadingNumber(text);
  if (span.length == 0) return false;
  for (std::size_t i = span.start + span.length; i < text.size(); ++i) {
    if (!isBlank(text[i])) return false;
  }
  return true;
}

std::string formatReportNumber(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // Fixed notation of the largest double has 309 digits before the point.
  std::array<char, 400> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                    std::chars_format::fixed, 5);
  std::string text(buffer.data(), result.ptr);
  while (!text.empty() && text.back() == '0') text.pop_back();
  // A value that rounds to zero carries no sign.
  if (text == "-0.") text = "0.";
  return text;
}

std::string shortestText(double value) {
  if (std::isnan(value)) return "nan";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  std::array<char, 64> buffer{};
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  return std::string(buffer.data(), result.ptr);
}

}  // namespace zelk
