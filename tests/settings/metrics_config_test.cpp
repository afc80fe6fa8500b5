// The [metrics] section of quorvane.conf as the service reads it: which files give an
// endpoint, which give none quietly, and which are refused with a reason.
#include <gtest/gtest.h>

#include <string>

#include "settings/metrics_config.h"
#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using test::TempDir;
using test::WriteFileBytes;

struct Case {
    const char* conf;       // nullptr: no file
    const char* listen;     // what is served, "" for nothing
    const char* errorPart;  // part of the reason, "" for none
};

TEST(MetricsConfigTest, ListenAddressesAreTakenOrRefusedWithAReason) {
    const Case cases[] = {
        {nullptr, "", ""},
        {"", "", ""},
        {"[mail]\nserver = smtp.example.invalid\n", "", ""},
        {"[metrics]\nlisten =\n", "", ""},
        {"[metrics]\nlisten = 127.0.0.1:9462\n", "127.0.0.1:9462", ""},
        {"# comment\n[metrics]\r\nlisten=0.0.0.0:1  \r\n", "0.0.0.0:1", ""},
        {"[metrics]\nlisten = [::]:9462\n", "[::]:9462", ""},
        {"[metrics]\nlisten = [::1]:65535\n", "[::1]:65535", ""},
        {"[metrics]\nlisten = 9462\n", "", "no port"},
        {"[metrics]\nlisten = 127.0.0.1:0\n", "", "1 to 65535"},
        {"[metrics]\nlisten = 127.0.0.1:65536\n", "", "1 to 65535"},
        {"[metrics]\nlisten = 127.0.0.1:94x\n", "", "1 to 65535"},
        {"[metrics]\nlisten = 127.0.0.1:\n", "", "1 to 65535"},
        // Several ports or options of the HTTP server must not slip through.
        {"[metrics]\nlisten = 127.0.0.1:80,127.0.0.1:81\n", "", "IPv4"},
        {"[metrics]\nlisten = localhost:9462\n", "", "IPv4"},
        {"[metrics]\nlisten = ::1:9462\n", "", "IPv4"},
        {"[metrics]\nlisten = [127.0.0.1]:9462\n", "", "IPv6"},
        {"[metrics\nlisten = 127.0.0.1:9462\n", "", "quorvane.conf"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.conf != nullptr) {
            WriteFileBytes(dir.File("quorvane.conf"), c.conf);
        }
        const MetricsConfig config = LoadMetricsConfig(dir.path());
        const std::string label = c.conf ? c.conf : "(no file)";
        EXPECT_EQ(config.listen, c.listen) << label;
        if (*c.errorPart == '\0') {
            EXPECT_EQ(config.error, "") << label;
        } else {
            EXPECT_NE(config.error.find(c.errorPart), std::string::npos)
                << label << " gave: " << config.error;
        }
    }
}

}  // namespace
}  // namespace qv
