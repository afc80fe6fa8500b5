// Reading UTF-8 text by code point, and cutting it to a limit without ever ending inside a
// character.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

inline bool IsUtf8Continuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The next code point of well-formed UTF-8 at text[i], advancing i past it; nothing (and
// i unchanged) for a malformed, truncated, overlong or surrogate sequence.
std::optional<uint32_t> NextCodePoint(std::string_view text, size_t& i);

// The code points of text.
size_t CountChars(std::string_view text);
// The first `maxChars` code points of text.
std::string CutToChars(std::string_view text, size_t maxChars);
// At most `maxBytes` bytes of text, shortened to the last whole character.
std::string CutToBytes(std::string_view text, size_t maxBytes);

}  // namespace qv
