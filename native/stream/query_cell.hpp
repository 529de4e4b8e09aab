// Values crossing the stream store's SQL boundary: query cells, named
// parameters and query results.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace tarnwick {

struct SqlText {
  std::string text;  // valid UTF-8
};

struct SqlBlob {
  std::string bytes;
};

// One SQL value: null, integer, real, text or blob, in the store's own kinds.
using QueryCell = std::variant<std::monostate, std::int64_t, double, SqlText, SqlBlob>;

struct NamedParameter {
  std::string name;  // always begins with ':'
  QueryCell value;
};

struct QueryResult {
  std::vector<std::string> columns;
  std::vector<QueryCell> cells;  // row-major, columns.size() cells per row

  std::size_t row_count() const { return columns.empty() ? 0 : cells.size() / columns.size(); }
};

}  // namespace tarnwick
