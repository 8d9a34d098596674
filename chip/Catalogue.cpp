#include "Catalogue.h"

namespace qvx {

namespace {
using E = EnableJudgement;
using I = InstructionSet;
using L = LockWriteKind;
using R = ReadBackKind;

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000 * kUs;

// AT89S51/52: tSHSL and tSLSH at least 8 tCLCL; SCK low for 64 clocks after
// RST rises; byte write cycle tSWC = 64 tCLCL + 400 us. No lock write time is
// given: the byte write at the slowest crystal (3 MHz) stays below 0.5 ms.
constexpr ChipTiming kS5x{8, 8, 64, 64, 400 * kUs, 500 * kUs};
// AT89S8252: SCK below a fortieth of the crystal with each phase at least
// 24 tCLCL; write cycle below 2.5 ms, ended by data polling. The AT89S53
// datasheet gives no phase times: it is clocked like its sibling.
constexpr ChipTiming kS825x{24, 24, 0, 0, 0, 2500 * kUs};
// AT89S8253: SCK below a sixteenth of the crystal, phases at least 8 tCLCL;
// SCK low for 64 clocks after RST rises; the longest internally timed write
// (lock and fuse bits) 8 ms. The AT89S2051/4051 are taken to be the same.
constexpr ChipTiming kS8253{8, 8, 64, 0, 0, 8 * kMs};

// AT89S51/52: page read 30h AH, then 256 bytes. Their page write (50h) is
// not used: the datasheets give it no write cycle of its own, the array
// being "programmed one byte at a time in either Byte or Page mode", so it
// would save only the instruction bytes while leaving the write cycles
// unknown; byte writes with their specified cycle program as fast.
constexpr PageFacts kS5xPages{256, 0, 2, false, 0};
// AT89S8253: page read 30h and page write 50h of 64 bytes, one write cycle
// of at most 4.5 ms (tSWC) for the page. Its datasheet's prose gives a
// two-byte header, its instruction table three bytes (AH, then A7 A6 and six
// zeros): the table's form is sent and checked. The AT89S2051/4051's page
// mode rests on firmware alone: not used.
constexpr PageFacts kS8253Pages{64, 64, 3, true, 4500 * kUs};
// The AT89S8253 datasheet draws its serial interface in SPI mode 1 (MISO
// valid after the rising edge, MOSI taken at the falling one); nothing
// documents the AT89S2051/4051, whose only evidence, firmware that programs
// them, clocks them the same way.
constexpr int kMode1 = 1;

// The 2 KB data EEPROM. AT89S8252: 00 A10 A9 A8 1 0 1 (read) or 1 1 0
// (write), the low address, the data; the byte erases itself as it is
// written, the write cycle, like the code's, below 2.5 ms, ended by data
// polling. AT89S8253: A0h (read) or C0h (write), AH, AL, the data, in byte
// mode (its page mode is not used). Unverified for the AT89S8253: that a
// data byte erases itself when written, and that its write cycle and data
// polling are those of its code bytes (below 4 ms); only the instructions
// are known.
constexpr DataMemoryFacts kS8252Data{2048, 2500 * kUs};
constexpr DataMemoryFacts kS8253Data{2048, 4 * kMs};

// Signatures. AT89S51/52: 28h with AH 00, 01, 02 and AL 00 reads 1E 51 06 /
// 1E 52 06; not readable in lock modes 3 and 4. AT89S8253: AL 30h and 31h
// read 1E 73. AT89S2051/4051: AL 00 to 02 read 1E 23 FF / 1E 43 FF as ISP
// firmware has it; no datasheet confirms it: unverified.
constexpr SignatureFacts kS51Sig{3, {0x1E, 0x51, 0x06}, {0x0000, 0x0100, 0x0200}, true, true};
constexpr SignatureFacts kS52Sig{3, {0x1E, 0x52, 0x06}, {0x0000, 0x0100, 0x0200}, true, true};
constexpr SignatureFacts kS8253Sig{2, {0x1E, 0x73}, {0x0030, 0x0031}, true, false};
constexpr SignatureFacts kS2051Sig{3, {0x1E, 0x23, 0xFF}, {0x0000, 0x0001, 0x0002}, false, false};
constexpr SignatureFacts kS4051Sig{3, {0x1E, 0x43, 0xFF}, {0x0000, 0x0001, 0x0002}, false, false};

constexpr Device kDevices[] = {
    //  code  name          last    set          enable              lock write   read-back           fuse   timing  pages  data  spi  signature
    {0, "AT89S51", 0x0FFF, I::FourByte, E::AnswerCompared, L::Stepwise, R::LockBits, false, kS5x, kS5xPages, {}, 0, kS51Sig},
    {1, "AT89S52", 0x1FFF, I::FourByte, E::AnswerCompared, L::Stepwise, R::LockBits, false, kS5x, kS5xPages, {}, 0, kS52Sig},
    {2, "AT89S53", 0x2FFF, I::ThreeByte, E::AnswerIgnored, L::ThreeByte, R::None, false, kS825x, {}, {}, 0, {}},
    {3, "AT89S8252", 0x1FFF, I::ThreeByte, E::AnswerIgnored, L::ThreeByte, R::None, false, kS825x, {}, kS8252Data, 0, {}},
    {4, "AT89S8253", 0x2FFF, I::FourByte, E::AnswerIgnored, L::FourByte, R::LockBitsAndFuse, true, kS8253, kS8253Pages, kS8253Data, kMode1, kS8253Sig},
    {5, "AT89S2051", 0x07FF, I::FourByte, E::AnswerIgnored, L::FourByte, R::LockBitsAndFuse, true, kS8253, {}, {}, kMode1, kS2051Sig},
    {6, "AT89S4051", 0x0FFF, I::FourByte, E::AnswerIgnored, L::FourByte, R::LockBitsAndFuse, true, kS8253, {}, {}, kMode1, kS4051Sig},
};
} // namespace

std::span<const Device> Devices() { return kDevices; }

const Device* FindDevice(int32_t deviceCode)
{
    if (deviceCode < 0 || deviceCode >= static_cast<int32_t>(std::size(kDevices)))
        return nullptr;
    return &kDevices[deviceCode];
}

int32_t DeviceCodeByName(std::string_view name)
{
    for (const Device& device : kDevices)
        if (device.Name == name)
            return device.Code;
    return -1;
}

} // namespace qvx
