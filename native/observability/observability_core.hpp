// A bounded store of structured log records and single-sample histogram
// records. Python reads everything back; nothing is exported.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/result.hpp"

namespace tarnwick {

struct LogRecordEnvelopeCore {
  std::string severity_text;
  std::string logger_name;
  std::string body;
  std::string file_path;
  std::string attributes_json;
  std::uint64_t timestamp_ns = 0;
  std::uint64_t line_number = 0;
};

struct MetricHistogramRecordCore {
  std::string name;
  std::string unit;
  std::string explicit_bounds_json;
  std::string bucket_counts_json;
  std::string attributes_json;
  std::uint64_t timestamp_ns = 0;
  std::uint64_t count = 1;
  double sum = 0.0;
  double min = 0.0;
  double max = 0.0;
};

struct LogInput {
  std::string severity_text;
  std::string logger_name;
  std::string body;
  std::string file_path;
  std::string attributes_json = "{}";
  std::uint64_t line_number = 0;
  std::optional<std::uint64_t> timestamp_ns;
};

struct HistogramInput {
  std::string name;
  double value = 0.0;
  std::string unit;
  std::string attributes_json = "{}";
  std::optional<std::uint64_t> timestamp_ns;
};

class ObservabilityRuntimeCore {
 public:
  static constexpr std::uint64_t kDefaultRetainedRecords = 1024;

  static Result<ObservabilityRuntimeCore> make(std::uint64_t retained_records);

  Result<LogRecordEnvelopeCore> record_log(LogInput input);
  Result<MetricHistogramRecordCore> record_histogram(HistogramInput input);
  Status set_buckets(std::vector<double> bounds);
  // Two histograms (payload size, delivered subscribers) and one INFO log.
  Status record_pubsub_publish(std::string_view topic, std::uint64_t payload_bytes,
                               std::uint64_t delivered_subscribers);

  const std::deque<MetricHistogramRecordCore>& metrics() const { return metrics_; }
  const std::deque<LogRecordEnvelopeCore>& logs() const { return logs_; }
  const std::vector<double>& buckets() const { return buckets_; }
  std::uint64_t retained_records() const { return retained_records_; }

 private:
  explicit ObservabilityRuntimeCore(std::uint64_t retained_records);

  // Validates and stores; the stored record is the back of its queue.
  Status append_log(LogInput&& input);
  Status append_histogram(HistogramInput&& input);
  void trim();

  std::deque<MetricHistogramRecordCore> metrics_;
  std::deque<LogRecordEnvelopeCore> logs_;
  std::vector<double> buckets_;
  std::string bounds_json_;  // `buckets_` as recorded, rebuilt only when they change
  std::uint64_t retained_records_;
};

// Nanoseconds since the Unix epoch; 0 before it, saturated at 2^64 - 1.
std::uint64_t wall_clock_ns();

// Shortest round-trip decimal, never with an exponent ("0.0000001", "-0", "5").
std::string shortest_decimal(double value);

// `text` escaped for the inside of a JSON string literal.
std::string json_string_body(std::string_view text);

}  // namespace tarnwick
