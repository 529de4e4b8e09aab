#include "stream/sql_gate.hpp"

#include <string>

#include "support/text.hpp"

namespace tarnwick {

Result<std::string_view> gate_stream_sql(std::string_view sql) {
  const std::string_view trimmed = trim_white_space(sql);
  if (trimmed.empty()) return Error::value("stream processor SQL must be non-empty");
  std::size_t word_end = 0;
  for (std::size_t pos = 0; pos < trimmed.size();) {
    if (is_white_space(next_code_point(trimmed, pos))) break;
    word_end = pos;
  }
  std::string word(trimmed.substr(0, word_end));
  for (char& c : word) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (word != "select" && word != "with") return Error::value(kStreamSqlNotReadOnly);
  return trimmed;
}

}  // namespace tarnwick
