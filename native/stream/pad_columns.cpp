#include "stream/pad_columns.hpp"

#include <sqlite3.h>

#include <array>

namespace tarnwick {
namespace {

constexpr std::array<std::string_view, 7> kBaseColumns = {
    "pad_name", "topic", "offset", "process_sequence", "event_time", "message_key", "payload"};

bool same_name_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

Error sqlite_error(sqlite3* db) { return stream_sql_error(sqlite3_errmsg(db)); }

int bind_value(sqlite3_stmt* stmt, int index, const FlatBufferValue& value) {
  struct Binder {
    sqlite3_stmt* stmt;
    int index;
    int operator()(std::monostate) const { return sqlite3_bind_null(stmt, index); }
    int operator()(std::int64_t v) const { return sqlite3_bind_int64(stmt, index, v); }
    int operator()(double v) const { return sqlite3_bind_double(stmt, index, v); }
    int operator()(const std::string& t) const {
      return sqlite3_bind_text64(stmt, index, t.data(), t.size(), SQLITE_STATIC, SQLITE_UTF8);
    }
  };
  return std::visit(Binder{stmt, index}, value);
}

}  // namespace

Status check_pad_field_names(const FlatBufferTableCore& table) {
  for (const FlatBufferFieldCore& field : table.fields) {
    for (const std::string_view column : kBaseColumns) {
      if (same_name_ignoring_case(field.name, column)) {
        return Error::value("flatbuffer field name " + field.name +
                            " collides with the stream_messages column " + std::string(column));
      }
    }
  }
  return {};
}

Status add_pad_columns(StreamStore& store, const FlatBufferTableCore& table) {
  for (const FlatBufferFieldCore& field : table.fields) {
    const std::string sql = "ALTER TABLE stream_messages ADD COLUMN " + field.name + " " +
                            std::string(sql_column_type(field.type));
    Status added = store.execute(sql);
    if (!added && added.error().message.find("duplicate column name") == std::string::npos) {
      return added;
    }
  }
  return {};
}

Status PadColumnWriter::write(std::span<const FlatBufferFieldCore> fields,
                              std::span<const FlatBufferValue> values, std::string_view topic,
                              std::uint64_t offset) {
  if (values.empty()) return {};
  sqlite3* db = store_.connection();
  std::string set_clause;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) set_clause += ", ";
    set_clause += fields[i].name + " = ?" + std::to_string(i + 1);
  }
  auto it = updates_.find(set_clause);
  if (it == updates_.end()) {
    const std::string sql = "UPDATE stream_messages SET " + set_clause + " WHERE topic = ?" +
                            std::to_string(values.size() + 1) + " AND \"offset\" = ?" +
                            std::to_string(values.size() + 2);
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
        SQLITE_OK) {
      return sqlite_error(db);
    }
    it = updates_.emplace(std::move(set_clause), SqlStatement(stmt)).first;
  }
  sqlite3_stmt* stmt = it->second.get();
  const int topic_index = static_cast<int>(values.size()) + 1;
  int rc = SQLITE_OK;
  for (std::size_t i = 0; i < values.size() && rc == SQLITE_OK; ++i) {
    rc = bind_value(stmt, static_cast<int>(i) + 1, values[i]);
  }
  if (rc == SQLITE_OK) {
    rc = sqlite3_bind_text64(stmt, topic_index, topic.data(), topic.size(), SQLITE_STATIC,
                             SQLITE_UTF8);
  }
  // The row's insert has already refused offsets beyond the signed range.
  if (rc == SQLITE_OK) {
    rc = sqlite3_bind_int64(stmt, topic_index + 1, static_cast<std::int64_t>(offset));
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  Status result = rc == SQLITE_DONE ? Status{} : Status{sqlite_error(db)};
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);  // the bound texts belong to the caller
  return result;
}

}  // namespace tarnwick
