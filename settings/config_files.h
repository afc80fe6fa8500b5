// The four configuration files of the data folder (host list, ICMP settings with the
// general options, TCP settings, tab names): their defaults, loading and saving.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/host_table.h"
#include "core/program.h"
#include "core/settings.h"

namespace qv {

inline constexpr const char* kHostListFile = "conf01.dat";
inline constexpr const char* kIcmpSettingsFile = "conf02.dat";
inline constexpr const char* kTcpSettingsFile = "conf03.dat";
inline constexpr const char* kTabNamesFile = "tabnames.dat";

// Every line written ends with these bytes; readers also accept LF and CR LF.
inline constexpr const char* kLineEnd = "\r\r\n";
// A reader takes a line in pieces of at most this many characters (UTF-8 code points);
// a longer line reads as several lines.
constexpr size_t kMaxPieceChars = 709;

// Limits of the text fields, in code points; longer values are cut on load.
constexpr size_t kMaxSoundFileChars = 255;

// The hosts the desktop program watches when there is no host list yet.
inline constexpr const char* kDefaultHostNames[] = {"127.0.0.1", "localhost"};
constexpr int kDefaultHostProbeMs = 1000;

// The smallest ICMP timeout a host list line gets; a smaller one other than 0 is raised.
constexpr int32_t kMinIcmpTimeoutMs = 1000;

// Reads the host list and adds each valid line's host (no save, prober started); an ICMP
// timeout below kMinIcmpTimeoutMs other than 0 counts as kMinIcmpTimeoutMs. Without a
// readable file the desktop program adds the two default hosts (and writes nothing); the
// service program adds none. Lines that do not yield port, name and probe value, or whose
// name IsValidHostName refuses, are skipped.
void LoadHostList(const std::string& dataDir, HostTable& table);
// Rewrites the host list from the table's active slots in slot order. Slots whose name the
// format cannot carry are left out. False when the file could not be written (the old one
// is then unchanged), and `failure` (when given) then tells the user what and why.
bool SaveHostList(const std::string& dataDir, const HostTable& table,
                  std::string* failure = nullptr);

// The default sound file: "ring.mp3" in the folder of the program file (for an installed
// program in <prefix>/bin: <prefix>/share/quorvane/ring.mp3), or the program path itself
// when it holds no "/" after its first character.
std::string DefaultSoundFile(const std::string& programPath);
// Sets every field to its default (launchOnStartup included).
void SetDefaultSettings(Settings& settings, const std::string& programPath);
// Defaults, then the first line of conf02.dat and of conf03.dat. Parsing of a line stops
// at its first unreadable field; the fields from there on keep their defaults. The service
// program reads the tray and service-mode fields but keeps their defaults.
void LoadSettings(const std::string& dataDir, Settings& settings, const ProgramRules& rules,
                  const std::string& programPath);
// Rewrites conf02.dat and conf03.dat. Spaces of the sound file are written as "#"; an empty
// text is written as "_", so a line always holds all its fields. False when either file
// could not be written; `failure` (when given) then tells the user which and why.
bool SaveSettings(const std::string& dataDir, const Settings& settings,
                  std::string* failure = nullptr);

// "Unnamed (1-5)" for tab 0 up to "Unnamed (96-100)" for tab 19.
std::string DefaultTabName(int tab);
// Defaults, then one name per line of tabnames.dat (at most 20 lines), each cut at its
// first LF, then at its first CR, then to kMaxTabNameChars code points.
void LoadTabNames(const std::string& dataDir, TabNames& names);
// Writes all 20 names, one per line. False when the file could not be written; `failure`
// (when given) then tells the user why.
bool SaveTabNames(const std::string& dataDir, const TabNames& names,
                  std::string* failure = nullptr);

}  // namespace qv
