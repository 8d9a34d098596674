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

namespace qvx {

inline constexpr const char* kConfigFileName = "CONFIG.QVX";

// Reads the file `fileName` in the current working directory into the five
// values, all set to 0 first. Returns an empty string on success, else a
// message naming the full path and the system's error text; the values are
// then all 0.
std::string ReadConfig(int32_t& value1, int32_t& value2, int32_t& value3, int32_t& value4,
                       int32_t& value5, const std::string& fileName);

// The largest HEX or configuration file read: a HEX file of the whole
// 64 KB takes some 180 KB, so anything near this is no such file.
inline constexpr uint64_t kLargestTextFile = uint64_t(64) << 20;

// Reads a whole regular file of at most kLargestTextFile bytes into `text`.
// Returns an empty string on success, else the system's error text or what
// is wrong with the file (a folder, a pipe or a device; too large).
std::string ReadWholeFile(const std::string& path, std::string& text);

// The same parse on text already in memory.
void ParseConfig(const std::string& text, int32_t (&values)[5]);

} // namespace qvx
