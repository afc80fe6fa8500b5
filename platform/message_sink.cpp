#include "platform/message_sink.h"

#include <cstdio>

namespace qv {

void StderrMessageSink::ShowMessage(std::string_view text, std::string_view caption, MessageIcon) {
    std::string line;
    line.append(caption).append(": ").append(text).append("\n");
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace qv
