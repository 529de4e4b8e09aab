#include "stream/stream_store.hpp"

#include <sqlite3.h>

#include <limits>
#include <utility>

#include "stream/sql_gate.hpp"

namespace tarnwick {
namespace {

constexpr const char* kSchema =
    "CREATE TABLE stream_messages ("
    " pad_name TEXT,"
    " topic TEXT NOT NULL,"
    " \"offset\" INTEGER NOT NULL,"
    " process_sequence INTEGER NOT NULL,"
    " event_time INTEGER NOT NULL,"
    " message_key TEXT,"
    " payload BLOB NOT NULL,"
    " PRIMARY KEY (topic, \"offset\"));"
    "CREATE INDEX stream_messages_offset_idx ON stream_messages (\"offset\");"
    "CREATE INDEX stream_messages_topic_pad_offset_idx"
    " ON stream_messages (topic, pad_name, \"offset\");"
    "CREATE INDEX stream_messages_topic_pad_event_sequence_idx"
    " ON stream_messages (topic, pad_name, event_time, process_sequence);";

constexpr std::string_view kInsert =
    "INSERT OR REPLACE INTO stream_messages"
    " (pad_name, topic, \"offset\", process_sequence, event_time, message_key, payload)"
    " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)";

constexpr std::string_view kPrune = "DELETE FROM stream_messages WHERE \"offset\" < ?1";

constexpr std::string_view kLatest =
    "SELECT pad_name, topic, payload, \"offset\", process_sequence, event_time, message_key"
    " FROM stream_messages WHERE topic = ?1"
    " ORDER BY event_time DESC, process_sequence DESC LIMIT 1";

// The detail SQLite's own callers see when an unsigned value does not fit
// the signed integer column.
constexpr std::string_view kOutOfRange = "out of range integral type conversion attempted";

Result<std::int64_t> to_sql_integer(std::uint64_t v) {
  if (v > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return stream_sql_error(kOutOfRange);
  }
  return static_cast<std::int64_t>(v);
}

// Bytes SQLite hands back as text are not promised to be UTF-8; each
// maximal ill-formed subsequence becomes one U+FFFD.
std::string lossy_utf8(const unsigned char* p, std::size_t n) {
  std::string out;
  out.reserve(n);
  std::size_t i = 0;
  const auto in = [&](std::size_t k, unsigned lo, unsigned hi) {
    return i + k < n && p[i + k] >= lo && p[i + k] <= hi;
  };
  while (i < n) {
    const unsigned b = p[i];
    std::size_t len = 0;  // length of a well-formed sequence at i
    std::size_t valid = 1;  // bytes of the maximal subpart when ill-formed
    if (b < 0x80) {
      len = 1;
    } else if (b >= 0xC2 && b <= 0xDF) {
      if (in(1, 0x80, 0xBF)) len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      const unsigned lo = b == 0xE0 ? 0xA0 : 0x80;
      const unsigned hi = b == 0xED ? 0x9F : 0xBF;
      if (in(1, lo, hi)) {
        valid = 2;
        if (in(2, 0x80, 0xBF)) len = 3;
      }
    } else if (b >= 0xF0 && b <= 0xF4) {
      const unsigned lo = b == 0xF0 ? 0x90 : 0x80;
      const unsigned hi = b == 0xF4 ? 0x8F : 0xBF;
      if (in(1, lo, hi)) {
        valid = 2;
        if (in(2, 0x80, 0xBF)) {
          valid = 3;
          if (in(3, 0x80, 0xBF)) len = 4;
        }
      }
    }
    if (len != 0) {
      out.append(reinterpret_cast<const char*>(p + i), len);
      i += len;
    } else {
      out.append("\xEF\xBF\xBD");
      i += valid;
    }
  }
  return out;
}

std::string column_text(sqlite3_stmt* stmt, int col) {
  const unsigned char* text = sqlite3_column_text(stmt, col);
  const int size = sqlite3_column_bytes(stmt, col);
  if (text == nullptr) return {};
  return lossy_utf8(text, static_cast<std::size_t>(size));
}

std::string column_blob(sqlite3_stmt* stmt, int col) {
  const void* data = sqlite3_column_blob(stmt, col);
  const int size = sqlite3_column_bytes(stmt, col);
  if (data == nullptr) return {};
  return std::string(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

std::optional<std::string> column_optional_text(sqlite3_stmt* stmt, int col) {
  if (sqlite3_column_type(stmt, col) == SQLITE_NULL) return std::nullopt;
  return column_text(stmt, col);
}

QueryCell column_cell(sqlite3_stmt* stmt, int col) {
  switch (sqlite3_column_type(stmt, col)) {
    case SQLITE_INTEGER: return sqlite3_column_int64(stmt, col);
    case SQLITE_FLOAT: return sqlite3_column_double(stmt, col);
    case SQLITE_TEXT: return SqlText{column_text(stmt, col)};
    case SQLITE_BLOB: return SqlBlob{column_blob(stmt, col)};
    default: return std::monostate{};
  }
}

// Bound texts and blobs are not copied: they must stay alive, unchanged,
// until the statement has been reset.
int bind_text(sqlite3_stmt* stmt, int index, std::string_view text) {
  return sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_STATIC, SQLITE_UTF8);
}

int bind_optional_text(sqlite3_stmt* stmt, int index, const std::optional<std::string>& text) {
  return text ? bind_text(stmt, index, *text) : sqlite3_bind_null(stmt, index);
}

int bind_cell(sqlite3_stmt* stmt, int index, const QueryCell& cell) {
  struct Binder {
    sqlite3_stmt* stmt;
    int index;
    int operator()(std::monostate) const { return sqlite3_bind_null(stmt, index); }
    int operator()(std::int64_t v) const { return sqlite3_bind_int64(stmt, index, v); }
    int operator()(double v) const { return sqlite3_bind_double(stmt, index, v); }
    int operator()(const SqlText& t) const { return bind_text(stmt, index, t.text); }
    int operator()(const SqlBlob& b) const {
      return sqlite3_bind_blob64(stmt, index, b.bytes.data(), b.bytes.size(), SQLITE_STATIC);
    }
  };
  return std::visit(Binder{stmt, index}, cell);
}

}  // namespace

Error stream_sql_error(std::string_view detail) {
  return Error::runtime("stream SQL operation failed: " + std::string(detail));
}

// ---- SqlStatement --------------------------------------------------------------

SqlStatement::SqlStatement(SqlStatement&& o) noexcept : stmt_(std::exchange(o.stmt_, nullptr)) {}

SqlStatement& SqlStatement::operator=(SqlStatement&& o) noexcept {
  if (this != &o) {
    sqlite3_finalize(stmt_);
    stmt_ = std::exchange(o.stmt_, nullptr);
  }
  return *this;
}

SqlStatement::~SqlStatement() { sqlite3_finalize(stmt_); }

// ---- StreamWriteBatch ----------------------------------------------------------

StreamWriteBatch::StreamWriteBatch(StreamWriteBatch&& o) noexcept
    : store_(o.store_),
      insert_(std::move(o.insert_)),
      prune_(std::move(o.prune_)),
      in_transaction_(std::exchange(o.in_transaction_, false)) {}

StreamWriteBatch::~StreamWriteBatch() { (void)finish(); }

Status StreamWriteBatch::insert(const DataStreamRecordCore& record) {
  if (!insert_) {
    auto prepared = store_->prepare(kInsert);
    if (!prepared) return prepared.error();
    insert_ = std::move(prepared).value();
  }
  auto offset = to_sql_integer(record.offset);
  if (!offset) return offset.error();
  auto sequence = to_sql_integer(record.process_sequence);
  if (!sequence) return sequence.error();
  sqlite3_stmt* stmt = insert_.get();
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  int rc = bind_optional_text(stmt, 1, record.pad_name);
  if (rc == SQLITE_OK) rc = bind_text(stmt, 2, record.topic);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt, 3, *offset);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt, 4, *sequence);
  if (rc == SQLITE_OK) rc = sqlite3_bind_int64(stmt, 5, record.event_time);
  if (rc == SQLITE_OK) rc = bind_optional_text(stmt, 6, record.key);
  if (rc == SQLITE_OK) {
    const std::string_view payload = record.payload_view();
    // A zero-length blob needs a non-null pointer, or SQLite stores NULL.
    rc = sqlite3_bind_blob64(stmt, 7, payload.empty() ? "" : payload.data(), payload.size(),
                             SQLITE_STATIC);
  }
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  const bool done = rc == SQLITE_DONE;
  Error error = done ? Error{} : store_->last_error();
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);  // the bound texts belong to the caller
  if (!done) return error;
  return {};
}

