// Addresses of either family, name resolution and stream sockets. Plain uint32_t
// addresses are IPv4 in network byte order.
#pragma once

#include <sys/socket.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

// Owns one file descriptor; closes it when destroyed.
class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { Reset(); }

    int Get() const { return fd_; }
    bool Valid() const { return fd_ >= 0; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Writes every byte of data to fd, going on after short writes and interruptions. False
// (with errno set) when a write fails.
bool WriteAll(int fd, std::string_view data);
// Appends what the descriptor yields, up to `limit` bytes in all, to `out`; false on a
// read error (what was read before it stays in `out`).
bool ReadAll(int fd, std::string& out, size_t limit = SIZE_MAX);

// One IPv4 or IPv6 address (with its zone for a link-local one), port 0.
struct NetAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    int Family() const { return storage.ss_family; }
    bool IsIPv6() const { return Family() == AF_INET6; }
    const sockaddr* Sockaddr() const { return reinterpret_cast<const sockaddr*>(&storage); }
    // The same address with `port` (host order) filled in.
    NetAddress WithPort(uint16_t port) const;
    // "192.0.2.1", "2001:db8::1", "fe80::1%eth0".
    std::string Text() const;
    // Same family, address and zone; the port is not compared.
    bool SameHost(const NetAddress& other) const;

    static NetAddress FromIPv4(uint32_t address);
    // From what the system filled in; nothing for another family or a short length.
    static std::optional<NetAddress> FromSockaddr(const sockaddr* address, socklen_t length);
};

// An address literal of either family ("127.0.0.1", "::1", "fe80::1%eth0"); no lookup.
std::optional<NetAddress> ParseAddressLiteral(const std::string& text);
// Name lookup of either family, blocking: the first address in the order of the system's
// resolver policy (RFC 6724, /etc/gai.conf), or of `family` alone. A literal is used as it
// is.
std::optional<NetAddress> ResolveHost(const std::string& name, int family = AF_UNSPEC);

// Dotted-quad parse only ("127.0.0.1").
std::optional<uint32_t> ParseDottedIPv4(const std::string& text);
// Name lookup (first IPv4 address), then the dotted parse.
std::optional<uint32_t> ResolveIPv4(const std::string& name);
// "a.b.c.d" of an address in network byte order.
std::string FormatIPv4(uint32_t address);

enum class WaitResult { Ready, Timeout, Error };
// Waits until fd is readable (or has hung up) or timeoutMs passes. EINTR is retried.
WaitResult WaitReadable(int fd, int timeoutMs);

// The machine's host name ("localhost" when it has none).
std::string LocalHostName();

// A stream socket of either family (IPv4 unless told). Every call returns 0 or an errno
// value.
class TcpSocket {
  public:
    // Creates the socket; on failure Valid() is false and *error holds errno.
    static TcpSocket Create(int* error) { return Create(AF_INET, error); }
    static TcpSocket Create(int family, int* error);

    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    int Family() const { return family_; }
    void Close() { fd_.Reset(); }

    // Binds to the wildcard address of the socket's family and port 0.
    int BindAny();
    // Connects, blocking the caller at most timeoutMs; ETIMEDOUT when it ran out.
    int Connect(uint32_t address, uint16_t port, int timeoutMs);
    int Connect(const NetAddress& address, uint16_t port, int timeoutMs);
    // Sends every byte (each wait for room bounded by timeoutMs).
    int SendAll(const void* data, size_t size, int timeoutMs);
    // Receives what is there, waiting at most timeoutMs. *received is 0 when the peer closed.
    int Receive(void* data, size_t capacity, int timeoutMs, size_t* received);

  private:
    UniqueFd fd_;
    int family_ = AF_INET;
};

}  // namespace qv
