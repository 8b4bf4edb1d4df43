#pragma once
// The progress window's model. Callers count in their own units; the bar always runs on
// the fixed scale 0..65000 (maximum 0 for a bar without measured progress).

#include <cstdint>
#include <string_view>

#include "common/platform.h"

namespace zelk {

// A view of the progress bar (a window, a terminal line).
class ProgressDisplay {
 public:
  virtual ~ProgressDisplay() = default;
  virtual void show(std::string_view title, std::int32_t barMaximum) = 0;
  virtual void setValue(std::string_view title, std::int32_t barValue) = 0;
  virtual void hide() = 0;
};

class progressWindow {
 public:
  static constexpr double kBarScale = 65000.0;

  progressWindow(ProgressDisplay& display, Platform& platform)
      : display_(display), platform_(platform) {}

  void start(std::string_view title, double max);
  void upDate(std::string_view title, std::int32_t value);
  void finish();

  double maxScale() const { return maxScale_; }

 private:
  ProgressDisplay& display_;
  Platform& platform_;
  double maxScale_ = 0.0;
};

// A display that shows nothing.
class NoProgressDisplay final : public ProgressDisplay {
 public:
  void show(std::string_view, std::int32_t) override {}
  void setValue(std::string_view, std::int32_t) override {}
  void hide() override {}
};

}  // namespace zelk
