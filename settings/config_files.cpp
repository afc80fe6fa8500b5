// Loading and saving of the configuration files in their line-oriented text form.
#include "settings/config_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string_view>

#include "core/host_name.h"
#include "platform/atomic_file.h"
#include "platform/net.h"
#include "platform/safe_file.h"
#include "platform/utf8.h"

namespace qv {

namespace {

bool IsFieldSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string FilePath(const std::string& dataDir, const char* name) {
    return dataDir + "/" + name;
}

// Reads a configuration file the way the text form defines it: CR LF reads as LF, and a
// line comes in pieces of at most kMaxPieceChars code points (the LF counts, and belongs to
// the piece it ends).
// The text less its C0 and C1 control characters (NUL, ESC, DEL, U+0080 to U+009F): a tab
// shows them as nothing or as boxes, and a NUL would end the name early elsewhere. Taking
// one out can join its neighbours into another (C2 01 80 becomes C2 80), so it goes on
// until none is left: a name read, saved and read again stays the same.
std::string WithoutControlChars(std::string_view text) {
    std::string out(text);
    for (;;) {
        std::string next;
        next.reserve(out.size());
        for (size_t i = 0; i < out.size(); ++i) {
            const auto c = static_cast<unsigned char>(out[i]);
            if (c < 0x20 || c == 0x7F) {
                continue;
            }
            if (c == 0xC2 && i + 1 < out.size() && static_cast<unsigned char>(out[i + 1]) >= 0x80 &&
                static_cast<unsigned char>(out[i + 1]) <= 0x9F) {
                ++i;
                continue;
            }
            next += static_cast<char>(c);
        }
        if (next.size() == out.size()) {
            return next;
        }
        out = std::move(next);
    }
}

// Writes one configuration file; on failure `failure` (when given) says what was not saved
// and why, as the user is told.
bool WriteConfigFile(const std::string& path, std::string_view text, const char* what,
                     std::string* failure) {
    int error = 0;
    if (WriteFileAtomically(path, text, &error)) {
        return true;
    }
    if (failure != nullptr) {
        *failure = std::string(what) + " not saved: " + FileErrorText(path, error);
    }
    return false;
}

class PieceReader {
  public:
    // Opened without blocking: a FIFO (or a device) put in a file's place would otherwise
    // hold the program in open() for good, deaf even to a stop. Only regular files are read.
    explicit PieceReader(const std::string& path)
        : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_.Valid() && (fstat(fd_.Get(), &st) != 0 || !S_ISREG(st.st_mode))) {
            fd_.Reset();
        }
        if (fd_.Valid()) {
            fcntl(fd_.Get(), F_SETFL, fcntl(fd_.Get(), F_GETFL) & ~O_NONBLOCK);
        }
    }

    // False when the file cannot be opened or is not a regular file.
    bool IsOpen() const { return fd_.Valid(); }

    // The next piece, or false at the end of the file.
    bool Next(std::string& piece) {
        piece.clear();
        size_t chars = 0;
        for (;;) {
            int c = PeekByte();
            if (c < 0) {
                break;
            }
            if (!IsUtf8Continuation(static_cast<unsigned char>(c))) {
                if (chars == kMaxPieceChars) {
                    break;
                }
                ++chars;
            }
            ++pos_;
            if (c == '\r' && PeekByte() == '\n') {
                ++pos_;
                c = '\n';
            }
            piece += static_cast<char>(c);
            if (c == '\n') {
                break;
            }
        }
        return !piece.empty();
    }

  private:
    int PeekByte() {
        if (pos_ == end_) {
            if (eof_) {
                return -1;
            }
            ssize_t n;
            do {
                n = read(fd_.Get(), buffer_, sizeof buffer_);
            } while (n < 0 && errno == EINTR);
            pos_ = 0;
            end_ = n > 0 ? static_cast<size_t>(n) : 0;
            if (n <= 0) {
                // A read error ends the file like its end does: what was read stays read.
                eof_ = true;
                return -1;
            }
        }
        return static_cast<unsigned char>(buffer_[pos_]);
    }