Status StreamWriteBatch::prune(std::uint64_t offset) {
  const std::uint64_t window = store_->retained_messages_;
  if (offset < window) return {};
  if (!prune_) {
    auto prepared = store_->prepare(kPrune);
    if (!prepared) return prepared.error();
    prune_ = std::move(prepared).value();
  }
  auto cutoff = to_sql_integer(offset - window + 1);
  if (!cutoff) return cutoff.error();
  sqlite3_stmt* stmt = prune_.get();
  sqlite3_reset(stmt);
  int rc = sqlite3_bind_int64(stmt, 1, *cutoff);
  if (rc == SQLITE_OK) rc = sqlite3_step(stmt);
  const bool done = rc == SQLITE_DONE;
  Error error = done ? Error{} : store_->last_error();
  sqlite3_reset(stmt);
  if (!done) return error;
  return {};
}

Status StreamWriteBatch::finish() {
  insert_ = SqlStatement();
  prune_ = SqlStatement();
  if (!std::exchange(in_transaction_, false)) return {};
  // An error may already have rolled the transaction back.
  if (sqlite3_get_autocommit(store_->db_)) return {};
  return store_->execute("COMMIT");
}

// ---- StreamStore ---------------------------------------------------------------

Result<StreamStore> StreamStore::open(std::uint64_t retained_messages) {
  if (auto s = validate_retained_messages(retained_messages); !s.ok()) return s.error();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(":memory:", &db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
  if (rc != SQLITE_OK) {
    std::string detail = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    return Error::runtime("failed to open stream SQL store: " + detail);
  }
  StreamStore store(db, retained_messages);
  if (auto s = store.execute(kSchema); !s.ok()) return s.error();
  return store;
}

StreamStore::StreamStore(StreamStore&& o) noexcept
    : db_(std::exchange(o.db_, nullptr)),
      retained_messages_(o.retained_messages_),
      process_sequence_(o.process_sequence_) {}

StreamStore::~StreamStore() { sqlite3_close(db_); }

std::uint64_t StreamStore::next_sequence() {
  if (process_sequence_ == std::numeric_limits<std::uint64_t>::max()) {
    throw InvariantFailure("stream process sequence at its maximum");
  }
  return ++process_sequence_;
}

Error StreamStore::last_error() const { return stream_sql_error(sqlite3_errmsg(db_)); }

Result<SqlStatement> StreamStore::prepare(std::string_view sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK) {
    return last_error();
  }
  return SqlStatement(stmt);
}

