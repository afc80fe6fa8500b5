// The number reading that every form of the desktop program shares.
#pragma once

#include <cstdint>
#include <string_view>

namespace qv {

// Reads a decimal integer the way the dialogs' edits are read: leading blanks, a sign and
// digits; text without digits reads as 0, and too many digits saturate.
int32_t ParseLeadingInt(std::string_view text);

}  // namespace qv