    UniqueFd fd_;
    char buffer_[4096] = {};
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
};

// Splits fields off one piece the way formatted reading does: an integer is optional white
// space, an optional sign and at least one digit; a token is the next run of non-space
// characters.
class FieldScanner {
  public:
    explicit FieldScanner(std::string_view text) : text_(text) {}

    bool Int(int32_t& value) {
        SkipSpace();
        size_t i = pos_;
        bool negative = false;
        if (i < text_.size() && (text_[i] == '+' || text_[i] == '-')) {
            negative = text_[i] == '-';
            ++i;
        }
        size_t digitsStart = i;
        int64_t magnitude = 0;
        constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
        while (i < text_.size() && text_[i] >= '0' && text_[i] <= '9') {
            // Too many digits saturate instead of wrapping.
            if (magnitude <= kLimit) {
                magnitude = magnitude * 10 + (text_[i] - '0');
            }
            ++i;
        }
        if (i == digitsStart) {
            return false;
        }
        int64_t v = negative ? -magnitude : magnitude;
        if (v > std::numeric_limits<int32_t>::max()) {
            v = std::numeric_limits<int32_t>::max();
        } else if (v < std::numeric_limits<int32_t>::min()) {
            v = std::numeric_limits<int32_t>::min();
        }
        value = static_cast<int32_t>(v);
        pos_ = i;
        return true;
    }

    bool Token(std::string& token) {
        SkipSpace();
        size_t start = pos_;
        while (pos_ < text_.size() && !IsFieldSpace(text_[pos_])) {
            ++pos_;
        }
        if (pos_ == start) {
            return false;
        }
        token.assign(text_.substr(start, pos_ - start));
        return true;
    }

