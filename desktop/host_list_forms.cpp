#include "desktop/host_list_forms.h"

#include <algorithm>

#include "core/host_name.h"
#include "platform/utf8.h"

namespace qv {

std::string HostRowText(const HostEntry& entry) {
    if (entry.isIcmp) {
        return entry.name;
    }
    // The port is held in 16 signed bits; ports above 32767 are shown as the port they are.
    return entry.name + "(TCP:" + std::to_string(TcpPortOf(entry)) + ")";
}

const std::string& TabOfSlot(const TabNames& names, int slot) {
    return names[std::clamp(slot / 5, 0, kTabCount - 1)];
}

AddHostCheck CheckAddHostForm(const AddHostForm& form) {
    // The name becomes a field of the host list, part of log and capture file names and an
    // argument of the traceroute tool, and must fit the entry without being cut.
    if (!IsValidHostName(form.name) || CountChars(form.name) > kMaxNameChars) {
        return {std::nullopt, kInvalidHostName};
    }
    if (form.icmp) {
        int32_t seconds = ParseLeadingInt(form.pingTimeout);
        if (seconds < 1 || seconds > 10) {
            return {std::nullopt, kInvalidPingTimeout};
        }
        return {NewHost{form.name, seconds * 1000, 0}, {}};
    }
    int32_t minutes = ParseLeadingInt(form.connectInterval);
    if (minutes < 2 || minutes > 1000) {
        return {std::nullopt, kInvalidConnectInterval};
    }
    int32_t port = ParseLeadingInt(form.port);
    if (port < 1 || port > 65535) {
        return {std::nullopt, kInvalidPort};
    }
    return {NewHost{form.name, minutes, port}, {}};
}

std::optional<int> MoveNeighbour(int row, int rowCount, int hostCount, MoveDirection direction) {
    if (direction == MoveDirection::Up) {
        return row > 0 ? std::optional<int>(row - 1) : std::nullopt;
    }
    int last = std::min(rowCount, hostCount) - 1;
    return row < last ? std::optional<int>(row + 1) : std::nullopt;
}

}  // namespace qv
