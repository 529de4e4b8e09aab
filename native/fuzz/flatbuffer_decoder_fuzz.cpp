// libFuzzer harness for the FlatBuffer field decoder. The input's first byte
// gives the field count, then three bytes per field (type, slot index);
// everything after that is the buffer to decode.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "stream/flatbuffer_decoder.hpp"

namespace {

using tarnwick::FlatBufferFieldType;

bool value_matches(const tarnwick::FlatBufferValue& value, FlatBufferFieldType type) {
  if (std::holds_alternative<std::monostate>(value)) return true;
  switch (type) {
    case FlatBufferFieldType::Float32:
    case FlatBufferFieldType::Float64: return std::holds_alternative<double>(value);
    case FlatBufferFieldType::String: {
      const auto* text = std::get_if<std::string>(&value);
      return text != nullptr && !tarnwick::utf8_fault(*text);
    }
    case FlatBufferFieldType::UInt64: {
      const auto* v = std::get_if<std::int64_t>(&value);
      return v != nullptr && *v >= 0;
    }
    case FlatBufferFieldType::Bool: {
      const auto* v = std::get_if<std::int64_t>(&value);
      return v != nullptr && (*v == 0 || *v == 1);
    }
    default: return std::holds_alternative<std::int64_t>(value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::size_t count = 1 + data[0] % 8;
  if (size < 1 + 3 * count) return 0;
  tarnwick::FlatBufferTableCore table{"fuzz", {}};
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* f = data + 1 + 3 * i;
    table.fields.push_back({"f" + std::to_string(i), static_cast<FlatBufferFieldType>(f[0] % 8),
                            static_cast<std::uint16_t>(f[1] | (f[2] << 8))});
  }
  const std::string_view buffer(reinterpret_cast<const char*>(data + 1 + 3 * count),
                                size - 1 - 3 * count);
  const tarnwick::DecodedFields decoded = tarnwick::decode_flatbuffer_fields(buffer, table);
  // A decode either covers every field or stops with an error after a prefix.
  if (decoded.values.size() > count) std::abort();
  if (!decoded.error && decoded.values.size() != count) std::abort();
  if (decoded.error && decoded.error->kind != tarnwick::ErrorKind::Value) std::abort();
  for (std::size_t i = 0; i < decoded.values.size(); ++i) {
    if (!value_matches(decoded.values[i], table.fields[i].type)) std::abort();
  }
  return 0;
}