  private:
    void SkipSpace() {
        while (pos_ < text_.size() && IsFieldSpace(text_[pos_])) {
            ++pos_;
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
};

// Reads the first piece of a settings file into `line`; false without one.
bool ReadFirstPiece(const std::string& path, std::string& line) {
    PieceReader reader(path);
    return reader.IsOpen() && reader.Next(line);
}

// One token for a text field: "_" for an empty text, and every white-space character
// (which would split the field and shift every field after it) replaced by `space`.
std::string TextToken(const std::string& text, char space) {
    if (text.empty()) {
        return "_";
    }
    std::string token = text;
    for (char& c : token) {
        if (IsFieldSpace(c)) {
            c = space;
        }
    }
    return token;
}

void ReplaceAll(std::string& text, char from, char to) {
    for (char& c : text) {
        if (c == from) {
            c = to;
        }
    }
}

// The ten fields both settings lines share, in file order: a number, or a text written as
// one token (blanks inside it written as `space`).
struct NotifyField {
    int32_t NotifySettings::*number = nullptr;
    std::string NotifySettings::*text = nullptr;
    char space = '_';
    // The sound file: its own length limit, and "#" read back as a blank.
    bool soundPath = false;
    // The tray fields: only the desktop program has a tray; the service steps over them.
    bool trayOnly = false;
};

constexpr NotifyField kNotifyFields[] = {
    {.number = &NotifySettings::emailEnabled},
    {.number = &NotifySettings::emailAfter},
    {.text = &NotifySettings::emailAddress},
    {.text = &NotifySettings::smtpServer},
    {.number = &NotifySettings::soundEnabled},
    {.number = &NotifySettings::soundAfter},
    {.text = &NotifySettings::soundFile, .space = '#', .soundPath = true},
    {.number = &NotifySettings::smtpPort},
    {.number = &NotifySettings::trayEnabled, .trayOnly = true},
    {.number = &NotifySettings::trayAfter, .trayOnly = true},
};

// Stops at the first field that cannot be read and returns false; what was read before
// stays.
bool ParseNotifyFields(FieldScanner& scan, NotifySettings& n, const ProgramRules& rules) {
    int32_t v = 0;
    std::string t;
    for (const NotifyField& field : kNotifyFields) {
        if (field.number != nullptr) {
            if (!scan.Int(v)) {
                return false;
            }
            if (!field.trayOnly || rules.readsDesktopOptions) {
                n.*field.number = v;
            }
            continue;
        }
        if (!scan.Token(t)) {
            return false;
        }
        std::string& text = n.*field.text;
        if (field.soundPath) {
            text = CutToChars(t, kMaxSoundFileChars);
            ReplaceAll(text, '#', ' ');
        } else {
            text = CutToChars(t, rules.maxMailTextChars);
        }
    }
    return true;
}

std::string NotifyFieldsText(const NotifySettings& n) {
    std::string line;
    for (const NotifyField& field : kNotifyFields) {
        if (!line.empty()) {
            line += ' ';
        }
        line += field.number != nullptr ? std::to_string(n.*field.number)
                                        : TextToken(n.*field.text, field.space);
    }
    return line;
}

void SetDefaultNotify(NotifySettings& n, const std::string& soundFile) {
    n = NotifySettings{};
    n.emailAddress = kDefaultEmailAddress;
    n.smtpServer = kDefaultSmtpServer;
    n.soundFile = soundFile;
}

}  // namespace

void LoadHostList(const std::string& dataDir, HostTable& table) {
    PieceReader reader(FilePath(dataDir, kHostListFile));
    if (!reader.IsOpen()) {
        if (table.rules().defaultHostsWithoutList) {
            for (const char* name : kDefaultHostNames) {
                table.AddHost(name, kDefaultHostProbeMs, 0, /*saveList=*/false,
                              /*startProber=*/true);
            }
        }
        return;
    }
    std::string piece;
    std::string name;
    while (reader.Next(piece)) {
        FieldScanner scan(piece);
        int32_t port = 0;
        int32_t probeValue = 0;
        if (!scan.Int(port) || !scan.Token(name) || !scan.Int(probeValue)) {
            continue;
        }
        // A name that cannot be a safe single token would end up in file names and in the
        // traceroute tool's arguments; such a line is not a host.
        if (!IsValidHostName(name)) {
            continue;
        }
        // The port lives in 16 signed bits: negative numbers are the ports above 32767.
        const int16_t port16 = static_cast<int16_t>(port);
        // The dialogs never store an ICMP timeout below a second; a smaller one from an
        // edited file would send requests back to back.
        if (port16 == 0 && probeValue != 0 && probeValue < kMinIcmpTimeoutMs) {
            probeValue = kMinIcmpTimeoutMs;
        }
        table.AddHost(name, probeValue, port16, /*saveList=*/false, /*startProber=*/true);
    }
}

bool SaveHostList(const std::string& dataDir, const HostTable& table, std::string* failure) {
    std::string text;
    for (int slot = 0; slot < kMaxHosts; ++slot) {
        const HostEntry& e = table.Entry(slot);
        if (e.active == 0) {
            continue;
        }
        // An empty name or one with white space would make a line that reads back wrong
        // (or shifts its fields); the loader would refuse it anyway.
        if (!IsValidHostName(e.name)) {
            continue;
        }
        int port = e.isIcmp != 0 ? 0 : static_cast<int16_t>(e.port);
        text += std::to_string(port) + " " + e.name + " " + std::to_string(e.probeValue) + kLineEnd;
    }
    return WriteConfigFile(FilePath(dataDir, kHostListFile), text, "The host list was", failure);
}

std::string DefaultSoundFile(const std::string& programPath) {
    size_t slash = programPath.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return CutToChars(programPath, kMaxSoundFileChars);
    }
    std::string folder = programPath.substr(0, slash + 1);
    // An installed program lives in <prefix>/bin; its data lives in <prefix>/share.
    constexpr std::string_view kBin = "/bin/";
    if (folder.size() > kBin.size() && folder.ends_with(kBin)) {
        folder.resize(folder.size() - kBin.size() + 1);
        return CutToChars(folder + "share/quorvane/ring.mp3", kMaxSoundFileChars);
    }
    return CutToChars(folder + "ring.mp3", kMaxSoundFileChars);
}

