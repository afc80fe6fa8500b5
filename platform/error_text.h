// The system's own text for an error number.
#pragma once

#include <string>

namespace qv {

std::string SystemErrorText(int errorNumber);

}  // namespace qv
