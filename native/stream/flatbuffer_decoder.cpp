#include "stream/flatbuffer_decoder.hpp"

#include <array>
#include <cstring>
#include <utility>

#include "support/text.hpp"

namespace tarnwick {
namespace {

constexpr std::array<std::pair<std::string_view, FlatBufferFieldType>, 8> kTypeNames = {{
    {"bool", FlatBufferFieldType::Bool},
    {"int32", FlatBufferFieldType::Int32},
    {"int64", FlatBufferFieldType::Int64},
    {"uint32", FlatBufferFieldType::UInt32},
    {"uint64", FlatBufferFieldType::UInt64},
    {"float32", FlatBufferFieldType::Float32},
    {"float64", FlatBufferFieldType::Float64},
    {"string", FlatBufferFieldType::String},
}};

constexpr char kOutOfBounds[] = "FlatBuffer field is out of bounds";

bool is_sql_identifier(std::string_view name) {
  const auto alpha = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  };
  if (name.empty() || !alpha(name.front())) return false;
  for (const char c : name.substr(1)) {
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

// Little-endian reads; callers have checked that the bytes exist.
template <class U>
U read_le(std::string_view b, std::uint64_t at) {
  U v = 0;
  for (std::size_t i = 0; i < sizeof(U); ++i) {
    v |= static_cast<U>(static_cast<unsigned char>(b[at + i])) << (8 * i);
  }
  return v;
}

template <class T>
T read_as(std::string_view b, std::uint64_t at) {
  using U = std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>;
  const U bits = read_le<U>(b, at);
  T out;
  std::memcpy(&out, &bits, sizeof out);
  return out;
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

// Reads the value of one present field at position `p` into `out`.
Status read_field(std::string_view b, std::uint64_t p, FlatBufferFieldType type,
                  FlatBufferValue& out) {
  const std::uint64_t n = b.size();
  const auto fits = [&](std::uint64_t width) { return p + width <= n; };
  switch (type) {
    case FlatBufferFieldType::Bool:
      if (p >= n) return Error::value(kOutOfBounds);
      out = std::int64_t{b[p] != 0 ? 1 : 0};
      return {};
    case FlatBufferFieldType::Int32:
      if (!fits(4)) return Error::value(kOutOfBounds);
      out = std::int64_t{read_as<std::int32_t>(b, p)};
      return {};
    case FlatBufferFieldType::UInt32:
      if (!fits(4)) return Error::value(kOutOfBounds);
      out = std::int64_t{read_le<std::uint32_t>(b, p)};
      return {};
    case FlatBufferFieldType::Int64:
      if (!fits(8)) return Error::value(kOutOfBounds);
      out = read_as<std::int64_t>(b, p);
      return {};
    case FlatBufferFieldType::UInt64: {
      if (!fits(8)) return Error::value(kOutOfBounds);
      const std::uint64_t v = read_le<std::uint64_t>(b, p);
      if (v >= (std::uint64_t{1} << 63)) {
        return Error::value("uint64 FlatBuffer value exceeds SQL integer range");
      }
      out = static_cast<std::int64_t>(v);
      return {};
    }
    case FlatBufferFieldType::Float32:
      if (!fits(4)) return Error::value(kOutOfBounds);
      out = static_cast<double>(read_as<float>(b, p));
      return {};
    case FlatBufferFieldType::Float64:
      if (!fits(8)) return Error::value(kOutOfBounds);
      out = read_as<double>(b, p);
      return {};
    case FlatBufferFieldType::String: {
      if (!fits(4)) return Error::value(kOutOfBounds);
      const std::uint64_t s = p + read_le<std::uint32_t>(b, p);
      if (s + 4 > n) return Error::value(kOutOfBounds);
      const std::uint64_t len = read_le<std::uint32_t>(b, s);
      if (s + 4 + len > n) return Error::value(kOutOfBounds);
      const std::string_view bytes = b.substr(s + 4, len);
      if (auto fault = utf8_fault(bytes)) {
        return Error::value("invalid FlatBuffer UTF-8 string: " + *fault);
      }
      out.emplace<std::string>(bytes);
      return {};
    }
  }
  throw InvariantFailure("unknown FlatBuffer field type");
}

}  // namespace

std::string_view field_type_name(FlatBufferFieldType type) {
  for (const auto& [name, t] : kTypeNames) {
    if (t == type) return name;
  }
  throw InvariantFailure("unknown FlatBuffer field type");
}

std::string_view sql_column_type(FlatBufferFieldType type) {
  switch (type) {
    case FlatBufferFieldType::Float32:
    case FlatBufferFieldType::Float64: return "REAL";
    case FlatBufferFieldType::String: return "TEXT";
    default: return "INTEGER";
  }
}

Result<FlatBufferFieldCore> FlatBufferFieldCore::make(std::string name, std::uint16_t index,
                                                      std::string_view field_type) {
  if (auto s = validate_nonblank_text("flatbuffer field name", name); !s) return s.error();
  if (!is_sql_identifier(name)) {
    return Error::value("flatbuffer field name must be a SQL identifier");
  }
  for (const auto& [type_name, type] : kTypeNames) {
    if (type_name == field_type) return FlatBufferFieldCore{std::move(name), type, index};
  }
  return Error::value(
      "flatbuffer field_type must be bool, float32, float64, int32, int64, uint32, uint64, or "
      "string");
}

Result<FlatBufferTableCore> FlatBufferTableCore::make(std::string name,
                                                      std::vector<FlatBufferFieldCore> fields) {
  if (auto s = validate_nonblank_text("flatbuffer table name", name); !s) return s.error();
  if (fields.empty()) return Error::value("flatbuffer table must expose at least one field");
  return FlatBufferTableCore{std::move(name), std::move(fields)};
}

std::optional<std::string> utf8_fault(std::string_view bytes) {
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const auto invalid = [&](std::size_t start, int length) {
    return "invalid utf-8 sequence of " + std::to_string(length) + " bytes from index " +
           std::to_string(start);
  };
  const auto incomplete = [](std::size_t start) {
    return "incomplete utf-8 byte sequence from index " + std::to_string(start);
  };
  while (i < n) {
    const unsigned char first = at(i);
    if (first < 0x80) {
      ++i;
      continue;
    }
    const std::size_t start = i;
    // Width from the lead byte; overlong, surrogate and out-of-range forms are
    // caught by the bounds on the second byte.
    int width = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
      width = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
      width = 3;
      if (first == 0xE0) lo = 0xA0;
      if (first == 0xED) hi = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
      width = 4;
      if (first == 0xF0) lo = 0x90;
      if (first == 0xF4) hi = 0x8F;
    } else {
      return invalid(start, 1);
    }
    if (i + 1 >= n) return incomplete(start);
    const unsigned char second = at(i + 1);
    if (width == 2 ? !continuation(second) : (second < lo || second > hi)) {
      return invalid(start, 1);
    }
    for (int k = 2; k < width; ++k) {
      if (i + k >= n) return incomplete(start);
      if (!continuation(at(i + k))) return invalid(start, k);
    }
    i += static_cast<std::size_t>(width);
  }
  return std::nullopt;
}

DecodedFields decode_flatbuffer_fields(std::string_view b, const FlatBufferTableCore& table) {
  DecodedFields out;
  const std::uint64_t n = b.size();
  if (n < 4) {
    out.error = Error::value(kOutOfBounds);
    return out;
  }
  out.values.reserve(table.fields.size());
  for (const FlatBufferFieldCore& field : table.fields) {
    const std::uint64_t root = read_le<std::uint32_t>(b, 0);
    if (root > n - 4) {
      out.error = Error::value(kOutOfBounds);
      return out;
    }
    const std::int32_t soff = read_as<std::int32_t>(b, root);
    if (soff < 0) {
      out.error = Error::value("invalid FlatBuffer table vtable offset");
      return out;
    }
    if (static_cast<std::uint64_t>(soff) > root) {
      out.error = Error::value("invalid FlatBuffer vtable position");
      return out;
    }
    const std::uint64_t vt = root - static_cast<std::uint64_t>(soff);
    const std::uint64_t vsize = read_le<std::uint16_t>(b, vt);
    const std::uint64_t slot = 2 * std::uint64_t{field.index};
    std::uint64_t voff = 0;
    if (slot + 6 <= vsize) {
      if (vt + slot + 6 > n) {
        out.error = Error::value(kOutOfBounds);
        return out;
      }
      voff = read_le<std::uint16_t>(b, vt + 4 + slot);
    }
    if (voff == 0) {
      out.values.emplace_back(std::monostate{});
      continue;
    }
    FlatBufferValue& value = out.values.emplace_back();
    if (Status read = read_field(b, root + voff, field.type, value); !read) {
      out.values.pop_back();
      out.error = read.error();
      return out;
    }
  }
  return out;
}

}  // namespace tarnwick
