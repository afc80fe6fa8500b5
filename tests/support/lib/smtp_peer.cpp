// The scripted SMTP peer: one thread, one connection at a time, stoppable at any wait.
#include "support/lib/smtp_peer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace qv::test {

namespace {

UniqueFd ListenLoopback(uint16_t* port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (!fd.Valid() || ::bind(fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(fd.Get(), 8) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("SMTP peer cannot listen on 127.0.0.1");
    }
    *port = ntohs(address.sin_port);
    return fd;
}

bool SendAllBytes(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

SmtpStage StageOf(const std::string& line) {
    std::string verb;
    for (char c : line) {
        if (c == ' ' || c == '\r' || c == '\n') {
            break;
        }
        verb += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (verb == "HELO") {
        return SmtpStage::Helo;
    }
    if (verb == "MAIL") {
        return SmtpStage::Mail;
    }
    if (verb == "RCPT") {
        return SmtpStage::Rcpt;
    }
    if (verb == "DATA") {
        return SmtpStage::Data;
    }
    if (verb == "QUIT") {
        return SmtpStage::Quit;
    }
    return SmtpStage::Other;
}

}  // namespace

SmtpAction SmtpAction::Reply(std::string text) {
    SmtpAction a;
    a.text = std::move(text);
    return a;
}

SmtpAction SmtpAction::Split(std::string text, size_t splitAt, int pauseMs) {
    SmtpAction a = Reply(std::move(text));
    a.splitAt = splitAt;
    a.pauseMs = pauseMs;
    return a;
}

SmtpAction SmtpAction::Silent() {
    SmtpAction a;
    a.kind = Kind::Silent;
    return a;
}

SmtpAction SmtpAction::Close() {
    SmtpAction a;
    a.kind = Kind::Close;
    return a;
}

SmtpPeer::SmtpPeer() {
    listener_ = ListenLoopback(&port_);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error("SMTP peer cannot make its stop pipe");
    }
    stopRead_.Reset(fds[0]);
    stopWrite_.Reset(fds[1]);
    actions_[SmtpStage::Greeting] = SmtpAction::Reply("220 peer.test ready\r\n");
    actions_[SmtpStage::Helo] = SmtpAction::Reply("250 peer.test\r\n");
    actions_[SmtpStage::Mail] = SmtpAction::Reply("250 sender ok\r\n");
    actions_[SmtpStage::Rcpt] = SmtpAction::Reply("250 recipient ok\r\n");
    actions_[SmtpStage::Data] = SmtpAction::Reply("354 go ahead\r\n");
    actions_[SmtpStage::EndOfData] = SmtpAction::Reply("250 queued\r\n");
    actions_[SmtpStage::Quit] = SmtpAction::Reply("221 bye\r\n");
    actions_[SmtpStage::Other] = SmtpAction::Reply("500 unknown command\r\n");
    thread_ = std::thread([this] { Run(); });
}

SmtpPeer::~SmtpPeer() {
    char byte = 1;
    ssize_t written = ::write(stopWrite_.Get(), &byte, 1);
    (void)written;
    thread_.join();
}

void SmtpPeer::On(SmtpStage stage, SmtpAction action) {
    std::lock_guard<std::mutex> lock(mutex_);
    actions_[stage] = std::move(action);
}

std::string SmtpPeer::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

int SmtpPeer::FinishedConnections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

bool SmtpPeer::WaitFinished(int count, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return finishedChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return finished_ >= count; });
}

bool SmtpPeer::StopRequested(int ms) const {
    pollfd pfd{stopRead_.Get(), POLLIN, 0};
    int n;
    do {
        n = ::poll(&pfd, 1, ms);
    } while (n < 0 && errno == EINTR);
    return n != 0;
}

void SmtpPeer::Run() {
    for (;;) {
        pollfd pfds[2] = {{listener_.Get(), POLLIN, 0}, {stopRead_.Get(), POLLIN, 0}};
        if (::poll(pfds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (pfds[1].revents != 0) {
            return;
        }
        UniqueFd connection(::accept4(listener_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!connection.Valid()) {
            continue;
        }
        int one = 1;
        ::setsockopt(connection.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        Serve(connection.Get());
        connection.Reset();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++finished_;
        }
        finishedChanged_.notify_all();
        if (StopRequested(0)) {
            return;
        }
    }
}

SmtpAction SmtpPeer::ActionFor(SmtpStage stage) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return actions_.at(stage);
}

SmtpPeer::Outcome SmtpPeer::Perform(int fd, const SmtpAction& action) const {
    switch (action.kind) {
        case SmtpAction::Kind::Silent:
            return Outcome::Silent;
        case SmtpAction::Kind::Close:
            return Outcome::Closed;
        case SmtpAction::Kind::Reply:
            break;
    }
    if (action.splitAt > 0 && action.splitAt < action.text.size()) {
        if (!SendAllBytes(fd, action.text.data(), action.splitAt) ||
            StopRequested(action.pauseMs)) {
            return Outcome::Closed;
        }
        return SendAllBytes(fd, action.text.data() + action.splitAt,
                            action.text.size() - action.splitAt)
                   ? Outcome::Go
                   : Outcome::Closed;
    }
    return SendAllBytes(fd, action.text.data(), action.text.size()) ? Outcome::Go : Outcome::Closed;
}

void SmtpPeer::Serve(int fd) {
    Outcome outcome = Perform(fd, ActionFor(SmtpStage::Greeting));
    bool inData = false;
    std::string pending;
    while (outcome != Outcome::Closed) {
        pollfd pfds[2] = {{fd, POLLIN, 0}, {stopRead_.Get(), POLLIN, 0}};
        if (::poll(pfds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (pfds[1].revents != 0) {
            return;
        }
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.append(buffer, static_cast<size_t>(n));
        }
        pending.append(buffer, static_cast<size_t>(n));
        size_t lf;
        while (outcome == Outcome::Go && (lf = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, lf + 1);
            pending.erase(0, lf + 1);
            if (inData) {
                if (line == ".\r\n" || line == ".\n") {
                    inData = false;
                    outcome = Perform(fd, ActionFor(SmtpStage::EndOfData));
                }
                continue;
            }
            SmtpStage stage = StageOf(line);
            SmtpAction action = ActionFor(stage);
            outcome = Perform(fd, action);
            inData = stage == SmtpStage::Data && action.kind == SmtpAction::Kind::Reply &&
                     action.text.starts_with("354");
        }
    }
}

}  // namespace qv::test
