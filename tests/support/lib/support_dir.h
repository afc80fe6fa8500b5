// Where the helper programs of the tests are built.
#pragma once

namespace qv::test {

inline const char* SupportBinDir() {
    return QV_SUPPORT_BIN_DIR;
}

}  // namespace qv::test
