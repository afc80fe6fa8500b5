#include "platform/error_text.h"

#include <string.h>

namespace qv {

std::string SystemErrorText(int errorNumber) {
    char buffer[256] = {};
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(errorNumber, buffer, sizeof buffer);
    return text ? std::string(text) : std::string("Unknown error");
}

}  // namespace qv
