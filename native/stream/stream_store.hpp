// The SQL-queryable store of pub/sub messages: one private in-memory SQLite
// database holding the `stream_messages` table. Plain C++; callers guard a
// store with a mutex (make_stream_state) and decide when to drop the
// interpreter lock around it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "pubsub/pubsub_core.hpp"
#include "stream/query_cell.hpp"
#include "support/guarded.hpp"
#include "support/result.hpp"

struct sqlite3;
struct sqlite3_stmt;

namespace tarnwick {

struct DataStreamRecordCore {
  std::string topic;
  PayloadBytes payload;
  std::optional<std::string> pad_name;
  std::optional<std::string> key;
  std::uint64_t offset = 0;
  std::uint64_t process_sequence = 0;
  std::int64_t event_time = 0;

  std::string_view payload_view() const { return payload ? std::string_view(*payload) : ""; }
};

// "stream SQL operation failed: {detail}".
Error stream_sql_error(std::string_view detail);

// A prepared statement, finalized when it goes out of scope.
class SqlStatement {
 public:
  SqlStatement() = default;
  explicit SqlStatement(sqlite3_stmt* stmt) : stmt_(stmt) {}
  SqlStatement(SqlStatement&& o) noexcept;
  SqlStatement& operator=(SqlStatement&& o) noexcept;
  ~SqlStatement();

  sqlite3_stmt* get() const { return stmt_; }
  explicit operator bool() const { return stmt_ != nullptr; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

class StreamStore;

// A run of row writes that shares its prepared statements and, optionally,
// one transaction. The transaction is committed when the batch is finished
// or destroyed, also after a failed write, so rows written before a failure
// stay. A batch must not outlive the mutex hold it was begun under.
class StreamWriteBatch {
 public:
  StreamWriteBatch(StreamWriteBatch&& o) noexcept;
  StreamWriteBatch& operator=(StreamWriteBatch&&) = delete;
  ~StreamWriteBatch();

  // INSERT OR REPLACE of one row into the fixed columns; `record.payload`
  // must be set.
  Status insert(const DataStreamRecordCore& record);
  // Deletes every row more than `retained_messages` offsets behind `offset`.
  Status prune(std::uint64_t offset);
  // Commits; the batch writes nothing afterwards.
  Status finish();

 private:
  friend class StreamStore;
  explicit StreamWriteBatch(StreamStore& store) : store_(&store) {}

  StreamStore* store_;
  SqlStatement insert_;
  SqlStatement prune_;
  bool in_transaction_ = false;
};

class StreamStore {
 public:
  // Opens the database and creates the schema. A zero bound is refused with
  // "retained_messages must be positive".
  static Result<StreamStore> open(std::uint64_t retained_messages);

  StreamStore(StreamStore&& o) noexcept;
  StreamStore& operator=(StreamStore&&) = delete;
  StreamStore(const StreamStore&) = delete;
  ~StreamStore();

  std::uint64_t retained_messages() const { return retained_messages_; }
  std::uint64_t process_sequence() const { return process_sequence_; }

  // Uses up and returns the next process sequence number.
  std::uint64_t next_sequence();

  Result<DataStreamRecordCore> ingest(const PubSubMessageCore& message,
                                      std::optional<std::int64_t> event_time,
                                      std::optional<std::string> key);
  // Stops at the first failure; the rows written before it stay.
  Result<std::vector<DataStreamRecordCore>> ingest_many(
      std::span<const PubSubMessageCore> messages);
  Result<std::optional<DataStreamRecordCore>> latest(std::string_view topic);
  // Runs the first statement of `sql`, which must be read-only, binding the
  // parameters by name.
  Result<QueryResult> query_rows(std::string_view sql, std::span<const NamedParameter> parameters);

  // A write batch; `transaction` wraps its writes in one transaction.
  Result<StreamWriteBatch> begin_writes(bool transaction);

  // Runs a batch of statements without results (schema changes).
  Status execute(std::string_view sql);
  // Runs one statement to completion with positional parameters ?1, ?2, ...
  Status run(std::string_view sql, std::span<const QueryCell> parameters);

  // For writers that extend the schema with statements of their own.
  sqlite3* connection() const { return db_; }

 private:
  friend class StreamWriteBatch;
  StreamStore(sqlite3* db, std::uint64_t retained_messages)
      : db_(db), retained_messages_(retained_messages) {}

  Result<SqlStatement> prepare(std::string_view sql);
  Error last_error() const;

  sqlite3* db_;
  std::uint64_t retained_messages_;
  std::uint64_t process_sequence_ = 0;
};

// The mutex-guarded store shared by a Python object and its calls.
using StreamState = Guarded<StreamStore>;

inline constexpr const char* kStreamProcessorPoisoned = "stream processor mutex poisoned";

// Opens a store behind its own mutex.
Result<std::shared_ptr<StreamState>> make_stream_state(std::uint64_t retained_messages);

}  // namespace tarnwick
