// The typed columns that registered FlatBuffer pads add to stream_messages,
// and the writes of decoded field values into them.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

#include "stream/flatbuffer_decoder.hpp"
#include "stream/stream_store.hpp"

namespace tarnwick {

// A refusal when a field of `table` is named like a fixed column of
// stream_messages (compared as SQLite compares names, ignoring ASCII case):
// writing the field would overwrite the row's own data, its key included.
Status check_pad_field_names(const FlatBufferTableCore& table);

// One ALTER TABLE per field, in order; a column that exists already is
// reused. Columns added before a failure stay.
Status add_pad_columns(StreamStore& store, const FlatBufferTableCore& table);

// Writes the decoded values of a row's leading pad fields into the row
// (topic, offset) with one UPDATE, reusing the prepared statement of each
// column list for the life of the writer. Must not outlive the store mutex
// hold it is used under.
class PadColumnWriter {
 public:
  explicit PadColumnWriter(StreamStore& store) : store_(store) {}

  // `values[i]` is the value of `fields[i]`; fields past the values are left alone.
  Status write(std::span<const FlatBufferFieldCore> fields,
               std::span<const FlatBufferValue> values, std::string_view topic,
               std::uint64_t offset);

 private:
  StreamStore& store_;
  std::map<std::string, SqlStatement, std::less<>> updates_;  // by SET clause
};

}  // namespace tarnwick
