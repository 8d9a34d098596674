#include "Device.h"

#include <array>
#include <cctype>

namespace qvx::sim {

namespace {

constexpr int64_t kUs = 1000;
constexpr int64_t kMs = 1000 * kUs;

// AT89S51/52: byte write 64 clocks + 400 us, chip erase 500 ms; SCK high and
// low at least 8 clocks each.
constexpr SckLimits kS5xSck{8, 8, 0};
// AT89S8252/53: write cycle below 2.5 ms; SCK below a fortieth of the crystal.
constexpr SckLimits kS825xSck{0, 0, 40};
// AT89S8253, AT89S2051/4051: SCK at most a sixteenth of the crystal.
constexpr SckLimits kSixteenthSck{8, 8, 0};

// AT89S51/52: page read 30h AH, then 256 bytes. Their datasheets list a page
// write too but give it no write cycle of its own ("programmed one byte at a
// time in either Byte or Page mode"): not modelled.
constexpr PageMode kS5xPage{256, 0, 2, 0};
// AT89S8253: page read 30h and page write 50h, AH, A7 A6 0 0 0 0 0 0 (the
// form of the datasheet's instruction table), then 64 bytes; a page write
// cycle (tSWC) of at most 4.5 ms. The AT89S2051/4051's page mode rests on
// firmware alone: not modelled.
constexpr PageMode kS8253Page{64, 64, 3, 4500 * kUs};

// Signatures: the AT89S51/52 at 000H, 100H, 200H (28h, A1 A0 in byte 2,
// byte 3 zero), hidden in lock modes 3 and 4; the AT89S8253 at 30H and 31H
// (byte 3); the AT89S2051/4051 at 00H to 02H of byte 3 as ISP firmware reads
// them (no datasheet at hand).
constexpr Signature kS51Signature{0x03FF, {{0x000, 0x1E}, {0x100, 0x51}, {0x200, 0x06}}, 3, true};
constexpr Signature kS52Signature{0x03FF, {{0x000, 0x1E}, {0x100, 0x52}, {0x200, 0x06}}, 3, true};
constexpr Signature kS8253Signature{0x00FF, {{0x030, 0x1E}, {0x031, 0x73}}, 2, false};
constexpr Signature kS2051Signature{0x00FF, {{0x000, 0x1E}, {0x001, 0x23}, {0x002, 0xFF}}, 3, false};
constexpr Signature kS4051Signature{0x00FF, {{0x000, 0x1E}, {0x001, 0x43}, {0x002, 0xFF}}, 3, false};

constexpr std::array<Device, 7> kDevices{{
    // name        code    mask    set                         locks                     fuse   data  clk  write       erase       sck            page        signature
    {"AT89S51",    4096,  0x0FFF, InstructionSet::FourByte,  LockScheme::ModeSteps,     false, 0,    64, 400 * kUs,  500 * kMs,  kS5xSck,       kS5xPage,   kS51Signature},
    {"AT89S52",    8192,  0x1FFF, InstructionSet::FourByte,  LockScheme::ModeSteps,     false, 0,    64, 400 * kUs,  500 * kMs,  kS5xSck,       kS5xPage,   kS52Signature},
    {"AT89S53",    12288, 0x3FFF, InstructionSet::ThreeByte, LockScheme::ThreeByteWrite, false, 0,    0,  2500 * kUs, 16 * kMs,   kS825xSck,     {},         {}},
    {"AT89S8252",  8192,  0x1FFF, InstructionSet::ThreeByte, LockScheme::ThreeByteWrite, false, 2048, 0,  2500 * kUs, 16 * kMs,   kS825xSck,     {},         {}},
    {"AT89S8253",  12288, 0x3FFF, InstructionSet::FourByte,  LockScheme::FourByteWrite, true,  2048, 0,  4 * kMs,    8 * kMs,    kSixteenthSck, kS8253Page, kS8253Signature},
    {"AT89S2051",  2048,  0x07FF, InstructionSet::FourByte,  LockScheme::FourByteWrite, true,  0,    0,  4 * kMs,    8 * kMs,    kSixteenthSck, {},         kS2051Signature},
    {"AT89S4051",  4096,  0x0FFF, InstructionSet::FourByte,  LockScheme::FourByteWrite, true,  0,    0,  4 * kMs,    8 * kMs,    kSixteenthSck, {},         kS4051Signature},
}};

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

} // namespace

std::span<const Device> Devices()
{
    return kDevices;
}

const Device* FindDevice(std::string_view name)
{
    for (const Device& d : kDevices)
        if (SameName(d.name, name))
            return &d;
    return nullptr;
}

int64_t WriteCycleNs(const Device& device, uint32_t xtalHz)
{
    const int64_t clocks = xtalHz ? (int64_t(device.writeClocks) * 1'000'000'000 + xtalHz - 1) / xtalHz : 0;
    return device.writeNs + clocks;
}

} // namespace qvx::sim
