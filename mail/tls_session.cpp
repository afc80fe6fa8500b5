// OpenSSL over a non-blocking socket, each step waiting with poll() for what it needs.
#include "mail/tls_session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/error_text.h"

namespace qv {

namespace {

using SteadyClock = std::chrono::steady_clock;

struct CtxFree {
    void operator()(SSL_CTX* ctx) const { SSL_CTX_free(ctx); }
};
struct SslFree {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};

// The library's text for its oldest queued error (the queue is emptied), or `fallback`.
std::string LibraryError(const char* fallback) {
    unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) {
        return fallback;
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    // "error:0A000086:SSL routines::certificate verify failed": the reason is the part the
    // user can act on.
    const char* reason = ERR_reason_error_string(code);
    return reason != nullptr ? reason : text;
}

int MsLeft(SteadyClock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now())
                    .count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for what the library asked for; 0, ETIMEDOUT or an errno value.
int WaitFor(int fd, int sslError, SteadyClock::time_point deadline) {
    pollfd pfd{fd, static_cast<short>(sslError == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
    for (;;) {
        int left = MsLeft(deadline);
        if (left <= 0) {
            return ETIMEDOUT;
        }
        int n = ::poll(&pfd, 1, left);
        if (n > 0) {
            return 0;
        }
        if (n == 0) {
            return ETIMEDOUT;
        }
        if (errno != EINTR) {
            return errno;
        }
    }
}

// The library writes with write(), which raises SIGPIPE on a connection the server has
// closed: held back on this thread during each call (and a raised one taken back), so a
// closed connection is an error return, never the end of the program.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        heldBefore_ = sigismember(&pending, SIGPIPE) == 1;
        if (!heldBefore_) {
            pthread_sigmask(SIG_BLOCK, &pipe_, &previous_);
        }
    }
    ~SigpipeGuard() {
        if (heldBefore_) {
            return;
        }
        sigset_t pending;
        sigpending(&pending);
        if (sigismember(&pending, SIGPIPE) == 1) {
            const timespec now{};
            sigtimedwait(&pipe_, nullptr, &now);
        }
        pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
    }
    SigpipeGuard(const SigpipeGuard&) = delete;
    SigpipeGuard& operator=(const SigpipeGuard&) = delete;

  private:
    sigset_t pipe_;
    sigset_t previous_;
    bool heldBefore_ = false;
};

bool IsAddress(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 ||
           inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

struct TlsSession::State {
    std::unique_ptr<SSL_CTX, CtxFree> ctx;
    std::unique_ptr<SSL, SslFree> ssl;
    int fd = -1;
};

TlsSession::TlsSession(std::unique_ptr<State> state) : state_(std::move(state)) {}

TlsSession::~TlsSession() = default;

std::unique_ptr<TlsSession> TlsSession::Start(int fd, const std::string& host,
                                              const std::string& caFile, int timeoutMs,
                                              std::string* error) {
    ERR_clear_error();
    auto state = std::make_unique<State>();
    state->fd = fd;
    state->ctx.reset(SSL_CTX_new(TLS_client_method()));
    if (!state->ctx) {
        *error = "TLS: " + LibraryError("can't make a context");
        return nullptr;
    }
    SSL_CTX* ctx = state->ctx.get();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(ctx) != 1) {
        ERR_clear_error();  // no system store: only the extra CA file can vouch
    }
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1) {
        *error = "Can't use the CA file " + caFile + ": " + LibraryError("unreadable");
        return nullptr;
    }
    state->ssl.reset(SSL_new(ctx));
    SSL* ssl = state->ssl.get();
    if (ssl == nullptr || SSL_set_fd(ssl, fd) != 1 || SSL_set1_host(ssl, host.c_str()) != 1 ||
        (!IsAddress(host) && SSL_set_tlsext_host_name(ssl, host.c_str()) != 1)) {
        *error = "TLS: " + LibraryError("can't set up the connection");
        return nullptr;
    }
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);

    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int result = 0;
        {
            SigpipeGuard guard;
            result = SSL_connect(ssl);
        }
        if (result == 1) {
            return std::unique_ptr<TlsSession>(new TlsSession(std::move(state)));
        }
        int sslError = SSL_get_error(ssl, result);
        if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
            if (int wait = WaitFor(fd, sslError, deadline); wait != 0) {
                *error =
                    "TLS handshake failed: " +
                    std::string(wait == ETIMEDOUT ? "no answer in time" : SystemErrorText(wait));
                return nullptr;
            }
            continue;
        }
        long verify = SSL_get_verify_result(ssl);
        if (verify != X509_V_OK) {
            ERR_clear_error();
            *error =
                std::string("certificate verify failed: ") + X509_verify_cert_error_string(verify);
        } else if (sslError == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            *error = "TLS handshake failed: the server closed the connection";
        } else {
            *error = "TLS handshake failed: " + LibraryError("protocol error");
        }
        return nullptr;
    }
}

int TlsSession::SendAll(const void* data, size_t size, int timeoutMs) {
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        size_t written = 0;
        int result = 0;
        {
            SigpipeGuard guard;
            result = SSL_write_ex(state_->ssl.get(), p, size, &written);
        }
        if (result == 1) {
            p += written;
            size -= written;
            continue;
        }
        int sslError = SSL_get_error(state_->ssl.get(), result);
        if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return EIO;
        }
        if (int wait = WaitFor(state_->fd, sslError, deadline); wait != 0) {
            return wait;
        }
    }
    return 0;
}

int TlsSession::Receive(void* data, size_t capacity, int timeoutMs, size_t* received) {
    *received = 0;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int result = 0;
        {
            SigpipeGuard guard;  // a read may write (a key update)
            result = SSL_read_ex(state_->ssl.get(), data, capacity, received);
        }
        if (result == 1) {
            return 0;
        }
        *received = 0;
        int sslError = SSL_get_error(state_->ssl.get(), result);
        if (sslError == SSL_ERROR_ZERO_RETURN) {
            return 0;  // the server closed the TLS session
        }
        if (sslError == SSL_ERROR_SYSCALL && ERR_peek_error() == 0) {
            return 0;  // the connection ended without a close notice (or was shut down)
        }
        if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
            ERR_clear_error();
            return EIO;
        }
        if (int wait = WaitFor(state_->fd, sslError, deadline); wait != 0) {
            return wait;
        }
    }
}

}  // namespace qv
