// The mail security dialog's logic: the port that follows the security, and the checks of
// the login fields and of the test e-mail's target.
#include "desktop/mail_security_form.h"

#include <gtest/gtest.h>

#include "support/lib/temp_dir.h"

namespace qv {
namespace {

using S = MailSecurity;

TEST(MailSecurityFormTest, PortFollowsTheSecurityOnlyFromThePreviousDefault) {
    struct Case {
        const char* port;
        S previous;
        S next;
        const char* expected;
    };
    const Case cases[] = {
        {"25", S::None, S::StartTls, "587"},    {"587", S::StartTls, S::Tls, "465"},
        {"465", S::Tls, S::None, "25"},         {"", S::None, S::Tls, "465"},
        {"2525", S::None, S::StartTls, "2525"},  // the user's own port stays
        {"465", S::None, S::StartTls, "465"},    // not the previous choice's default
        {"25x", S::None, S::Tls, "25x"},        {"587", S::StartTls, S::StartTls, "587"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port);
        EXPECT_EQ(PortAfterSecurityChange(c.port, c.previous, c.next), c.expected);
    }
}

TEST(MailSecurityFormTest, ALoginNeedsTlsAndBothFieldsAndACaFileMustBeReadable) {
    test::TempDir dir;
    const std::string ca = dir.File("ca.pem");
    test::WriteFileBytes(ca, "-----BEGIN CERTIFICATE-----\n");
    struct Case {
        MailSecurityOptions form;
        const char* error;  // "" when it passes
    };
    const Case cases[] = {
        {{S::None, "", "", ""}, ""},
        {{S::StartTls, "u", "p", ca}, ""},
        {{S::Tls, "", "", ""}, ""},
        {{S::None, "u", "p", ""}, "A login needs STARTTLS or SSL/TLS"},
        {{S::Tls, "u", "", ""}, "Enter the password"},
        {{S::Tls, "", "p", ""}, "Enter the user name"},
        {{S::Tls, "", "", dir.File("missing.pem")}, "can't be read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        MailSecurityCheck check = CheckMailSecurityForm(c.form);
        if (*c.error == '\0') {
            ASSERT_TRUE(check.options.has_value()) << check.error;
            EXPECT_EQ(*check.options, c.form);
        } else {
            EXPECT_FALSE(check.options.has_value());
            EXPECT_NE(check.error.find(c.error), std::string::npos) << check.error;
        }
    }
}

TEST(MailSecurityFormTest, TestMailNeedsAnAddressAServerAndAPort) {
    struct Case {
        const char* address;
        const char* server;
        const char* port;
        int expectedPort;  // 0: refused
    };
    const Case cases[] = {
        {"ops@x", "mail.x", "587", 587}, {"_", "mail.x", "25", 0},
        {"ops@x", " ", "25", 0},         {"ops@x", "mail.x", "0", 0},
        {"ops@x", "mail.x", "70000", 0}, {"ops@x", "mail.x", "25a", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " " + c.server + " " + c.port);
        TestMailCheck check = CheckTestMailFields(c.address, c.server, c.port);
        EXPECT_EQ(check.port, c.expectedPort);
        EXPECT_EQ(check.error.empty(), c.expectedPort != 0);
    }
}

}  // namespace
}  // namespace qv
