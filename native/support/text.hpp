// Text checks and message helpers shared by the core and the binding layer.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "support/result.hpp"

namespace tarnwick {

// The Unicode White_Space property.
bool is_white_space(char32_t c);

// True when `text` is empty after trimming the Unicode White_Space set from
// both ends. `text` must be valid UTF-8.
bool is_blank(std::string_view text);

// "{label} must be a non-empty string" when `text` is blank; the caller keeps
// the text untrimmed.
Status validate_nonblank_text(std::string_view label, std::string_view text);

// `text` with the Unicode White_Space set trimmed from both ends.
std::string_view trim_white_space(std::string_view text);

// The text in double quotes with backslash escapes, as messages show
// user-supplied texts.
std::string debug_quote(std::string_view text);

// "unsupported {label} {quoted value}; expected one of {a, b, ...}".
Error unsupported_choice(std::string_view label, std::string_view value,
                         std::initializer_list<std::string_view> choices);

// Decodes one code point from valid UTF-8 at `pos`, advancing it.
char32_t next_code_point(std::string_view text, std::size_t& pos);

}  // namespace tarnwick
