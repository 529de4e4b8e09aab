// Table layouts of FlatBuffer pads and the decoder that reads their scalar
// and string fields from the root table of a little-endian buffer. Pure
// computation over bytes: the store decides where the values go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "support/result.hpp"

namespace tarnwick {

enum class FlatBufferFieldType { Bool, Int32, Int64, UInt32, UInt64, Float32, Float64, String };

std::string_view field_type_name(FlatBufferFieldType type);
// "INTEGER", "REAL" or "TEXT".
std::string_view sql_column_type(FlatBufferFieldType type);

struct FlatBufferFieldCore {
  std::string name;
  FlatBufferFieldType type = FlatBufferFieldType::Bool;
  std::uint16_t index = 0;  // the field's vtable slot

  static Result<FlatBufferFieldCore> make(std::string name, std::uint16_t index,
                                          std::string_view field_type);
};

struct FlatBufferTableCore {
  std::string name;
  std::vector<FlatBufferFieldCore> fields;  // at least one

  static Result<FlatBufferTableCore> make(std::string name,
                                          std::vector<FlatBufferFieldCore> fields);
};

// NULL (an absent field), an integer, a real or a text, as the column takes it.
using FlatBufferValue = std::variant<std::monostate, std::int64_t, double, std::string>;

struct DecodedFields {
  std::vector<FlatBufferValue> values;  // one per field decoded, in field order
  std::optional<Error> error;           // the failure that stopped decoding, if any
};

// Decodes the fields of `table` in order and stops at the first failure; the
// values decoded before it are kept so that the caller can store them.
DecodedFields decode_flatbuffer_fields(std::string_view buffer, const FlatBufferTableCore& table);

// Empty when `bytes` is valid UTF-8; otherwise the text describing the first
// fault ("invalid utf-8 sequence of 1 bytes from index 3", ...).
std::optional<std::string> utf8_fault(std::string_view bytes);

}  // namespace tarnwick
