#include "core/host_name.h"

#include <cstdint>
#include <optional>

#include "platform/utf8.h"

namespace qv {

namespace {

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
