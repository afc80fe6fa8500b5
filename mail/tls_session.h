// TLS for the SMTP client's connection (OpenSSL): the server's certificate is always
// verified against the system's CA store plus an optional extra CA file, host name
// included. Every wait is bounded, and a socket shut down by another thread ends it.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace qv {

class TlsSession {
  public:
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Makes the handshake over the connected socket `fd` (which is left non-blocking) for
    // the server called `host`, within timeoutMs. Nothing, with *error naming the cause
    // (the TLS library's text, "certificate verify failed: ..." for a refused certificate),
    // when it fails.
    static std::unique_ptr<TlsSession> Start(int fd, const std::string& host,
                                             const std::string& caFile, int timeoutMs,
                                             std::string* error);

    // The same contract as the plain socket's calls: 0 or an errno value; *received is 0
    // when the server closed the connection.
    int SendAll(const void* data, size_t size, int timeoutMs);
    int Receive(void* data, size_t capacity, int timeoutMs, size_t* received);

  private:
    struct State;
    explicit TlsSession(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

}  // namespace qv
