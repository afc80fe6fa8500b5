// Addresses of both families: literals, their text, comparison, and lookups that are
// answered at once.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/name_lookup.h"
#include "platform/net.h"

namespace qv {
namespace {

TEST(NetAddress, LiteralsOfBothFamiliesKeepTheirTextAndZone) {
    struct Case {
        const char* text;
        int family;
        const char* shown;
    };
    for (const Case& c : {Case{"127.0.0.1", AF_INET, "127.0.0.1"}, Case{"::1", AF_INET6, "::1"},
                          Case{"2001:DB8:0::7", AF_INET6, "2001:db8::7"},
                          Case{"fe80::1%lo", AF_INET6, "fe80::1%lo"}}) {
        std::optional<NetAddress> a = ParseAddressLiteral(c.text);
        ASSERT_TRUE(a) << c.text;
        EXPECT_EQ(a->Family(), c.family) << c.text;
        EXPECT_EQ(a->Text(), c.shown) << c.text;
        EXPECT_TRUE(a->SameHost(a->WithPort(80))) << c.text;
    }
    for (const char* text : {"", "router", "::1::2", "fe80::1%no-such-interface", "1.2.3.4.5"}) {
        EXPECT_FALSE(ParseAddressLiteral(text)) << text;
    }
    // The zone is part of a link-local address; families never match.
    EXPECT_FALSE(ParseAddressLiteral("fe80::1%lo")->SameHost(*ParseAddressLiteral("fe80::1")));
    EXPECT_FALSE(ParseAddressLiteral("::ffff:127.0.0.1")
                     ->SameHost(NetAddress::FromIPv4(htonl(INADDR_LOOPBACK))));
    EXPECT_TRUE(
        ParseAddressLiteral("127.0.0.1")->SameHost(NetAddress::FromIPv4(htonl(INADDR_LOOPBACK))));
}

TEST(NameLookup, LiteralsAreAnsweredWithoutALookup) {
    NameLookup lookup;
    lookup.Start("::1");
    EXPECT_EQ(lookup.status(), NameLookup::Status::Found);
    EXPECT_EQ(lookup.address().Text(), "::1");
    lookup.Start("");
    EXPECT_EQ(lookup.Wait(0), NameLookup::Status::NotFound);
}

}  // namespace
}  // namespace qv