Status StreamStore::execute(std::string_view sql) {
  const std::string text(sql);
  char* message = nullptr;
  if (sqlite3_exec(db_, text.c_str(), nullptr, nullptr, &message) != SQLITE_OK) {
    Error error = stream_sql_error(message != nullptr ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return error;
  }
  return {};
}

Status StreamStore::run(std::string_view sql, std::span<const QueryCell> parameters) {
  auto prepared = prepare(sql);
  if (!prepared) return prepared.error();
  sqlite3_stmt* stmt = prepared->get();
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (bind_cell(stmt, static_cast<int>(i + 1), parameters[i]) != SQLITE_OK) return last_error();
  }
  int rc = SQLITE_ROW;
  while (rc == SQLITE_ROW) rc = sqlite3_step(stmt);
  if (rc != SQLITE_DONE) return last_error();
  return {};
}

Result<StreamWriteBatch> StreamStore::begin_writes(bool transaction) {
  StreamWriteBatch batch(*this);
  if (transaction) {
    if (auto s = execute("BEGIN"); !s.ok()) return s.error();
    batch.in_transaction_ = true;
  }
  return batch;
}

Result<DataStreamRecordCore> StreamStore::ingest(const PubSubMessageCore& message,
                                                 std::optional<std::int64_t> event_time,
                                                 std::optional<std::string> key) {
  const std::uint64_t seq = next_sequence();
  DataStreamRecordCore record{message.topic, message.payload, std::nullopt, std::move(key),
                              message.offset, seq,
                              event_time.value_or(static_cast<std::int64_t>(seq))};
  auto batch = begin_writes(false);
  if (!batch) return batch.error();
  if (auto s = batch->insert(record); !s.ok()) return s.error();
  if (auto s = batch->prune(record.offset); !s.ok()) return s.error();
  return record;
}

