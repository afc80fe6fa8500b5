#include "core/host_name.h"

namespace qv {

bool IsValidHostName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") {
        return false;
    }
    if (name[0] == '-' && name.size() > 1) {
        return false;
    }
    for (char ch : name) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (c <= 0x20 || c == 0x7F || c == '/' || c == '\\') {
            return false;
        }
    }
    return true;
}

}  // namespace qv
