#include "core/host_name.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(HostName, AcceptsOrdinaryNamesAndThePlaceholder) {
    for (const char* name :
         {"router", "192.168.1.1", "mail.example.org", "-", "host_1", "r\xc3\xa9seau"}) {
        EXPECT_TRUE(IsValidHostName(name)) << name;
    }
}

TEST(HostName, RefusesNamesThatCouldEscapeOrBreakFiles) {
    for (const char* name : {"", ".", "..", "../x", "a/b", "a\\b", "a b", "a\tb", "a\nb", "a\rb",
                             "$(id)\x01", "-rf", "--help", "a\x7f"}) {
        EXPECT_FALSE(IsValidHostName(name)) << name;
    }
    // Shell characters are harmless here: no shell ever sees a name.
    EXPECT_TRUE(IsValidHostName("a;touch"));
    EXPECT_TRUE(IsValidHostName("$(id)"));
}

}  // namespace
}  // namespace qv
