// Classification of one SQL statement with a full SQL parser, for callers
// that want to know what a text would do before running it anywhere.
#pragma once

#include <string>
#include <string_view>

#include "support/result.hpp"

namespace tarnwick {

struct SqlStatementInfo {
  std::string kind;  // "select", "insert", "update", "delete" or "unsupported"
  std::string sql;   // the statement as the parser renders it
};

// ValueError "invalid SQL: {parser message}" for text that does not parse,
// and "SQL planner requires exactly one statement" unless it holds one.
Result<SqlStatementInfo> parse_sql_statement(std::string_view sql);

}  // namespace tarnwick
