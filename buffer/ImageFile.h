// Code image files: the code buffer to and from disk.
//
// A file whose name ends in ".bin" (any letter case) is a raw binary image:
// byte a of the file is the code byte at address a, at most 64 KB. Any other
// name is an Intel HEX file (HexFile.h). Written HEX files hold one data
// record per 16 bytes, from address 0 upward, and an end-of-file record.
//
// Files are written to a temporary file in the same folder that is renamed
// over the target once complete, so a failed write never leaves a
// half-written file in place of an existing one. A symbolic link is followed
// to the file it names, which is replaced and the link kept; what is no
// regular file (a terminal, a pipe, /dev/stdout) is written to directly.
//
// The name "-" stands for standard input when a file is read and for
// standard output when one is written; standard input is Intel HEX unless
// the format is given.
#pragma once

#include "CodeBuffer.h"
#include "HexFile.h"

#include <cstdint>
#include <optional>
#include <string>

namespace qvx {

enum class ImageFormat {
    IntelHex,
    Binary,
};

// The name of standard input and standard output.
inline constexpr char kStandardStream[] = "-";

// The format a file's name stands for.
ImageFormat FormatOfName(const std::string& path);

// Clears the buffer and loads the file at `path` in `format`, else in the
// format of its name, for `area`. A binary image is stored from address 0;
// one larger than the area is refused (status Invalid, line 0, Error saying
// how large it is) and loads nothing. EndAddress is one past the last byte
// loaded. Standard input ("-") is read once; a second load of it gets the
// same bytes.
HexResult LoadImageFile(const std::string& path, CodeBuffer& buffer,
                        std::optional<ImageFormat> format = std::nullopt, const MemoryArea& area = kCodeMemory);

// The byte at an address of the buffer. A digit cell that holds no hex
// digit counts as F, as in an erased chip; so does an address outside
// 0000 to FFFF.
uint8_t BufferByte(const CodeBuffer& buffer, int32_t address);

// The first `size` bytes of the buffer (at most 64 KB) as raw binary and as
// Intel HEX text (lines ending in "\n").
std::string BinaryImage(const CodeBuffer& buffer, int32_t size);
std::string HexImageText(const CodeBuffer& buffer, int32_t size);

// The highest address whose byte is not FF, or -1 when every byte is.
int32_t LastCodeAddress(const CodeBuffer& buffer);

// The checksums of the first `size` bytes of the buffer: their 16-bit sum
// and their CRC-32 (the one of zip and PNG).
struct ImageChecksum {
    uint16_t Sum = 0;
    uint32_t Crc32 = 0;
};
ImageChecksum ChecksumOf(const CodeBuffer& buffer, int32_t size);

// Writes `bytes` to the file at `path`. A regular file (or a new one) is
// replaced through a temporary file renamed into place, an existing file's
// permission bits kept; symbolic links are followed first, so the file they
// name is replaced and the links stay. A terminal, a pipe or a character
// device is written to directly, and a descriptor's own name (/dev/stdout,
// /dev/fd/N, /proc/self/fd/N) writes to that descriptor. A block device is
// refused. Returns an empty string on success, else the system's error text
// (and a replaced target is as it was, the temporary file removed).
std::string ReplaceFile(const std::string& path, const std::string& bytes);

// Writes the first `size` bytes of the buffer to `path` in `format`, else
// in the format of its name, through ReplaceFile; "-" is standard output.
std::string WriteImageFile(const std::string& path, const CodeBuffer& buffer, int32_t size,
                           std::optional<ImageFormat> format = std::nullopt);

} // namespace qvx
