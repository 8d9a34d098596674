// Keeps a simulated chip between runs: the code memory as a raw binary image
// exactly the part's size, and lock bits, user fuse and (AT89S8252) data
// memory in a small text file beside it, named after the image plus ".txt".
#pragma once

#include "Chip.h"

#include <string>

namespace qvx::sim {

// "chip.bin" -> "chip.bin.txt".
std::string StateTextPath(const std::string& imagePath);

// Loads what the files hold into the chip. A file that does not exist yet
// leaves that part of the chip as it is (a fresh chip: erased, unlocked).
// A file that exists but does not fit the chip is an error, described in
// `error`, and the chip is left unchanged.
bool LoadState(Chip& chip, const std::string& imagePath, std::string& error);

// Writes both files (through temporary files renamed into place).
bool SaveState(const Chip& chip, const std::string& imagePath, std::string& error);

} // namespace qvx::sim
