// Code image files: the code buffer to and from disk.
//
// A file whose name ends in ".bin" (any letter case) is a raw binary image:
// byte a of the file is the code byte at address a, at most 64 KB. Any other
// name is an Intel HEX file (HexFile.h). Written HEX files hold one data
// record per 16 bytes, from address 0 upward, and an end-of-file record.
//
// Files are written to a temporary file in the same folder that is renamed
// over the target once complete, so a failed write never leaves a
// half-written file in place of an existing one.
#pragma once

#include "CodeBuffer.h"
#include "HexFile.h"

#include <cstdint>
#include <string>

namespace qvx {

enum class ImageFormat {
    IntelHex,
    Binary,
};

// The format a file's name stands for.
ImageFormat FormatOfName(const std::string& path);

// Clears the buffer and loads the file at `path` in the format of its name.
// A binary image is stored from address 0; one larger than 64 KB is refused
// (status Invalid, line 0, Error saying how large it is) and loads nothing.
// EndAddress is one past the last byte loaded.
HexResult LoadImageFile(const std::string& path, CodeBuffer& buffer);

// The byte at an address of the buffer. A digit cell that holds no hex
// digit counts as F, as in an erased chip; so does an address outside
// 0000 to FFFF.
uint8_t BufferByte(const CodeBuffer& buffer, int32_t address);

// The first `size` bytes of the buffer (at most 64 KB) as raw binary and as
// Intel HEX text (lines ending in "\n").
std::string BinaryImage(const CodeBuffer& buffer, int32_t size);
std::string HexImageText(const CodeBuffer& buffer, int32_t size);

// Replaces the file at `path` with `bytes` through a temporary file renamed
// into place; an existing file's permission bits are kept. Returns an empty
// string on success, else the system's error text (and the target is as it
// was, the temporary file removed).
std::string ReplaceFile(const std::string& path, const std::string& bytes);

// Writes the first `size` bytes of the buffer to `path` in the format of its
// name, through ReplaceFile.
std::string WriteImageFile(const std::string& path, const CodeBuffer& buffer, int32_t size);

} // namespace qvx
