// The cheap textual gate in front of stream store queries.
#pragma once

#include <string_view>

#include "support/result.hpp"

namespace tarnwick {

inline constexpr const char* kStreamSqlNotReadOnly =
    "stream processor SQL must be a SELECT or WITH query";

// The trimmed text when its first word is `select` or `with` (ASCII letters
// in any case); otherwise the gate's ValueError.
Result<std::string_view> gate_stream_sql(std::string_view sql);

}  // namespace tarnwick
