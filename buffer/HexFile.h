// Intel HEX files into the code buffer.
//
// A record is ":" followed, up to the end of its line, by hex digits of
// either case: byte count, address (two bytes), type, the data bytes and a
// checksum that makes all the record's bytes add up to 0 modulo 256. Text
// outside records (before the ":" of a record, blank lines, comments without
// a ":") is skipped; a character of code 26 ends the file.
//
// Record types: 00 data, 01 end of file (no data; nothing after it is
// read), 02 extended segment address (2 bytes, base = value * 16), 04
// extended linear address (2 bytes, base = value * 65536), 03 and 05 start
// addresses (4 bytes, ignored). The base is added to the address of every
// later data record, in 64-bit arithmetic: a record any byte of which would
// lie above the memory the file is loaded for (FFFF for the code memory,
// 07FF for the data memory) is refused. Data is stored as upper-case
// digits; nothing is ever stored outside the memory.
//
// A record that is malformed refuses the whole load: the buffer is left
// cleared (FF everywhere) and the result names the line and the fault.
#pragma once

#include "CodeBuffer.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qvx {

// The memory a file is loaded into: the 64 KB code memory, or the 2 KB data
// EEPROM of the AT89S8252 and AT89S8253. Both live in a CodeBuffer; the
// data memory uses its first 2 KB, the rest stays FF.
struct MemoryArea {
    int32_t Size;     // bytes, from address 0
    const char* Name; // as messages name it: "code memory", "data memory"
};
inline constexpr MemoryArea kCodeMemory{kBufferSize, "code memory"};
inline constexpr MemoryArea kDataMemory{2048, "data memory"};

// "the 64 KB code memory".
std::string MemoryText(const MemoryArea& area);

enum class HexStatus {
    Loaded,     // every record was good
    CannotOpen, // the file could not be read; Error holds the system's text
    Invalid,    // a record was malformed; Line and Error say where and what
};

struct HexResult {
    HexStatus Status = HexStatus::Loaded;
    // One past the highest address that a data record covers (also an
    // end-of-file record's own address when it is higher); 0 for a file
    // without data. Only meaningful when loaded.
    int32_t EndAddress = 0;
    int Line = 0;      // 1-based line of the faulty record
    std::string Error; // what is wrong, in words

    bool Ok() const { return Status == HexStatus::Loaded; }
};

// Clears the buffer and loads the records of `text` into it, for `area`. On
// a malformed record, or data beyond the area, the buffer is cleared again.
HexResult LoadHexText(std::string_view text, CodeBuffer& buffer, const MemoryArea& area = kCodeMemory);

// Clears the buffer, then reads the file at `path` and loads it as above.
HexResult LoadHexFromFile(const std::string& path, CodeBuffer& buffer, const MemoryArea& area = kCodeMemory);

} // namespace qvx
