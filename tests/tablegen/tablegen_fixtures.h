#pragma once
// Shared by the generator's tests: settings of the options window, and the gamma average of
// the fixation term written from its definition.

#include <cmath>
#include <initializer_list>
#include <utility>

#include "tablegen/options_folded_window.h"

namespace zelk::testing {

// The options window's defaults with some fields changed.
inline OptionValues windowSettings(
    std::initializer_list<std::pair<const char*, const char*>> changes) {
  OptionValues values(tablegen::optionsFoldedWindow::options());
  for (const auto& [field, text] : changes) values.set(field, text);
  return values;
}

// a^b [(x+a)^-b - (1+a)^-b + ((a+2)^(1-b) - (x+a+1)^(1-b))/(1-b)
//      + ((x+a+1)^-b - (a+2)^-b)/2 + b((x+a+1)^(-b-1) - (a+2)^(-b-1))/12], a = b / meanS.
inline double independentFixation(double x, double beta, double meanS) {
  const double a = beta / meanS;
  const double b = beta;
  return std::pow(a, b) * (std::pow(x + a, -b) - std::pow(1 + a, -b) +
                           (std::pow(a + 2, 1 - b) - std::pow(x + a + 1, 1 - b)) / (1 - b) +
                           (std::pow(x + a + 1, -b) - std::pow(a + 2, -b)) / 2 +
                           b * (std::pow(x + a + 1, -b - 1) - std::pow(a + 2, -b - 1)) / 12);
}

}  // namespace zelk::testing
