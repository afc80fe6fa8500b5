// Which host names the system accepts. A name becomes part of file names (daily logs,
// traceroute captures, snapshots), a field of the host list and an argument of the
// traceroute tool, so it must be one safe token.
#pragma once

#include <string_view>

namespace qv {

// False for an empty name, one holding white space, control characters (C0, DEL, C1),
// format characters that change how text is shown (bidi marks, embeddings, overrides and
// isolates, zero-width characters), "/" or "\", text that is not well-formed UTF-8, the
// names "." and "..", and names that begin with "-" (they would read as options); the
// empty-pane placeholder "-" itself is valid. IPv6 literals ("::1", "fe80::1%eth0") are
// valid: ":" and "%" are ordinary characters in a Linux file name.
bool IsValidHostName(std::string_view name);

}  // namespace qv
