#include "time/calibrated.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "time/clock.hpp"

namespace tarnwick {

Result<CalibratedClockCore> CalibratedClockCore::fit(
    std::vector<ClockCalibrationSampleCore> samples) {
  const std::size_t n = samples.size();
  if (n == 0) return Error::value("calibrated clock requires at least one true time observation");
  const auto x = [&](std::size_t i) { return static_cast<double>(samples[i].observed_ns); };
  const auto y = [&](std::size_t i) { return static_cast<double>(samples[i].reference_ns); };
  if (n == 1) {
    const double offset = y(0) - x(0);
    return CalibratedClockCore(std::move(samples), 1.0, offset);
  }
  // Accumulated in sample order so the fit is reproducible bit for bit.
  double sum_x = 0.0, sum_y = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    sum_x += x(i);
    sum_y += y(i);
  }
  const double mean_x = sum_x / static_cast<double>(n);
  const double mean_y = sum_y / static_cast<double>(n);
  double sxx = 0.0, sxy = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const double dx = x(i) - mean_x;
    sxx += dx * dx;
    sxy += dx * (y(i) - mean_y);
  }
  if (sxx == 0.0) return CalibratedClockCore(std::move(samples), 1.0, mean_y - mean_x);
  const double slope = sxy / sxx;
  const double offset = mean_y - mean_x * slope;
  return CalibratedClockCore(std::move(samples), slope, offset);
}

Result<std::uint64_t> CalibratedClockCore::at(std::uint64_t observed_ns) const {
  const double v = std::fma(slope_, static_cast<double>(observed_ns), offset_);
  if (!std::isfinite(v) || v < 0.0) return Error::runtime("calibrated time is not finite");
  const double rounded = std::round(v);
  // 2^64 is exactly representable; everything from there on saturates.
  if (rounded >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(rounded);
}

Result<std::uint64_t> CalibratedClockCore::now_ns() const {
  Result<std::uint64_t> t = current_system_time_ns();
  if (!t.ok()) return t.error();
  return at(*t);
}

}  // namespace tarnwick