Result<std::vector<DataStreamRecordCore>> StreamStore::ingest_many(
    std::span<const PubSubMessageCore> messages) {
  std::vector<DataStreamRecordCore> records;
  records.reserve(messages.size());
  auto batch = begin_writes(messages.size() > 1);
  if (!batch) return batch.error();
  for (const PubSubMessageCore& message : messages) {
    const std::uint64_t seq = next_sequence();
    DataStreamRecordCore& record = records.emplace_back(DataStreamRecordCore{
        message.topic, message.payload, std::nullopt, std::nullopt, message.offset, seq,
        static_cast<std::int64_t>(seq)});
    if (auto s = batch->insert(record); !s.ok()) return s.error();
    if (auto s = batch->prune(record.offset); !s.ok()) return s.error();
  }
  if (auto s = batch->finish(); !s.ok()) return s.error();
  return records;
}

Result<std::optional<DataStreamRecordCore>> StreamStore::latest(std::string_view topic) {
  auto prepared = prepare(kLatest);
  if (!prepared) return prepared.error();
  sqlite3_stmt* stmt = prepared->get();
  if (bind_text(stmt, 1, topic) != SQLITE_OK) return last_error();
  const int rc = sqlite3_step(stmt);
  if (rc == SQLITE_DONE) return std::optional<DataStreamRecordCore>();
  if (rc != SQLITE_ROW) return last_error();
  DataStreamRecordCore record;
  record.pad_name = column_optional_text(stmt, 0);
  record.topic = column_text(stmt, 1);
  record.payload = std::make_shared<const std::string>(column_blob(stmt, 2));
  record.offset = static_cast<std::uint64_t>(sqlite3_column_int64(stmt, 3));
  record.process_sequence = static_cast<std::uint64_t>(sqlite3_column_int64(stmt, 4));
  record.event_time = sqlite3_column_int64(stmt, 5);
  record.key = column_optional_text(stmt, 6);
  return std::optional<DataStreamRecordCore>(std::move(record));
}

Result<QueryResult> StreamStore::query_rows(std::string_view sql,
                                            std::span<const NamedParameter> parameters) {
  auto prepared = prepare(sql);
  if (!prepared) return prepared.error();
  sqlite3_stmt* stmt = prepared->get();
  QueryResult result;
  if (stmt == nullptr) return result;  // nothing but comments
  // The textual gate admits a data-changing statement behind WITH; only what
  // SQLite itself reports as read-only may run.
  if (!sqlite3_stmt_readonly(stmt)) return Error::value(kStreamSqlNotReadOnly);
  const int columns = sqlite3_column_count(stmt);
  result.columns.reserve(static_cast<std::size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    const char* name = sqlite3_column_name(stmt, c);
    if (name == nullptr) throw std::bad_alloc();
    result.columns.emplace_back(lossy_utf8(reinterpret_cast<const unsigned char*>(name),
                                           std::char_traits<char>::length(name)));
  }
  for (const NamedParameter& p : parameters) {
    // A NUL would cut the name short and bind a different parameter.
    const int index = p.name.find('\0') == std::string::npos
                          ? sqlite3_bind_parameter_index(stmt, p.name.c_str())
                          : 0;
    if (index == 0) return stream_sql_error("Invalid parameter name: " + p.name);
    if (bind_cell(stmt, index, p.value) != SQLITE_OK) return last_error();
  }
  for (;;) {
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) return last_error();
    for (int c = 0; c < columns; ++c) result.cells.push_back(column_cell(stmt, c));
  }
  return result;
}

Result<std::shared_ptr<StreamState>> make_stream_state(std::uint64_t retained_messages) {
  auto store = StreamStore::open(retained_messages);
  if (!store) return store.error();
  return std::make_shared<StreamState>(kStreamProcessorPoisoned, std::move(store).value());
}

}  // namespace tarnwick
