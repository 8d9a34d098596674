// The device catalogue: the one table of the seven supported chips. Every
// chip operation and command handler reads it through the device code
// instead of keeping device lists of its own.
#pragma once

#include "Mode.h"

#include <cstdint>
#include <span>
#include <string_view>

namespace qvx {

enum class InstructionSet {
    ThreeByte, // AT89S53, AT89S8252
    FourByte,  // the others
};

enum class LockWriteKind {
    ThreeByte, // one three-byte write: 0xAC, lock byte, 0xFF
    Stepwise,  // the lock modes raised one step at a time, each read back
    FourByte,  // one four-byte write: 0xAC, lock byte, 0xFF, 0xFF
};

enum class ReadBackKind {
    None,              // nothing after the code read
    LockBits,          // lock byte into the lock boxes, a 1 bit ticks its box
    LockBitsAndFuse,   // lock byte, a 0 bit ticks its box, then the fuse
};

// What the datasheet says about the chip's timing in serial programming.
// Counts of crystal periods (tCLCL) are turned into time at the crystal the
// user has set.
struct ChipTiming {
    uint32_t SckHighClocks;     // shortest SCK high phase
    uint32_t SckLowClocks;      // shortest SCK low phase
    uint32_t ResetSckLowClocks; // SCK held low this long after RST rises
    uint32_t WriteClocks;       // specified byte write cycle: crystal periods ...
    int64_t WriteNs;            // ... plus this long; 0 when the datasheet
                                // specifies none (polling alone then tells)
    int64_t StatusWriteNs;      // longest lock-bit or fuse write cycle
};

// The page instructions the program uses: one header, then the data of a
// whole page, instead of a three- or four-byte instruction per byte.
struct PageFacts {
    int32_t ReadBytes = 0;   // page read (30h): bytes per page; 0 when not used
    int32_t WriteBytes = 0;  // page write (50h): bytes per page; 0 when not used
    int32_t HeaderBytes = 0; // 2: opcode, AH; 3: opcode, AH, A7 A6 0 0 0 0 0 0
    // The datasheet gives the header in two forms: the program sends the
    // instruction table's, and checks the first page a command writes or
    // reads that way against byte reads.
    bool HeaderUnsure = false;
    int64_t WriteNs = 0; // the longest page write cycle
};

// The data EEPROM of the AT89S8252 and AT89S8253: 2 KB of bytes that erase
// themselves when written, reached by read and write instructions of their
// own; chip erase erases it with the code. None on the other parts.
struct DataMemoryFacts {
    int32_t Size = 0;    // bytes from address 0; 0: no data memory
    int64_t WriteNs = 0; // the longest byte write cycle
};

// The signature a four-byte part answers to Read Signature Byte (28h, AH,
// AL, then the byte comes back): what each byte holds and where it is read.
struct SignatureFacts {
    int32_t Length = 0;       // 0: no signature in serial mode (AT89S53, AT89S8252)
    uint8_t Bytes[3] = {};
    uint16_t Address[3] = {}; // AH << 8 | AL of each byte's read
    // False where the facts rest on ISP firmware alone, no datasheet at
    // hand: the AT89S2051/4051's signature, and their lock-bit and fuse
    // reads with it.
    bool Verified = true;
    bool HiddenByLocks = false; // not readable in lock modes 3 and 4
};

struct Device {
    int32_t Code;
    std::string_view Name;
    int32_t LastAddress;
    InstructionSet Set;
    EnableJudgement Enable; // how a four-byte programming enable is judged
    LockWriteKind LockWrite;
    ReadBackKind ReadBack;
    bool HasFuse; // the "x2 Clock" user fuse
    ChipTiming Timing;
    PageFacts Page;
    DataMemoryFacts Data{};
    // The SPI mode of its serial interface: 0 takes MOSI and drives MISO
    // for the rising SCK edge, 1 for the falling one. A cable whose firmware
    // clocks the bytes in one mode cannot read a chip of the other.
    int SpiMode = 0;
    SignatureFacts Signature;

    int32_t MemorySize() const { return LastAddress + 1; }
    bool HasDataMemory() const { return Data.Size > 0; }
    // The specified byte write cycle at a crystal of `hz`; 0 when none is.
    int64_t WriteCycleNs(uint32_t hz) const
    {
        return Timing.WriteNs > 0 ? CrystalClocksNs(Timing.WriteClocks, hz) + Timing.WriteNs : 0;
    }
};

// All seven, in device-code order (the order of the device list).
std::span<const Device> Devices();

// The device with that code, or null for a code outside 0 to 6 (no device
// selected).
const Device* FindDevice(int32_t deviceCode);

// The code of the device with that name, or -1.
int32_t DeviceCodeByName(std::string_view name);

// The default device at start: AT89S8252.
inline constexpr int32_t kDefaultDeviceCode = 3;

} // namespace qvx
