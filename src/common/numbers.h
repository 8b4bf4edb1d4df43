#pragma once
// The single place where text becomes a number and a number becomes text.

#include <string>
#include <string_view>

namespace zelk {

// Lenient conversion: the longest leading number of the text (after leading blanks): an
// optional sign, digits with an optional decimal point, an optional exponent. Text without
// a leading number gives 0. A number too large for a double gives an infinity.
double leadingNumber(std::string_view text);

// Length of the leading number of the text after leading blanks (0 when there is none),
// and the number of blanks skipped before it.
struct NumberSpan {
  std::size_t start = 0;
  std::size_t length = 0;
};
NumberSpan findLeadingNumber(std::string_view text);

// True when the whole text (blanks around it allowed) is one number.
bool isWholeNumberText(std::string_view text);

// The report format of a double: rounded to at most five decimals, no trailing zeros,
// a minus sign only for negative values, never an exponent. A zero is written before the
// point of values between -1 and 1 ("0.5"); the point of a value without decimals is
// written ("3."); values that round to zero are written "0."; non-finite values are
// written "inf", "-inf" and "nan".
std::string formatReportNumber(double value);

// Shortest text that reads back to the same double; "nan", "inf", "-inf" for non-finite.
std::string shortestText(double value);

}  // namespace zelk
