#include "platform/utf8.h"

namespace qv {

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
