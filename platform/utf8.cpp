#include "platform/utf8.h"

namespace qv {

std::optional<uint32_t> NextCodePoint(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t length = 1;
    uint32_t cp = lead;
    uint32_t least = 0;
    if (lead < 0x80) {
        ++i;
        return cp;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1F;
        least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0F;
        least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07;
        least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (i + length > text.size()) {
        return std::nullopt;
    }
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return std::nullopt;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return std::nullopt;
    }
    i += length;
    return cp;
}

size_t CountChars(std::string_view text) {
    size_t chars = 0;
    for (char c : text) {
        chars += IsUtf8Continuation(static_cast<unsigned char>(c)) ? 0 : 1;
    }
    return chars;
}

std::string CutToChars(std::string_view text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsUtf8Continuation(static_cast<unsigned char>(text[i]))) {
            if (chars == maxChars) {
                return std::string(text.substr(0, i));
            }
            ++chars;
        }
    }
    return std::string(text);
}

std::string CutToBytes(std::string_view text, size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    size_t end = maxBytes;
    while (end > 0 && IsUtf8Continuation(static_cast<unsigned char>(text[end]))) {
        --end;
    }
    return std::string(text.substr(0, end));
}

}  // namespace qv
