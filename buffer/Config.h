// CONFIG.QVX: the timing settings of the serial programming interface.
//
// A text file read one character at a time. A field is "[" followed by four
// hex digits, most significant first; fields are numbered in file order and
// everything outside them (closing brackets, line breaks, comments without
// "[") is skipped. Field 1 is the timing factor in thousandths, field 2 the
// serial clock half-period; fields 3 to 5 are read and unused.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qvx {

inline constexpr const char* kConfigFileName = "CONFIG.QVX";
// The program's folder in the user's configuration folder and in the
// installed data folder.
inline constexpr const char* kConfigFolderName = "qvx-isp";

// Reads the file `fileName` in the current working directory into the five
// values, all set to 0 first. Returns an empty string on success, else a
// message naming the full path and the system's error text; the values are
// then all 0.
std::string ReadConfig(int32_t& value1, int32_t& value2, int32_t& value3, int32_t& value4,
                       int32_t& value5, const std::string& fileName);

// Reads the file at `path` into the five values, all set to 0 first. Returns
// an empty string on success, else a message naming the path and the
// system's error text; the values are then all 0. `problems`, when given,
// receives a line for each value the program uses that the file does not
// give as four hex digits (see ConfigProblems), the path in front.
std::string ReadConfigFile(const std::string& path, int32_t (&values)[5],
                           std::vector<std::string>* problems = nullptr);

// The folder an installed program keeps its shipped CONFIG.QVX in (the data
// folder of the install prefix, e.g. /usr/share/qvx-isp).
std::string InstalledConfigFolder();

// The program's folder in the user's configuration folder:
// $XDG_CONFIG_HOME/qvx-isp, or $HOME/.config/qvx-isp when XDG_CONFIG_HOME is
// unset, empty or not an absolute path; empty when neither gives an absolute
// path. It holds the user's CONFIG.QVX and the remembered settings.
std::string UserConfigFolder();

// The places CONFIG.QVX is looked for, in this order:
//  1. the current working directory;
//  2. the user's configuration folder: $XDG_CONFIG_HOME/qvx-isp, or
//     $HOME/.config/qvx-isp when XDG_CONFIG_HOME is unset, empty or not an
//     absolute path (left out when neither gives an absolute path);
//  3. `dataFolder`, the installed copy.
// Each entry is the full path of the file.
std::vector<std::string> ConfigSearchPlaces(const std::string& dataFolder = InstalledConfigFolder());

// The first of `places` that exists (as anything: a folder of that name is
// found, and fails to read), or an empty string when none does.
std::string FindConfig(const std::vector<std::string>& places);

// Reads the first of `places` that exists into the five values, all set to 0
// first, and sets `found` to its path (empty when none exists). Returns an
// empty string on success; when no place holds the file, a message that
// names every place looked at; when the file found cannot be read, the
// message of ReadConfigFile. The values are 0 after any failure.
std::string ReadFirstConfig(const std::vector<std::string>& places, int32_t (&values)[5],
                            std::string& found, std::vector<std::string>* problems = nullptr);

// The largest HEX or configuration file read: a HEX file of the whole
// 64 KB takes some 180 KB, so anything near this is no such file.
inline constexpr uint64_t kLargestTextFile = uint64_t(64) << 20;

// Reads a whole regular file of at most kLargestTextFile bytes into `text`.
// Returns an empty string on success, else the system's error text or what
// is wrong with the file (a folder, a pipe or a device; too large).
std::string ReadWholeFile(const std::string& path, std::string& text);

// The same parse on text already in memory.
void ParseConfig(const std::string& text, int32_t (&values)[5]);

// The four characters of each field, in file order (code 26 for those past
// the end of the file).
std::vector<std::string> ConfigFields(const std::string& text);

// What is odd about the two values the program uses, one line each: a value
// the text does not hold ("value 1 (the timing factor) is missing: it is 0"),
// or one whose four characters are not all upper-case hex digits, with the
// number it counts as. They are read all the same; the lines are for the
// operation log, so that a user can see why the timing is what it is.
std::vector<std::string> ConfigProblems(const std::string& text);

} // namespace qvx
