#include "shell/progress_window.h"

#include <cmath>

namespace zelk {

void progressWindow::start(std::string_view title, double max) {
  std::int32_t barMaximum = 0;
  if (max == 0.0) {
    maxScale_ = 0.0;
  } else {
    maxScale_ = kBarScale / max;
    barMaximum = static_cast<std::int32_t>(kBarScale);
  }
  display_.show(title, barMaximum);
  platform_.processEvents();
}

void progressWindow::upDate(std::string_view title, std::int32_t value) {
  const double scaled = std::trunc(static_cast<double>(value) * maxScale_);
  // A value past the caller's maximum stays on the bar instead of overflowing it.
  const double clamped = std::fmin(std::fmax(scaled, -kBarScale), kBarScale);
  display_.setValue(title, static_cast<std::int32_t>(clamped));
  platform_.processEvents();
}

void progressWindow::finish() {
  display_.hide();
}

}  // namespace zelk
