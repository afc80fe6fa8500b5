// Whatever a mail server answers, as one stream of bytes: the client reads its replies
// over a real loopback connection, in both programs' ways, keeps at most
// kSmtpResponseLimit bytes of a reply, and never hangs (the stream ends with the input).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <thread>

#include "fuzz_support.h"
#include "mail/mail_message.h"
#include "mail/smtp.h"
#include "platform/clock.h"

namespace {

// One listening socket on 127.0.0.1 for the whole run.
int Listener(int* port) {
    static int fd = -1;
    static int listenPort = 0;
    if (fd < 0) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, 16) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::abort();
        }
        listenPort = ntohs(address.sin_port);
    }
    *port = listenPort;
    return fd;
}

// Accepts one client, sends it the whole input, ends its side, and reads until the client
// hangs up (bounded, so a client that never connects cannot hold the run).
void Serve(int listener, std::string input) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) {
        return;
    }
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        return;
    }
    size_t sent = 0;
    while (sent < input.size()) {
        const ssize_t n = ::send(fd, input.data() + sent, input.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            break;
        }
        sent += static_cast<size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);
    char buffer[4096];
    pollfd c{fd, POLLIN, 0};
    while (::poll(&c, 1, 5000) > 0 && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
    }
    ::close(fd);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qv;
    if (size < 1) {
        return 0;
    }
    int port = 0;
    const int listener = Listener(&port);
    const Program program = data[0] % 2 == 0 ? Program::Desktop : Program::Service;
    std::thread server(Serve, listener,
                       std::string(reinterpret_cast<const char*>(data + 1), size - 1));
    {
        SystemClock clock;
        CSMTP smtp(program, "127.0.0.1", port, clock);
        smtp.SetTimeouts(5000, 5000);
        if (smtp.OpenConnection()) {
            CMailMessage message;
            message.sFrom = "monitor@localhost";
            message.sSubject = "Host a is DOWN";
            message.sBody = "Host a is DOWN";
            message.AddRecipient("admin@localhost", "admin");
            smtp.SendMail(message);
        }
        if (smtp.sResponse.size() > kSmtpResponseLimit) {
            fuzz::Finding("a kept reply is longer than the limit", smtp.sResponse, "");
        }
    }
    server.join();
    return 0;
}
