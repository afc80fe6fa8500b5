// quorvane.conf's [mail] section through GLib's key file parser.
#include "settings/mail_config.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/net.h"
#include "platform/safe_file.h"

namespace qv {

namespace {

// Far above any hand-written options file; a larger one is not read.
constexpr size_t kMaxOptionsFileBytes = 256 * 1024;
// Group and other users must not be able to read a file that holds a password.
constexpr mode_t kPrivateMask = S_IRWXG | S_IRWXO;
constexpr mode_t kPrivateMode = 0600;

struct KeyFileFree {
    void operator()(GKeyFile* file) const { g_key_file_free(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileFree>;

std::string PathOf(const std::string& dataDir) {
    return dataDir + "/" + kOptionsFileName;
}

std::string TakeError(GError* error) {
    std::string text = error != nullptr && error->message != nullptr ? error->message : "";
    g_clear_error(&error);
    return text;
}

// The key's text, empty when it is missing.
std::string Text(GKeyFile* file, const char* key) {
    gchar* value = g_key_file_get_string(file, kMailGroup, key, nullptr);
    std::string text = value != nullptr ? value : "";
    g_free(value);
    return text;
}

// The file's bytes and mode, without following a link in its place. Nothing when it is not
// there; *error is set when it is there but cannot be read.
bool ReadOptionsFile(const std::string& path, std::string& contents, mode_t& mode, int& error) {
    error = 0;
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (!fd.Valid() || fstat(fd.Get(), &st) != 0) {
        error = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = ENXIO;
        return false;
    }
    if (static_cast<size_t>(st.st_size) > kMaxOptionsFileBytes) {
        error = EFBIG;
        return false;
    }
    mode = st.st_mode;
    if (!ReadAll(fd.Get(), contents, kMaxOptionsFileBytes)) {
        error = errno;
        return false;
    }
    return true;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

MailConfigLoad LoadMailConfig(const std::string& dataDir) {
    MailConfigLoad result;
    const std::string path = PathOf(dataDir);
    std::string contents;
    mode_t mode = 0;
    int readError = 0;
    if (!ReadOptionsFile(path, contents, mode, readError)) {
        if (readError != ENOENT) {
            result.warning = FileErrorText(path, readError) + "; mail is sent without security";
        }
        return result;
    }
    KeyFile file(g_key_file_new());
    GError* error = nullptr;
    if (!g_key_file_load_from_data(file.get(), contents.data(), contents.size(), G_KEY_FILE_NONE,
                                   &error)) {
        result.warning = path + ": " + TakeError(error) + "; mail is sent without security";
        return result;
    }
    if (!g_key_file_has_group(file.get(), kMailGroup)) {
        return result;
    }
    MailSecurityOptions& options = result.options;
    const std::string security = Text(file.get(), "security");
    if (!security.empty()) {
        if (std::optional<MailSecurity> parsed = ParseMailSecurity(security)) {
            options.security = *parsed;
        } else {
            result.warning = path + ": unknown security \"" + security +
                             "\" (none, starttls or tls); mail is sent without security";
        }
    }
    options.user = Text(file.get(), "user");
    options.password = Text(file.get(), "password");
    options.caFile = Text(file.get(), "ca_file");
    if (!options.password.empty() && (mode & kPrivateMask) != 0) {
        options.password.clear();
        result.warning = path + " holds a password but other users can read it (mode " +
                         ModeText(mode) +
                         "): the password is not used. Make the file private: chmod 600 " + path;
    }
    return result;
}

bool SaveMailConfig(const std::string& dataDir, const MailSecurityOptions& options,
                    std::string* error) {
    const std::string path = PathOf(dataDir);
    KeyFile file(g_key_file_new());
    std::string contents;
    mode_t mode = 0;
    int readError = 0;
    if (ReadOptionsFile(path, contents, mode, readError)) {
        GError* parseError = nullptr;
        if (!g_key_file_load_from_data(
                file.get(), contents.data(), contents.size(),
                static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS),
                &parseError)) {
            *error = path + ": " + TakeError(parseError) + "; not rewritten";
            return false;
        }
    } else if (readError != ENOENT) {
        *error = FileErrorText(path, readError);
        return false;
    }
    g_key_file_set_string(file.get(), kMailGroup, "security", MailSecurityName(options.security));
    g_key_file_set_string(file.get(), kMailGroup, "user", options.user.c_str());
    g_key_file_set_string(file.get(), kMailGroup, "password", options.password.c_str());
    g_key_file_set_string(file.get(), kMailGroup, "ca_file", options.caFile.c_str());
    gsize size = 0;
    gchar* data = g_key_file_to_data(file.get(), &size, nullptr);
    const std::string text(data != nullptr ? data : "", data != nullptr ? size : 0);
    g_free(data);

    int fail = 0;
    UniqueFd dir(open(dataDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.Valid()) {
        *error = FileErrorText(dataDir, errno);
        return false;
    }
    TemporaryFile temp(dir.Get(), kOptionsFileName, kPrivateMode, &fail);
    // fchmod: the umask may have taken bits away, never added; 0600 whatever it is.
    if (!temp.Valid() || fchmod(temp.Fd(), kPrivateMode) != 0 || !WriteAll(temp.Fd(), text) ||
        !temp.Commit(TemporaryFile::Replace::NotALink, &fail)) {
        *error = FileErrorText(path, fail != 0 ? fail : errno);
        return false;
    }
    return true;
}

}  // namespace qv
