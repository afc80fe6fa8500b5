// Reading the [metrics] section of quorvane.conf with GLib's key file parser.
#include "settings/metrics_config.h"

#include <arpa/inet.h>
#include <glib.h>

#include <charconv>
#include <memory>

namespace qv {

namespace {

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct GFree {
    void operator()(char* text) const { g_free(text); }
};

std::string_view Trim(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

}  // namespace

std::optional<NetAddress> ParseListenAddress(std::string_view text, std::string* error) {
    const auto refuse = [&](const std::string& why) -> std::optional<NetAddress> {
        if (error != nullptr) {
            *error = "\"" + std::string(text) + "\" is not ADDRESS:PORT (" + why + ")";
        }
        return std::nullopt;
    };
    const size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) {
        return refuse("no port");
    }
    std::string host(text.substr(0, colon));
    const std::string_view portText = text.substr(colon + 1);
    unsigned port = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (portText.empty() || ec != std::errc() || end != portText.data() + portText.size() ||
        port < 1 || port > 65535) {
        return refuse("the port must be a number from 1 to 65535");
    }
    unsigned char address[16];
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
        if (inet_pton(AF_INET6, host.c_str(), address) != 1) {
            return refuse("not an IPv6 address in brackets");
        }
    } else if (inet_pton(AF_INET, host.c_str(), address) != 1) {
        return refuse(
            "the address must be IPv4 such as 127.0.0.1, or IPv6 in brackets such as [::1]");
    }
    return ParseAddressLiteral(host)->WithPort(static_cast<uint16_t>(port));
}

MetricsConfig LoadMetricsConfig(const std::string& dataDir) {
    MetricsConfig config;
    const std::string path = dataDir + "/" + kQuorvaneConfName;
    std::unique_ptr<GKeyFile, KeyFileFree> file(g_key_file_new());
    GError* rawError = nullptr;
    if (!g_key_file_load_from_file(file.get(), path.c_str(), G_KEY_FILE_NONE, &rawError)) {
        std::unique_ptr<GError, ErrorFree> error(rawError);
        // No file is the default: nothing listens.
        if (!g_error_matches(error.get(), G_FILE_ERROR, G_FILE_ERROR_NOENT)) {
            config.error = path + ": " + error->message;
        }
        return config;
    }
    std::unique_ptr<char, GFree> value(
        g_key_file_get_value(file.get(), "metrics", "listen", nullptr));
    if (!value) {
        return config;
    }
    const std::string_view listen = Trim(value.get());
    if (listen.empty()) {
        return config;
    }
    std::string why;
    if (std::optional<NetAddress> address = ParseListenAddress(listen, &why)) {
        config.listen = std::string(listen);
        config.address = *address;
    } else {
        config.error = path + ": [metrics] listen = " + why;
    }
    return config;
}

}  // namespace qv
