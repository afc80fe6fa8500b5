// What the tab names dialog stores from its edit.
#include "desktop/tab_name_edit.h"

#include <gtest/gtest.h>

namespace qv {
namespace {

TEST(TabNameEdit, OneLineOfNineteenCharactersAtMost) {
    EXPECT_EQ(TabNameFromEdit("Core\r\nBranch"), "Core");
    EXPECT_EQ(TabNameFromEdit("Core\nBranch"), "Core");
    EXPECT_EQ(TabNameFromEdit("abcdefghijklmnopqrstuvwxyz"), "abcdefghijklmnopqrs");
    std::string twenty;
    for (int i = 0; i < 20; ++i) {
        twenty += "\xD0\x96";
    }
    EXPECT_EQ(TabNameFromEdit(twenty), twenty.substr(0, 38));  // 19 two-byte characters
}

}  // namespace
}  // namespace qv
