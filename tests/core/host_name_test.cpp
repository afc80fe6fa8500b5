#include "core/host_name.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(HostName, AcceptsOrdinaryNamesAddressesAndThePlaceholder) {
    for (const char* name :
         {"router", "192.168.1.1", "mail.example.org", "-", "host_1", "r\xc3\xa9seau", "::1",
          "2001:db8::1", "fe80::1%eth0", "::ffff:192.0.2.1", "\xe4\xbe\x8b\xe3\x81\x88.jp"}) {
        EXPECT_TRUE(IsValidHostName(name)) << name;
    }
}

TEST(HostName, RefusesNamesThatCouldEscapeBreakFilesOrSpoofText) {
    for (const char* name :
         {"", ".", "..", "../x", "a/b", "a\\b", "a b", "a\tb", "a\nb", "a\rb", "$(id)\x01", "-rf",
          "--help", "a\x7f", "fe80::1%../../x",
          // C1 controls, bidi marks, embeddings, overrides and isolates, zero width
          "a\xc2\x85", "a\xc2\x9b", "\xe2\x80\xaemoc.live", "a\xe2\x80\x8e", "a\xe2\x80\x8f",
          "a\xe2\x80\xaa", "a\xe2\x80\xac", "a\xe2\x81\xa6", "a\xe2\x81\xa9", "a\xe2\x80\x8b",
          "a\xef\xbb\xbf", "a\xc2\xad",
          // not UTF-8: a stray continuation, a cut sequence, an overlong "/", a surrogate
          "a\x80", "a\xe2\x80", "a\xc0\xaf", "a\xed\xa0\x80"}) {
        EXPECT_FALSE(IsValidHostName(name)) << name;
    }
    // Shell characters are harmless here: no shell ever sees a name.
    EXPECT_TRUE(IsValidHostName("a;touch"));
    EXPECT_TRUE(IsValidHostName("$(id)"));
}

}  // namespace
}  // namespace qv
