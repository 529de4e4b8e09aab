// A wall clock corrected by a least-squares line through calibration samples.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "support/result.hpp"

namespace tarnwick {

struct ClockCalibrationSampleCore {
  std::uint64_t observed_ns = 0;
  std::uint64_t reference_ns = 0;
  std::optional<double> temperature_c;  // kept for the caller; the fit ignores it
};

class CalibratedClockCore {
 public:
  static Result<CalibratedClockCore> fit(std::vector<ClockCalibrationSampleCore> samples);

  const std::vector<ClockCalibrationSampleCore>& samples() const { return samples_; }
  double slope() const { return slope_; }
  double offset() const { return offset_; }

  // The corrected time at local reading `observed_ns`.
  Result<std::uint64_t> at(std::uint64_t observed_ns) const;
  Result<std::uint64_t> now_ns() const;

 private:
  CalibratedClockCore(std::vector<ClockCalibrationSampleCore> samples, double slope, double offset)
      : samples_(std::move(samples)), slope_(slope), offset_(offset) {}

  std::vector<ClockCalibrationSampleCore> samples_;
  double slope_;
  double offset_;
};

}  // namespace tarnwick
