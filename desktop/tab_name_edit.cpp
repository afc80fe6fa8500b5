// Tab names as the dialog stores them.
#include "desktop/tab_name_edit.h"

#include "core/settings.h"
#include "platform/utf8.h"

namespace qv {

std::string TabNameFromEdit(std::string_view text) {
    return CutToChars(text.substr(0, text.find_first_of("\r\n")), kMaxTabNameChars);
}

}  // namespace qv
