#include <gtest/gtest.h>
#include <sqlite3.h>

#include "stream/stream_store.hpp"

namespace tarnwick {
namespace {

StreamStore open_store(std::uint64_t retained = 4) {
  auto store = StreamStore::open(retained);
  if (!store.ok()) throw std::runtime_error(store.error().message);
  return std::move(store).value();
}

std::int64_t count_rows(StreamStore& store, std::string_view where = "1") {
  auto rows =
      store.query_rows("SELECT count(*) FROM stream_messages WHERE " + std::string(where), {});
  return std::get<std::int64_t>(rows->cells.at(0));
}

TEST(StreamStore, ZeroRetentionIsRefused) {
  auto store = StreamStore::open(0);
  ASSERT_FALSE(store.ok());
  EXPECT_EQ(store.error().kind, ErrorKind::Value);
  EXPECT_EQ(store.error().message, "retained_messages must be positive");
}

// Writers that add columns insert a row with its pad name, fill their own
// columns, then prune, all in one batch.
TEST(StreamStore, BatchWritesWithPadNamesAndAddedColumns) {
  StreamStore store = open_store(2);
  ASSERT_TRUE(store.execute("ALTER TABLE stream_messages ADD COLUMN speed REAL").ok());
  {
    auto batch = store.begin_writes(true);
    ASSERT_TRUE(batch.ok());
    for (std::uint64_t offset = 0; offset < 3; ++offset) {
      DataStreamRecordCore record{
          "imu", PayloadBytes("p"), std::string("pad"), std::nullopt, offset, store.next_sequence(),
          7};
      ASSERT_TRUE(batch->insert(record).ok());
      const QueryCell update[] = {1.5 * static_cast<double>(offset),
                                  static_cast<std::int64_t>(offset)};
      ASSERT_TRUE(
          store.run("UPDATE stream_messages SET speed = ?1 WHERE \"offset\" = ?2", update).ok());
      ASSERT_TRUE(batch->prune(offset).ok());
    }
    ASSERT_TRUE(batch->finish().ok());
  }
  EXPECT_TRUE(sqlite3_get_autocommit(store.connection()));
  auto rows = store.query_rows(
      "SELECT pad_name, speed, process_sequence FROM stream_messages ORDER BY \"offset\"", {});
  ASSERT_TRUE(rows.ok());
  ASSERT_EQ(rows->row_count(), 2u);
  EXPECT_EQ(std::get<SqlText>(rows->cells[0]).text, "pad");
  EXPECT_EQ(std::get<double>(rows->cells[1]), 1.5);
  EXPECT_EQ(std::get<std::int64_t>(rows->cells[5]), 3);
  auto latest = store.latest("imu");
  ASSERT_TRUE(latest.ok() && latest->has_value());
  EXPECT_EQ((*latest)->pad_name, "pad");
  EXPECT_EQ((*latest)->offset, 2u);
}

// A batch dropped after a failed write still commits what it wrote.
TEST(StreamStore, AbandonedBatchCommitsEarlierRows) {
  StreamStore store = open_store();
  {
    auto batch = store.begin_writes(true);
    ASSERT_TRUE(batch.ok());
    DataStreamRecordCore good{"t", PayloadBytes("p"), std::nullopt, std::nullopt, 1, 1, 1};
    ASSERT_TRUE(batch->insert(good).ok());
    DataStreamRecordCore bad = good;
    bad.offset = std::uint64_t{1} << 63;
    const Status failed = batch->insert(bad);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().message,
              "stream SQL operation failed: out of range integral type conversion attempted");
  }
  EXPECT_TRUE(sqlite3_get_autocommit(store.connection()));
  EXPECT_EQ(count_rows(store), 1);
}

TEST(StreamStore, InvariantFailurePoisonsTheSharedState) {
  auto state = make_stream_state(4);
  ASSERT_TRUE(state.ok());
  StreamState& guarded = **state;
  EXPECT_THROW(guarded.with([](StreamStore&) -> Status { throw InvariantFailure("broken"); }),
               InvariantFailure);
  const auto after = guarded.with([](StreamStore& store) { return store.latest("t"); });
  ASSERT_FALSE(after.ok());
  EXPECT_EQ(after.error().kind, ErrorKind::Runtime);
  EXPECT_EQ(after.error().message, "stream processor mutex poisoned");
}

}  // namespace
}  // namespace tarnwick