void SetDefaultSettings(Settings& settings, const std::string& programPath) {
    std::string soundFile = DefaultSoundFile(programPath);
    SetDefaultNotify(settings.icmp, soundFile);
    SetDefaultNotify(settings.tcp, soundFile);
    settings.general = GeneralOptions{};
}

void LoadSettings(const std::string& dataDir, Settings& settings, const ProgramRules& rules,
                  const std::string& programPath) {
    SetDefaultSettings(settings, programPath);
    std::string line;
    if (ReadFirstPiece(FilePath(dataDir, kIcmpSettingsFile), line)) {
        FieldScanner scan(line);
        int32_t v = 0;
        if (ParseNotifyFields(scan, settings.icmp, rules) && scan.Int(v)) {
            settings.general.dailyReports = v;
            if (scan.Int(v)) {
                if (rules.readsDesktopOptions) {
                    settings.general.serviceMode = v;
                }
                if (scan.Int(v)) {
                    settings.general.tracertAfter = v;
                }
            }
        }
    }
    if (ReadFirstPiece(FilePath(dataDir, kTcpSettingsFile), line)) {
        FieldScanner scan(line);
        ParseNotifyFields(scan, settings.tcp, rules);
    }
}

bool SaveSettings(const std::string& dataDir, const Settings& settings, std::string* failure) {
    const GeneralOptions& g = settings.general;
    std::string icmpLine = NotifyFieldsText(settings.icmp) + " " + std::to_string(g.dailyReports) +
                           " " + std::to_string(g.serviceMode) + " " +
                           std::to_string(g.tracertAfter) + kLineEnd;
    std::string tcpLine = NotifyFieldsText(settings.tcp) + kLineEnd;
    std::string tcpFailure;
    bool icmpSaved = WriteConfigFile(FilePath(dataDir, kIcmpSettingsFile), icmpLine,
                                     "The options were", failure);
    bool tcpSaved = WriteConfigFile(FilePath(dataDir, kTcpSettingsFile), tcpLine,
                                    "The options were", &tcpFailure);
    if (failure != nullptr && !tcpSaved) {
        *failure += (icmpSaved ? "" : "\n") + tcpFailure;
    }
    return icmpSaved && tcpSaved;
}

std::string DefaultTabName(int tab) {
    char text[40];
    std::snprintf(text, sizeof text, "Unnamed (%d-%d)", 5 * tab + 1, 5 * tab + 5);
    return text;
}

void LoadTabNames(const std::string& dataDir, TabNames& names) {
    for (int i = 0; i < kTabCount; ++i) {
        names[i] = DefaultTabName(i);
    }
    PieceReader reader(FilePath(dataDir, kTabNamesFile));
    if (!reader.IsOpen()) {
        return;
    }
    std::string piece;
    for (int i = 0; i < kTabCount && reader.Next(piece); ++i) {
        piece = piece.substr(0, piece.find('\n'));
        piece = piece.substr(0, piece.find('\r'));
        names[i] = CutToChars(WithoutControlChars(piece), kMaxTabNameChars);
    }
}

bool SaveTabNames(const std::string& dataDir, const TabNames& names, std::string* failure) {
    std::string text;
    for (const std::string& name : names) {
        // A line break inside a name would push every later name one tab down.
        text += name.substr(0, name.find_first_of("\r\n"));
        text += kLineEnd;
    }
    return WriteConfigFile(FilePath(dataDir, kTabNamesFile), text, "The tab names were", failure);
}

}  // namespace qv
