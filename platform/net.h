// IPv4 name resolution and stream sockets. Addresses are IPv4 in network byte order.
#pragma once

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

// An IPv4 stream socket. Every call returns 0 or an errno value.
class TcpSocket {
  public:
    // Creates the socket; on failure Valid() is false and *error holds errno.
    static TcpSocket Create(int* error);

    bool Valid() const { return fd_.Valid(); }
    int Fd() const { return fd_.Get(); }
    void Close() { fd_.Reset(); }

    // Binds to the wildcard address and port 0.
    int BindAny();
    // Connects, blocking the caller at most timeoutMs; ETIMEDOUT when it ran out.
    int Connect(uint32_t address, uint16_t port, int timeoutMs);
    // Sends every byte (each wait for room bounded by timeoutMs).
    int SendAll(const void* data, size_t size, int timeoutMs);
    // Receives what is there, waiting at most timeoutMs. *received is 0 when the peer closed.
    int Receive(void* data, size_t capacity, int timeoutMs, size_t* received);

  private:
    UniqueFd fd_;
};

}  // namespace qv
