// A scrape as Prometheus makes it, for the metrics tests: one HTTP request over TCP to a
// loopback address, the reply split into status, headers and body, a gzip body unpacked,
// and one series' value read out of the text.
#pragma once

#include <sys/socket.h>
#include <zlib.h>

#include <cmath>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>

#include "platform/net.h"

namespace qv::test {

struct HttpReply {
    int status = 0;  // 0: no reply
    std::string headers;
    std::string body;
};

// Sends `request` to address:port (an IPv4 or IPv6 literal) and reads until the server
// closes the connection (HTTP/1.0), at most 5 s.
inline HttpReply HttpExchange(const std::string& address, uint16_t port,
                              const std::string& request) {
    HttpReply reply;
    const std::optional<NetAddress> literal = ParseAddressLiteral(address);
    if (!literal) {
        return reply;
    }
    const NetAddress peer = literal->WithPort(port);
    UniqueFd fd(::socket(peer.Family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
    timeval timeout{5, 0};
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof(timeout));
    if (::connect(fd.Get(), peer.Sockaddr(), peer.length) != 0 ||
        ::send(fd.Get(), request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
        return reply;
    }
    std::string bytes;
    ReadAll(fd.Get(), bytes);  // what came before a timeout is judged below
    const size_t end = bytes.find("\r\n\r\n");
    if (bytes.rfind("HTTP/1.", 0) != 0 || end == std::string::npos || bytes.size() < 12) {
        return reply;
    }
    reply.status = std::atoi(bytes.c_str() + 9);
    reply.headers = bytes.substr(0, end + 2);
    reply.body = bytes.substr(end + 4);
    return reply;
}

// GET /metrics; the body, or "" unless the status was 200.
inline std::string Scrape(uint16_t port, const std::string& address = "127.0.0.1") {
    const HttpReply reply =
        HttpExchange(address, port, "GET /metrics HTTP/1.0\r\nHost: metrics\r\n\r\n");
    return reply.status == 200 ? reply.body : std::string();
}

// A gzip member unpacked; "" when it is not one.
inline std::string Gunzip(const std::string& data) {
    z_stream zs{};
    if (inflateInit2(&zs, MAX_WBITS + 16) != Z_OK) {
        return {};
    }
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    std::string out;
    int rc = Z_OK;
    char buffer[16384];
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof(buffer);
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, sizeof(buffer) - zs.avail_out);
    }
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? out : std::string();
}

// The value of one series, given as it is written ("name{labels}"); NaN when absent.
inline double SeriesValue(const std::string& text, const std::string& series) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > series.size() && line.compare(0, series.size(), series) == 0 &&
            line[series.size()] == ' ') {
            return std::strtod(line.c_str() + series.size() + 1, nullptr);
        }
    }
    return std::nan("");
}

}  // namespace qv::test
