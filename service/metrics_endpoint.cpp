// The /metrics endpoint: a listening socket of ours handed to libmicrohttpd, whose one
// thread answers each scrape with the text of metrics_text, compressed by zlib when the
// client accepts gzip.
#include "service/metrics_endpoint.h"

#include <microhttpd.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <zlib.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/error_text.h"
#include "platform/net.h"
#include "settings/metrics_config.h"

namespace qv {

struct MetricsEndpoint::Scrape {
    Scrape(HostTable& t, NotificationSource n) : table(t), notifications(std::move(n)) {}
    ~Scrape() {
        if (deflating) {
            deflateEnd(&stream);
        }
    }
    Scrape(const Scrape&) = delete;
    Scrape& operator=(const Scrape&) = delete;

    HostTable& table;
    const NotificationSource notifications;
    // Used by the server's thread alone: room kept for the next scrape.
    ScrapeNumbers numbers;
    std::string text;
    std::vector<unsigned char> compressed;  // room only grows: no clearing at each scrape
    size_t compressedSize = 0;
    z_stream stream{};
    bool deflating = false;
};

namespace {

constexpr const char* kContentType = "text/plain; version=0.0.4; charset=utf-8";

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

// Whether an Accept-Encoding value accepts gzip: a "gzip" (or "*") entry, in any case,
// whose weight is not zero.
bool AcceptsGzip(const char* header) {
    if (header == nullptr) {
        return false;
    }
    std::string_view rest(header);
    while (!rest.empty()) {
        const size_t comma = rest.find(',');
        std::string_view entry = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        const size_t semicolon = entry.find(';');
        std::string_view coding = entry.substr(0, semicolon);
        while (!coding.empty() && (coding.front() == ' ' || coding.front() == '\t')) {
            coding.remove_prefix(1);
        }
        while (!coding.empty() && (coding.back() == ' ' || coding.back() == '\t')) {
            coding.remove_suffix(1);
        }
        if (!EqualsNoCase(coding, "gzip") && !EqualsNoCase(coding, "x-gzip") && coding != "*") {
            continue;
        }
        double weight = 1;
        if (semicolon != std::string_view::npos) {
            const size_t q = entry.find("q=", semicolon);
            if (q != std::string_view::npos) {
                const char* begin = entry.data() + q + 2;
                std::from_chars(begin, entry.data() + entry.size(), weight);
            }
        }
        if (weight > 0) {
            return true;
        }
    }
    return false;
}

// `text` as one gzip member in `scrape.compressed`; false when zlib fails. The fastest
// level, with a smaller hash than zlib's default: a scrape's text repeats itself so much
// that it still shrinks about seventeenfold.
bool Gzip(MetricsEndpoint::Scrape& scrape) {
    z_stream& zs = scrape.stream;
    if (!scrape.deflating) {
        if (deflateInit2(&zs, Z_BEST_SPEED, Z_DEFLATED, MAX_WBITS + 16, 5, Z_DEFAULT_STRATEGY) !=
            Z_OK) {
            return false;
        }
        scrape.deflating = true;
    } else if (deflateReset(&zs) != Z_OK) {
        return false;
    }
    const size_t bound = deflateBound(&zs, scrape.text.size());
    if (scrape.compressed.size() < bound) {
        scrape.compressed.resize(bound);
    }
    zs.next_in = reinterpret_cast<Bytef*>(scrape.text.data());
    zs.avail_in = static_cast<uInt>(scrape.text.size());
    zs.next_out = scrape.compressed.data();
    zs.avail_out = static_cast<uInt>(scrape.compressed.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) {
        return false;
    }
    scrape.compressedSize = zs.total_out;
    return true;
}

MHD_Result Reply(MHD_Connection* connection, unsigned status, std::string_view body,
                 const char* encoding = nullptr, const char* allow = nullptr) {
    MHD_Response* response = MHD_create_response_from_buffer(
        body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                            status == MHD_HTTP_OK ? kContentType : "text/plain; charset=utf-8");
    if (encoding != nullptr) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_ENCODING, encoding);
    }
    if (status == MHD_HTTP_OK) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
    }
    if (allow != nullptr) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, allow);
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// Every request, on the server's thread: GET or HEAD of /metrics is a scrape.
MHD_Result Answer(void* cls, MHD_Connection* connection, const char* url, const char* method,
                  const char* /*version*/, const char* /*upload*/, size_t* uploadSize,
                  void** request) {
    auto& scrape = *static_cast<MetricsEndpoint::Scrape*>(cls);
    // The first call comes with the headers alone; answering only once the whole request
    // is in keeps the connection open for the next scrape.
    if (*request == nullptr) {
        *request = &scrape;
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0;  // a body is not asked for; what is sent is passed over
        return MHD_YES;
    }
    const bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    if (!head && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0) {
        return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "Only GET and HEAD are served.\n",
                     nullptr, "GET, HEAD");
    }
    if (std::strcmp(url, "/metrics") != 0) {
        return Reply(connection, MHD_HTTP_NOT_FOUND, "Not found; the metrics are at /metrics.\n");
    }
    CopyHostNumbers(scrape.table, scrape.numbers.hosts);
    scrape.numbers.notifications =
        scrape.notifications ? scrape.notifications() : NotificationCounts{};
    ReadProcessNumbers(scrape.numbers);
    WriteMetricsText(scrape.numbers, scrape.text);
    if (AcceptsGzip(MHD_lookup_connection_value(connection, MHD_HEADER_KIND,
                                                MHD_HTTP_HEADER_ACCEPT_ENCODING)) &&
        Gzip(scrape)) {
        return Reply(
            connection, MHD_HTTP_OK,
            {reinterpret_cast<const char*>(scrape.compressed.data()), scrape.compressedSize},
            "gzip");
    }
    return Reply(connection, MHD_HTTP_OK, scrape.text);
}

