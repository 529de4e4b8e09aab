// Python faces of the observability store and its records.
#include "python/py_observability.hpp"

#include "observability/observability_core.hpp"
#include "python/binding/classdef.hpp"

namespace tarnwick::py {
namespace {

using Core = ObservabilityRuntimeCore;

constexpr auto kNew = sig("ObservabilityRuntime", kwonly("retained_records", "1024"));

Core runtime_new(const Args<1>& a) {
  const std::uint64_t retained =
      a[0].missing() ? Core::kDefaultRetainedRecords : to_u64(a[0]);
  return unwrap(Core::make(retained));
}

std::string text_or(Arg a, const char* fallback) { return a.missing() ? fallback : to_text(a); }

constexpr auto kRecordLog =
    sig("record_log", req("severity_text"), req("logger_name"), req("body"),
        kwonly("file_path", "..."), kwonly("line_number", "0"), kwonly("attributes_json", "..."),
        kwonly("timestamp_ns", "None"));

LogRecordEnvelopeCore record_log(Core& core, const Args<7>& a) {
  LogInput input;
  input.severity_text = to_text(a[0]);
  input.logger_name = to_text(a[1]);
  input.body = to_text(a[2]);
  input.file_path = text_or(a[3], "");
  input.line_number = a[4].missing() ? 0 : to_u64(a[4]);
  input.attributes_json = text_or(a[5], "{}");
  input.timestamp_ns = to_optional(a[6], to_u64);
  return unwrap(core.record_log(std::move(input)));
}

constexpr auto kRecordHistogram =
    sig("record_histogram", req("name"), req("value"), kwonly("unit", "..."),
        kwonly("attributes_json", "..."), kwonly("timestamp_ns", "None"));

MetricHistogramRecordCore record_histogram(Core& core, const Args<5>& a) {
  HistogramInput input;
  input.name = to_text(a[0]);
  input.value = to_f64(a[1]);
  input.unit = text_or(a[2], "");
  input.attributes_json = text_or(a[3], "{}");
  input.timestamp_ns = to_optional(a[4], to_u64);
  return unwrap(core.record_histogram(std::move(input)));
}

constexpr auto kSetBuckets = sig("set_buckets", req("buckets"));

void set_buckets(Core& core, const Args<1>& a) {
  std::vector<double> bounds;
  for (const Ref& item : to_sequence(a[0])) bounds.push_back(to_f64({item.get(), a[0].name}));
  unwrap(core.set_buckets(std::move(bounds)));
}

constexpr auto kLogs = sig("logs");
constexpr auto kMetrics = sig("metrics");

}  // namespace

PyObject* define_log_record_envelope(PyObject* m) {
  using R = LogRecordEnvelopeCore;
  return ClassDef<R>("LogRecordEnvelope")
      .getter<[](const R& r) { return r.severity_text; }>("severity_text")
      .getter<[](const R& r) { return r.logger_name; }>("logger_name")
      .getter<[](const R& r) { return r.body; }>("body")
      .getter<[](const R& r) { return r.file_path; }>("file_path")
      .getter<[](const R& r) { return r.attributes_json; }>("attributes_json")
      .getter<[](const R& r) { return r.timestamp_ns; }>("timestamp_ns")
      .getter<[](const R& r) { return r.line_number; }>("line_number")
      .build(m);
}

PyObject* define_metric_histogram_record(PyObject* m) {
  using R = MetricHistogramRecordCore;
  return ClassDef<R>("MetricHistogramRecord")
      .getter<[](const R& r) { return r.name; }>("name")
      .getter<[](const R& r) { return r.unit; }>("unit")
      .getter<[](const R& r) { return r.explicit_bounds_json; }>("explicit_bounds_json")
      .getter<[](const R& r) { return r.bucket_counts_json; }>("bucket_counts_json")
      .getter<[](const R& r) { return r.attributes_json; }>("attributes_json")
      .getter<[](const R& r) { return r.timestamp_ns; }>("timestamp_ns")
      .getter<[](const R& r) { return r.count; }>("count")
      .getter<[](const R& r) { return r.sum; }>("sum")
      .getter<[](const R& r) { return r.min; }>("min")
      .getter<[](const R& r) { return r.max; }>("max")
      .build(m);
}

PyObject* define_observability_runtime(PyObject* m) {
  return ClassDef<Core>("ObservabilityRuntime")
      .constructor<kNew, runtime_new>()
      .mutating_method<kRecordLog, record_log>()
      .mutating_method<kRecordHistogram, record_histogram>()
      .mutating_method<kSetBuckets, set_buckets>()
      .method<kLogs, [](Core& c, const Args<0>&) { return to_py(c.logs()); }>()
      .method<kMetrics, [](Core& c, const Args<0>&) { return to_py(c.metrics()); }>()
      .build(m);
}

}  // namespace tarnwick::py
