#include "support/text.hpp"

#include <algorithm>
#include <array>
#include <cstdio>

namespace tarnwick {

bool is_white_space(char32_t c) {
  switch (c) {
    case 0x20: case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
    case 0x202F: case 0x205F: case 0x3000:
      return true;
    default:
      return (c >= 0x09 && c <= 0x0D) || (c >= 0x2000 && c <= 0x200A);
  }
}

namespace {

struct CodeRange {
  char32_t lo;
  char32_t hi;
};

constexpr CodeRange kNonPrintable[] = {
#include "support/nonprintable_ranges.inc"
};

bool is_printable(char32_t c) {
  const auto* end = std::end(kNonPrintable);
  const auto* it = std::upper_bound(std::begin(kNonPrintable), end, c,
                                    [](char32_t v, const CodeRange& r) { return v < r.lo; });
  if (it == std::begin(kNonPrintable)) return true;
  --it;
  return c > it->hi;
}

std::size_t sequence_length(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead >> 5) == 0x6) return 2;
  if ((lead >> 4) == 0xE) return 3;
  return 4;
}

// Byte length of the code point that ends just before `end`.
std::size_t last_sequence_start(std::string_view text, std::size_t end) {
  std::size_t start = end - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  return start;
}

}  // namespace

char32_t next_code_point(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  const std::size_t len = std::min(sequence_length(lead), text.size() - pos);
  char32_t c = len == 1 ? lead : lead & (0x7F >> len);
  for (std::size_t i = 1; i < len; ++i) {
    c = (c << 6) | (static_cast<unsigned char>(text[pos + i]) & 0x3F);
  }
  pos += len;
  return c;
}

std::string_view trim_white_space(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    std::size_t next = begin;
    if (!is_white_space(next_code_point(text, next))) break;
    begin = next;
  }
  std::size_t end = text.size();
  while (end > begin) {
    std::size_t start = last_sequence_start(text, end);
    std::size_t probe = start;
    if (!is_white_space(next_code_point(text, probe))) break;
    end = start;
  }
  return text.substr(begin, end - begin);
}

bool is_blank(std::string_view text) { return trim_white_space(text).empty(); }

Status validate_nonblank_text(std::string_view label, std::string_view text) {
  if (is_blank(text)) return Error::value(std::string(label) + " must be a non-empty string");
  return {};
}

std::string debug_quote(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('"');
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t start = pos;
    const char32_t c = next_code_point(text, pos);
    switch (c) {
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case 0: out += "\\0"; continue;
      default: break;
    }
    if (is_printable(c)) {
      out.append(text.substr(start, pos - start));
    } else {
      std::array<char, 16> buf{};
      std::snprintf(buf.data(), buf.size(), "\\u{%x}", static_cast<unsigned>(c));
      out += buf.data();
    }
  }
  out.push_back('"');
  return out;
}

Error unsupported_choice(std::string_view label, std::string_view value,
                         std::initializer_list<std::string_view> choices) {
  std::string message = "unsupported ";
  message.append(label).append(" ").append(debug_quote(value)).append("; expected one of ");
  bool first = true;
  for (auto choice : choices) {
    if (!first) message += ", ";
    message.append(choice);
    first = false;
  }
  return Error::value(std::move(message));
}

}  // namespace tarnwick
