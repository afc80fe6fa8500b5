// Which host names the system accepts. A name becomes part of file names (daily logs,
// traceroute captures, snapshots), a field of the host list and an argument of the
// traceroute tool, so it must be one safe token.
#pragma once

#include <string_view>

namespace qv {

// False for an empty name, one holding white space, control characters, "/" or "\",
// the names "." and "..", and names that begin with "-" (they would read as options);
// the empty-pane placeholder "-" itself is valid.
bool IsValidHostName(std::string_view name);

}  // namespace qv
