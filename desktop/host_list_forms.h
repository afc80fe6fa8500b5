// What the host list dialogs show and accept, without widgets: the texts of a host row,
// the add-host form's checks, the fixed table of TCP services and the move rule.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/host_table.h"
#include "core/settings.h"
#include "desktop/form_number.h"

namespace qv {

// "name" for an ICMP host, "name(TCP:port)" for a TCP host.
std::string HostRowText(const HostEntry& entry);
// The name of the tab that shows slot `slot` (or, for a row added at the end, the slot
// hostCount - 1). Out-of-range slots are clamped to the first or last tab.
const std::string& TabOfSlot(const TabNames& names, int slot);

// The add-host form as the user left it.
struct AddHostForm {
    std::string name;
    bool icmp = true;
    std::string pingTimeout;      // seconds
    std::string port;             // TCP only
    std::string connectInterval;  // minutes, TCP only
};

// What AddHost is called with for an accepted form.
struct NewHost {
    std::string name;
    int32_t probeValue = 0;  // ICMP: milliseconds; TCP: minutes
    int port = 0;            // 0 for ICMP
};

inline constexpr const char* kInvalidHostName = "Invalid host name!";
inline constexpr const char* kInvalidPingTimeout = "Invalid ping timeout!";
inline constexpr const char* kInvalidConnectInterval =
    "Invalid connect timeout! Must be in range [2..1000]";
inline constexpr const char* kInvalidPort = "Invalid TCP/IP port!";

// Checks the form in the dialog's order (name, then the fields of the chosen kind; for
// TCP the interval before the port). Either the host to add or the first failure's text.
struct AddHostCheck {
    std::optional<NewHost> host;
    std::string error;
};
AddHostCheck CheckAddHostForm(const AddHostForm& form);

struct TcpService {
    const char* name;
    const char* port;
};
inline constexpr std::array<TcpService, 23> kTcpServices = {{
    {"FTP", "21"},
    {"Telnet", "23"},
    {"SMTP", "25"},
    {"Time", "37"},
    {"Name Server", "42"},
    {"WhoIs", "43"},
    {"DNS", "53"},
    {"Bootp server", "67"},
    {"Bootp client", "68"},
    {"TFTP", "69"},
    {"HTTP", "80"},
    {"POP3", "110"},
    {"SFTP", "115"},
    {"SQL Services", "118"},
    {"NNTP", "119"},
    {"NETBIOS Name", "137"},
    {"NETBIOS Datagram", "138"},
    {"NETBIOS Session", "139"},
    {"SQL-NET", "150"},
    {"SQL Service", "156"},
    {"SNMP", "161"},
    {"SNMPTRAP", "162"},
    {"Printer", "515"},
}};

enum class MoveDirection { Up, Down };
// The row that the selected row exchanges with, or nothing when it is already first (up)
// or last (down). The last row is bounded by both the rows shown and hostCount.
std::optional<int> MoveNeighbour(int row, int rowCount, int hostCount, MoveDirection direction);

}  // namespace qv
