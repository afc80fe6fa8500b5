#include "core/host_name.h"

#include <cstdint>
#include <optional>

namespace qv {

namespace {

// The next code point of well-formed UTF-8 at text[i], advancing i; nothing for a malformed,
// overlong or surrogate sequence.
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

// Control characters (C0, DEL, C1) and the format characters that change how text around
// them is shown: direction marks, embeddings, overrides and isolates, zero-width
// characters, joiners, the soft hyphen and the byte order mark. Any of them lets a name
// look like another one in a box, a balloon or a list.
bool IsControlOrFormat(uint32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0xAD || cp == 0x061C || cp == 0x180E ||
           (cp >= 0x200B && cp <= 0x200F) || (cp >= 0x2028 && cp <= 0x202E) ||
           (cp >= 0x2060 && cp <= 0x206F) || cp == 0xFEFF || (cp >= 0xFFF9 && cp <= 0xFFFB);
}

}  // namespace

bool IsValidHostName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    if (name[0] == '-' && name.size() > 1) {
        return false;
    }
    for (size_t i = 0; i < name.size();) {
        const std::optional<uint32_t> cp = NextCodePoint(name, i);
        if (!cp || *cp == ' ' || *cp == '/' || *cp == '\\' || IsControlOrFormat(*cp)) {
            return false;
        }
    }
    return true;
}

}  // namespace qv
