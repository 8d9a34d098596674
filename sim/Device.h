// The seven AT89S parts as the simulated chip models them: memory sizes,
// address decoding, instruction set, lock scheme, user fuse, programming
// times and serial-clock limits, taken from the parts' datasheets.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace qvx::sim {

enum class InstructionSet {
    ThreeByte, // AT89S53, AT89S8252
    FourByte,  // the others
};

enum class LockScheme {
    ThreeByteWrite, // 0xAC, LB1 LB2 LB3 x x 1 1 1, x: bits 7..5 low program LB1..LB3
    ModeSteps,      // 0xAC, 1110 00 B1 B2, x, x: one lock mode at a time, in order
    FourByteWrite,  // 0xAC, 1110 0 LB3 LB2 LB1, x, x: bits 0..2 low program LB1..LB3
};

// Minimum SCK timing the part needs to sample MOSI correctly, in periods of
// its crystal clock. Zero means no limit of that kind.
struct SckLimits {
    uint32_t minHigh = 0;       // SCK high phase
    uint32_t minLow = 0;        // SCK low phase
    uint32_t minPeriod = 0;     // rising edge to rising edge
};

// Page mode: one instruction header, then the data of a whole page. Zero
// sizes where the part has no such instruction.
struct PageMode {
    uint32_t readBytes = 0;   // page read (30h): bytes per page
    uint32_t writeBytes = 0;  // page write (50h): bytes loaded per page
    uint32_t headerBytes = 0; // the opcode, AH and, in the three-byte form, A7 A6 0 0 0 0 0 0
    int64_t writeNs = 0;      // page write cycle
};

// The signature bytes the four-byte parts answer to Read Signature Byte
// (0010 1000, then an address in the next two bytes): where each byte
// lives and what it holds. The three-byte parts have none in serial mode.
struct SignatureByte {
    uint16_t address; // (byte 2 << 8 | byte 3) of the instruction, masked
    uint8_t value;
};

struct Signature {
    uint16_t addressMask = 0; // the address bits the part decodes; 0: no signature
    SignatureByte bytes[3] = {};
    uint8_t count = 0;
    bool hiddenByLb2 = false; // not readable in lock modes 3 and 4 (LB2 programmed)
};

struct Device {
    std::string_view name;
    uint32_t codeSize;      // bytes of flash code memory
    uint32_t addressMask;   // address bits the part decodes; higher ones are ignored
    InstructionSet set;
    LockScheme locks;
    bool userFuse;          // has the user fuse byte with the x2 clock bit
    uint32_t dataSize;      // bytes of on-chip data EEPROM reachable by serial instructions
    uint32_t writeClocks;   // byte write cycle: this many crystal periods ...
    int64_t writeNs;        // ... plus this long
    int64_t eraseNs;        // chip erase cycle
    SckLimits sck;
    PageMode page;
    Signature signature;
};

// All seven parts, in the order AT89S51, AT89S52, AT89S53, AT89S8252,
// AT89S8253, AT89S2051, AT89S4051.
std::span<const Device> Devices();

// The part of that name (letter case ignored), or null.
const Device* FindDevice(std::string_view name);

// Byte write cycle of the part at the given crystal frequency.
int64_t WriteCycleNs(const Device& device, uint32_t xtalHz);

} // namespace qvx::sim
