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
// lie above FFFF is refused. Data is stored as upper-case digits; nothing is
// ever stored outside 0000 to FFFF.
//
// A record that is malformed refuses the whole load: the buffer is left
// cleared (FF everywhere) and the result names the line and the fault.
#pragma once

#include "CodeBuffer.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qvx {

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

// Clears the buffer and loads the records of `text` into it. On a malformed
// record the buffer is cleared again.
HexResult LoadHexText(std::string_view text, CodeBuffer& buffer);

// Clears the buffer, then reads the file at `path` and loads it as above.
HexResult LoadHexFromFile(const std::string& path, CodeBuffer& buffer);

} // namespace qvx
