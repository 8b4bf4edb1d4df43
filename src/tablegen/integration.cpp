#include "tablegen/integration.h"

#include <cmath>
#include <vector>

namespace zelk::tablegen {

double functionClass::value(double) {
  return 0.0;
}

bool nevilleInterpolation(const double* xa, const double* ya, int m, double x, double& y,
                          double& dy) {
  // Five points in every integral: the working arrays live on the stack unless more are
  // asked for.
  constexpr int kOnStack = 16;
  double cStack[kOnStack + 1];
  double dStack[kOnStack + 1];
  std::vector<double> cHeap;
  std::vector<double> dHeap;
  double* c = cStack;
  double* d = dStack;
  if (m > kOnStack) {
    cHeap.resize(static_cast<std::size_t>(m) + 1);
    dHeap.resize(static_cast<std::size_t>(m) + 1);
    c = cHeap.data();
    d = dHeap.data();
  }
  bool distinct = true;
  int ns = 1;
  double nearest = std::fabs(x - xa[1]);
  for (int i = 1; i <= m; ++i) {
    const double distance = std::fabs(x - xa[i]);
    if (distance < nearest) {
      ns = i;
      nearest = distance;
    }
    c[i] = ya[i];
    d[i] = ya[i];
  }
  y = ya[ns];
  ns = ns - 1;
  dy = 0.0;
  for (int step = 1; step <= m - 1; ++step) {
    for (int i = 1; i <= m - step; ++i) {
      const double ho = xa[i] - x;
      const double hp = xa[i + step] - x;
      const double w = c[i + 1] - d[i];
      double den = ho - hp;
      if (den == 0.0) distinct = false;
      den = w / den;
      d[i] = hp * den;
      c[i] = ho * den;
    }
    if (2 * ns < m - step) {
      dy = c[ns + 1];
    } else {
      dy = d[ns];
      ns = ns - 1;
    }
    y = y + dy;
  }
  return distinct;
}

void openRhombergIntegrationClass::polynomialInterpolation(const std::vector<double>& xa,
                                                           const std::vector<double>& ya, double x,
                                                           double& y, double& dy) {
  const int m = static_cast<int>(xa.size()) - 1;
  if (m < 1 || ya.size() < xa.size()) {
    y = 0.0;
    dy = 0.0;
    return;
  }
  if (!nevilleInterpolation(xa.data(), ya.data(), m, x, y, dy) && platform_ != nullptr)
    platform_->showMessage("Houston we have a problem with polyInterpolation");
}

double openRhombergIntegrationClass::midPoint(functionClass& fn, double a, double b,
                                              std::int32_t n) {
  if (n == 1) {
    integrand = (b - a) * fn.value((a + b) / 2);
    return integrand;
  }
  std::int64_t it = 1;
  for (std::int32_t j = 2; j < n; ++j) it *= 3;
  const double del = (b - a) / (3.0 * static_cast<double>(it));
  const double ddel = 2.0 * del;
  double x = a + del / 2;
  double sum = 0.0;
  for (std::int64_t j = 0; j < it; ++j) {
    sum = sum + fn.value(x);
    x = x + ddel;
    sum = sum + fn.value(x);
    x = x + del;
  }
  integrand = (integrand + (b - a) * sum / static_cast<double>(it)) / 3;
  return integrand;
}

bool RombergStages::addStage(double midpointValue) {
  ++stage_;
  const int j = stage_;
  if (j == 1) h_[1] = 1.0;
  s_[j] = midpointValue;
  if (j >= openRhombergIntegrationClass::kExtrapolationPoints) {
    double ss = 0.0;
    double dss = 0.0;
    constexpr int kPoints = openRhombergIntegrationClass::kExtrapolationPoints;
    // h(j-4..j) and s(j-4..j) seen as arrays indexed 1..5.
    nevilleInterpolation(&h_[j - kPoints], &s_[j - kPoints], kPoints, 0.0, ss, dss);
    if (std::fabs(dss) < eps_ * std::fabs(ss)) {
      result_ = ss;
      return true;
    }
  }
  s_[j + 1] = s_[j];
  h_[j + 1] = h_[j] / 9.0;
  return false;
}

double openRhombergIntegrationClass::integrate(functionClass& fn, double a, double b) {
  RombergStages stages(accuracy);
  for (std::int32_t j = 1; j <= kMaxStages; ++j) {
    if (stages.addStage(midPoint(fn, a, b, j))) {
      lastStage_ = j;
      return stages.result();
    }
  }
  lastStage_ = kMaxStages + 1;
  return 0.0;
}

}  // namespace zelk::tablegen
