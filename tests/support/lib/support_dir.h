// Where the helper programs of the tests are built, and where their scripts are.
#pragma once

namespace qv::test {

inline const char* SupportBinDir() {
    return QV_SUPPORT_BIN_DIR;
}

inline const char* SupportScriptDir() {
    return QV_SUPPORT_SCRIPT_DIR;
}

}  // namespace qv::test
