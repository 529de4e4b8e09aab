// Python faces of the clocks: wall clock, SNTP, logical counters and the
// calibrated clock.
#include "python/py_time.hpp"

#include <optional>

#include "python/binding/classdef.hpp"
#include "python/binding/interpreter_lock.hpp"
#include "time/calibrated.hpp"
#include "time/clock.hpp"
#include "time/sntp.hpp"

namespace tarnwick::py {
namespace {

constexpr auto kNowNs = sig("now_ns");
constexpr auto kTick = sig("tick");

// ---- SystemTimeProvider -----------------------------------------------------------

struct SystemTimeProviderCore {};

constexpr auto kSystemTimeProviderNew = sig("SystemTimeProvider");

SystemTimeProviderCore system_time_provider_new(const Args<0>&) { return {}; }

std::uint64_t system_now_ns(SystemTimeProviderCore&, const Args<0>&) {
  return unwrap(current_system_time_ns());
}

// ---- NtpTimeProvider -----------------------------------------------------------------

constexpr auto kNtpNew =
    sig("NtpTimeProvider", req("server"), kwonly("port", "123"), kwonly("timeout_ms", "1000"));

NtpTimeProviderCore ntp_new(const Args<3>& a) {
  std::string server = to_text(a[0]);
  const std::uint16_t port = a[1].missing() ? 123 : to_u16(a[1]);
  const std::uint64_t timeout_ms = a[2].missing() ? 1000 : to_u64(a[2]);
  return unwrap(NtpTimeProviderCore::make(std::move(server), port, timeout_ms));
}

// The provider's settings never change, so the exchange may read them while
// other threads run.
std::uint64_t ntp_now_ns(NtpTimeProviderCore& ntp, const Args<0>&) {
  return unwrap(without_interpreter_lock([&] { return ntp.now_ns(); }));
}

// ---- logical counters ------------------------------------------------------------------

// Separate payload types keep the two classes apart.
struct MonotonicLogicalClockCore : LogicalCounterCore {};
struct ClockCore : LogicalCounterCore {};

constexpr auto kMonotonicNew = sig("MonotonicLogicalClock");
constexpr auto kClockNew = sig("Clock");

template <class C>
C counter_new(const Args<0>&) {
  return {};
}

template <class C>
std::uint64_t counter_tick(C& clock, const Args<0>&) {
  return clock.tick();
}

// ---- ClockCalibrationSample, CalibratedClock ----------------------------------------------

constexpr auto kSampleNew = sig("ClockCalibrationSample", req("observed_ns"), req("reference_ns"),
                                opt("temperature_c"));

ClockCalibrationSampleCore sample_new(const Args<3>& a) {
  const std::uint64_t observed = to_u64(a[0]);
  const std::uint64_t reference = to_u64(a[1]);
  std::optional<double> temperature;
  if (!a[2].missing()) temperature = to_f64(a[2]);
  return {observed, reference, temperature};
}

constexpr auto kCalibratedNew = sig("CalibratedClock", req("samples"));

CalibratedClockCore calibrated_new(const Args<1>& a) {
  return unwrap(CalibratedClockCore::fit(unbox_sequence<ClockCalibrationSampleCore>(a[0])));
}

std::uint64_t calibrated_now_ns(CalibratedClockCore& clock, const Args<0>&) {
  return unwrap(clock.now_ns());
}

}  // namespace

PyObject* define_clock_calibration_sample(PyObject* m) {
  return ClassDef<ClockCalibrationSampleCore>("ClockCalibrationSample")
      .constructor<kSampleNew, sample_new>()
      .getter<[](const ClockCalibrationSampleCore& s) { return s.observed_ns; }>("observed_ns")
      .getter<[](const ClockCalibrationSampleCore& s) { return s.reference_ns; }>("reference_ns")
      .getter<[](const ClockCalibrationSampleCore& s) { return s.temperature_c; }>(
          "temperature_c")
      .build(m);
}

PyObject* define_system_time_provider(PyObject* m) {
  return ClassDef<SystemTimeProviderCore>("SystemTimeProvider")
      .constructor<kSystemTimeProviderNew, system_time_provider_new>()
      .method<kNowNs, system_now_ns>()
      .build(m);
}

PyObject* define_ntp_time_provider(PyObject* m) {
  return ClassDef<NtpTimeProviderCore>("NtpTimeProvider")
      .constructor<kNtpNew, ntp_new>()
      .getter<[](const NtpTimeProviderCore& n) { return n.server; }>("server")
      .getter<[](const NtpTimeProviderCore& n) { return n.port; }>("port")
      .getter<[](const NtpTimeProviderCore& n) { return n.timeout_ms; }>("timeout_ms")
      .method<kNowNs, ntp_now_ns>()
      .build(m);
}

PyObject* define_monotonic_logical_clock(PyObject* m) {
  return ClassDef<MonotonicLogicalClockCore>("MonotonicLogicalClock")
      .constructor<kMonotonicNew, counter_new<MonotonicLogicalClockCore>>()
      .mutating_method<kTick, counter_tick<MonotonicLogicalClockCore>>()
      .build(m);
}

PyObject* define_clock(PyObject* m) {
  return ClassDef<ClockCore>("Clock")
      .constructor<kClockNew, counter_new<ClockCore>>()
      .mutating_method<kTick, counter_tick<ClockCore>>()
      .build(m);
}

PyObject* define_calibrated_clock(PyObject* m) {
  return ClassDef<CalibratedClockCore>("CalibratedClock")
      .constructor<kCalibratedNew, calibrated_new>()
      .getter<[](const CalibratedClockCore& c) { return c.samples(); }>("samples")
      .method<kNowNs, calibrated_now_ns>()
      .build(m);
}

}  // namespace tarnwick::py
