#include "observability/observability_core.hpp"

#include <charconv>
#include <cmath>
#include <ctime>
#include <limits>
#include <utility>

#include "support/text.hpp"

namespace tarnwick {
namespace {

const std::vector<double> kDefaultBuckets = {0.001, 0.005, 0.01, 0.05, 0.1, 0.5, 1.0, 5.0, 10.0};

Status validate_json_object_text(std::string_view label, std::string_view text) {
  const std::string_view trimmed = trim_white_space(text);
  if (trimmed.empty() || trimmed.front() != '{' || trimmed.back() != '}') {
    return Error::value(std::string(label) + " must be a JSON object string");
  }
  return {};
}

std::string bounds_json(const std::vector<double>& bounds) {
  std::string out = "[";
  for (std::size_t i = 0; i < bounds.size(); ++i) {
    if (i > 0) out += ',';
    out += shortest_decimal(bounds[i]);
  }
  out += ']';
  return out;
}

// One sample: a 1 at the first bound not below it, or in the overflow slot.
std::string bucket_counts_json(const std::vector<double>& bounds, double value) {
  std::size_t hit = bounds.size();
  for (std::size_t i = 0; i < bounds.size(); ++i) {
    if (value <= bounds[i]) {
      hit = i;
      break;
    }
  }
  std::string out = "[";
  for (std::size_t i = 0; i <= bounds.size(); ++i) {
    if (i > 0) out += ',';
    out += i == hit ? '1' : '0';
  }
  out += ']';
  return out;
}

}  // namespace

std::uint64_t wall_clock_ns() {
  timespec now{};
  if (clock_gettime(CLOCK_REALTIME, &now) != 0 || now.tv_sec < 0) return 0;
  std::uint64_t ns = 0;
  if (__builtin_mul_overflow(static_cast<std::uint64_t>(now.tv_sec), 1'000'000'000ULL, &ns) ||
      __builtin_add_overflow(ns, static_cast<std::uint64_t>(now.tv_nsec), &ns)) {
    return std::numeric_limits<std::uint64_t>::max();
  }
  return ns;
}

std::string shortest_decimal(double value) {
  // Fixed notation of a finite double needs at most 309 integral digits or
  // 324 fractional ones, plus sign and point.
  char buffer[400];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value,
                                       std::chars_format::fixed);
  if (ec != std::errc{}) throw InvariantFailure("decimal text does not fit its buffer");
  return std::string(buffer, end);
}

std::string json_string_body(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 8);
  for (const char ch : text) {
    switch (ch) {
      case '\\': out += "\\\\"; break;
      case '"': out += "\\\""; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        const auto byte = static_cast<unsigned char>(ch);
        // A raw control character would make the text unreadable as JSON.
        if (byte < 0x20) {
          out += "\\u00";
          out += kHex[byte >> 4];
          out += kHex[byte & 0xF];
        } else {
          out += ch;
        }
      }
    }
  }
  return out;
}

ObservabilityRuntimeCore::ObservabilityRuntimeCore(std::uint64_t retained_records)
    : buckets_(kDefaultBuckets),
      bounds_json_(bounds_json(kDefaultBuckets)),
      retained_records_(retained_records) {}

Result<ObservabilityRuntimeCore> ObservabilityRuntimeCore::make(std::uint64_t retained_records) {
  if (retained_records == 0) return Error::value("retained_records must be positive");
  return ObservabilityRuntimeCore(retained_records);
}

void ObservabilityRuntimeCore::trim() {
  while (metrics_.size() > retained_records_) metrics_.pop_front();
  while (logs_.size() > retained_records_) logs_.pop_front();
}

Status ObservabilityRuntimeCore::append_log(LogInput&& input) {
  if (auto s = validate_nonblank_text("severity_text", input.severity_text); !s) return s;
  if (auto s = validate_nonblank_text("logger_name", input.logger_name); !s) return s;
  if (auto s = validate_json_object_text("attributes_json", input.attributes_json); !s) return s;
  const std::uint64_t timestamp = input.timestamp_ns ? *input.timestamp_ns : wall_clock_ns();
  logs_.push_back({std::move(input.severity_text), std::move(input.logger_name),
                   std::move(input.body), std::move(input.file_path),
                   std::move(input.attributes_json), timestamp, input.line_number});
  trim();
  return {};
}

Status ObservabilityRuntimeCore::append_histogram(HistogramInput&& input) {
  if (auto s = validate_nonblank_text("metric name", input.name); !s) return s;
  if (auto s = validate_json_object_text("attributes_json", input.attributes_json); !s) return s;
  if (!std::isfinite(input.value)) return Error::value("histogram value must be finite");
  const std::uint64_t timestamp = input.timestamp_ns ? *input.timestamp_ns : wall_clock_ns();
  metrics_.push_back({std::move(input.name), std::move(input.unit), bounds_json_,
                      bucket_counts_json(buckets_, input.value), std::move(input.attributes_json),
                      timestamp, 1, input.value, input.value, input.value});
  trim();
  return {};
}

Result<LogRecordEnvelopeCore> ObservabilityRuntimeCore::record_log(LogInput input) {
  if (auto s = append_log(std::move(input)); !s) return s.error();
  return logs_.back();
}

Result<MetricHistogramRecordCore> ObservabilityRuntimeCore::record_histogram(HistogramInput input) {
  if (auto s = append_histogram(std::move(input)); !s) return s.error();
  return metrics_.back();
}

Status ObservabilityRuntimeCore::set_buckets(std::vector<double> bounds) {
  if (bounds.empty()) return Error::value("buckets must not be empty");
  for (const double b : bounds) {
    if (!std::isfinite(b)) return Error::value("buckets must be finite");
  }
  for (std::size_t i = 1; i < bounds.size(); ++i) {
    if (bounds[i] < bounds[i - 1]) return Error::value("buckets must be sorted");
  }
  bounds_json_ = bounds_json(bounds);
  buckets_ = std::move(bounds);
  return {};
}

Status ObservabilityRuntimeCore::record_pubsub_publish(std::string_view topic,
                                                       std::uint64_t payload_bytes,
                                                       std::uint64_t delivered_subscribers) {
  std::string attributes = "{\"topic\":\"" + json_string_body(topic) + "\"}";
  if (auto s = append_histogram({"tarnwick.pubsub.publish.payload_bytes",
                                 static_cast<double>(payload_bytes), "By", attributes,
                                 std::nullopt});
      !s) {
    return s;
  }
  if (auto s = append_histogram({"tarnwick.pubsub.publish.delivered_subscribers",
                                 static_cast<double>(delivered_subscribers), "{subscriber}",
                                 attributes, std::nullopt});
      !s) {
    return s;
  }
  std::string body = "published topic=";
  body.append(topic);
  body += " payload_bytes=" + std::to_string(payload_bytes) +
          " delivered_subscribers=" + std::to_string(delivered_subscribers);
  return append_log(
      {"INFO", "tarnwick.pubsub", std::move(body), "", std::move(attributes), 0, std::nullopt});
}

}  // namespace tarnwick
