// What the tab names dialog stores from its edit: one line of at most kMaxTabNameChars.
#pragma once

#include <string>
#include <string_view>

namespace qv {

// The text up to its first line break, cut to kMaxTabNameChars code points, so the name
// kept in memory is the one tabnames.dat gives back.
std::string TabNameFromEdit(std::string_view text);

}  // namespace qv