// A socket listening on `address`, with the port it got; nothing, with the reason, when
// it cannot be had.
UniqueFd Listen(const NetAddress& address, uint16_t* port, std::string* error) {
    UniqueFd fd(::socket(address.Family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.Valid()) {
        *error = SystemErrorText(errno);
        return {};
    }
    const int on = 1;
    ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (address.IsIPv6()) {
        // [::] serves IPv4 clients too, whatever the system's default.
        const int off = 0;
        ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof(off));
    }
    if (::bind(fd.Get(), address.Sockaddr(), address.length) != 0 || ::listen(fd.Get(), 16) != 0) {
        *error = SystemErrorText(errno);
        return {};
    }
    sockaddr_storage bound{};
    socklen_t boundLength = sizeof(bound);
    ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&bound), &boundLength);
    *port = ntohs(address.IsIPv6() ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                   : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return fd;
}

}  // namespace

std::unique_ptr<MetricsEndpoint> MetricsEndpoint::Start(const NetAddress& address, HostTable& table,
                                                        NotificationSource notifications,
                                                        std::string* error) {
    std::string why;
    std::unique_ptr<MetricsEndpoint> endpoint(new MetricsEndpoint);
    UniqueFd socket = Listen(address, &endpoint->port_, &why);
    if (!socket.Valid()) {
        if (error != nullptr) {
            *error = why;
        }
        return nullptr;
    }
    endpoint->scrape_ = std::make_unique<Scrape>(table, std::move(notifications));
    // One thread for every connection, each request answered in turn. A client that goes
    // quiet is dropped after 30 s (longer than a keep-alive connection waits between
    // scrapes at the usual intervals), and at most 16 are served at once. The socket is the
    // server's from here on: it closes it when it stops.
    const unsigned kConnections = 16;
    const unsigned kIdleSeconds = 30;
    endpoint->daemon_ = MHD_start_daemon(
        MHD_USE_AUTO_INTERNAL_THREAD, 0, nullptr, nullptr, &Answer, endpoint->scrape_.get(),
        MHD_OPTION_LISTEN_SOCKET, socket.Release(), MHD_OPTION_CONNECTION_LIMIT, kConnections,
        MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, MHD_OPTION_END);
    if (endpoint->daemon_ == nullptr) {
        if (error != nullptr) {
            *error = "the HTTP server (libmicrohttpd) could not start";
        }
        return nullptr;
    }
    return endpoint;
}

MetricsEndpoint::~MetricsEndpoint() {
    if (daemon_ != nullptr) {
        MHD_stop_daemon(daemon_);
    }
}

std::unique_ptr<MetricsEndpoint> StartConfiguredMetrics(const std::string& dataDir,
                                                        HostTable& table,
                                                        NotificationSource notifications,
                                                        MessageSink& sink) {
    const MetricsConfig config = LoadMetricsConfig(dataDir);
    if (!config.error.empty()) {
        sink.ShowMessage("No metrics endpoint: " + config.error, "Error", MessageIcon::Error);
        return nullptr;
    }
    if (config.listen.empty()) {
        return nullptr;
    }
    std::string error;
    std::unique_ptr<MetricsEndpoint> endpoint =
        MetricsEndpoint::Start(config.address, table, std::move(notifications), &error);
    if (!endpoint) {
        sink.ShowMessage("Can't serve metrics on " + config.listen + ": " + error +
                             "; monitoring goes on without them",
                         "Error", MessageIcon::Error);
    }
    return endpoint;
}

}  // namespace qv
