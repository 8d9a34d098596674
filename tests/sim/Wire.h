// A tiny bit-banger for the chip tests: drives RST, MOSI and SCK on a cable's
// data register and samples MISO, one port call per edge, so the tests talk
// to the simulated chip only through the four port functions.
#pragma once

#include "PortAccess.h"

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace qvx::test {

class Wire {
public:
    explicit Wire(PortAccess& port, uint16_t dataPort = kLpt1Data)
        : port_(port), data_(dataPort), status_(static_cast<uint16_t>(dataPort + 1))
    {
    }

    void Rst(bool high) { high ? port_.SetPortBit(data_, 4) : port_.ClrPortBit(data_, 4); }
    bool Sense() { return port_.GetPortBit(status_, 4); }
    bool Miso() { return port_.GetPortBit(status_, 6); }

    // Lets time pass on a per-access clock: `accesses` status reads.
    void Idle(int accesses)
    {
        for (int i = 0; i < accesses; ++i)
            port_.GetPortBit(status_, 4);
    }

    // RST low, then high, then a pause before the first clock: a new frame.
    void ResetPulse()
    {
        Rst(false);
        Rst(true);
        Idle(100);
    }

    // Clocks out `count` bits of `value`, most significant first, and
    // returns what MISO read during the high phase of each clock.
    uint8_t Bits(uint8_t value, int count = 8)
    {
        uint8_t in = 0;
        for (int i = 7; i > 7 - count; --i) {
            (value >> i) & 1 ? port_.SetPortBit(data_, 5) : port_.ClrPortBit(data_, 5);
            port_.SetPortBit(data_, 6);
            in = static_cast<uint8_t>((in << 1) | (port_.GetPortBit(status_, 6) ? 1 : 0));
            port_.ClrPortBit(data_, 6);
        }
        return in;
    }

    std::vector<uint8_t> Send(std::initializer_list<uint8_t> bytes) { return Send(std::vector<uint8_t>(bytes)); }
    std::vector<uint8_t> Send(const std::vector<uint8_t>& bytes)
    {
        std::vector<uint8_t> answers;
        for (uint8_t b : bytes)
            answers.push_back(Bits(b));
        return answers;
    }
    // A page instruction: `header`, then `data` (fillers for a read); the
    // bytes answered during the data.
    std::vector<uint8_t> Page(std::vector<uint8_t> header, const std::vector<uint8_t>& data)
    {
        const size_t at = header.size();
        header.insert(header.end(), data.begin(), data.end());
        const std::vector<uint8_t> answers = Send(header);
        return {answers.begin() + long(at), answers.end()};
    }

    // Four-byte instruction set.
    uint8_t Enable4() { return Send({0xAC, 0x53, 0x55, 0x55})[3]; }
    void Erase4() { Send({0xAC, 0x80, 0x00, 0x00}); }
    uint8_t Read4(uint16_t address)
    {
        return Send({0x20, uint8_t(address >> 8 & 0x3F), uint8_t(address & 0xFF), 0x00})[3];
    }
    void Write4(uint16_t address, uint8_t data)
    {
        Send({0x40, uint8_t(address >> 8 & 0x3F), uint8_t(address & 0xFF), data});
    }
    uint8_t ReadLocks4() { return Send({0x24, 0x55, 0x55, 0xFF})[3]; }
    uint8_t ReadFuse4() { return Send({0x21, 0x55, 0x55, 0xFF})[3]; }

    // Three-byte instruction set: A12 A11 A10 A9 A8 A13 r w, A7..A0, data.
    static uint8_t High3(uint16_t address, uint8_t op)
    {
        return static_cast<uint8_t>((address >> 8 & 0x1F) << 3 | (address >> 13 & 1) << 2 | op);
    }
    void Enable3() { Send({0xAC, 0x53, 0x55}); }
    void Erase3() { Send({0xAC, 0x04, 0x00}); }
    uint8_t Read3(uint16_t address) { return Send({High3(address, 0x01), uint8_t(address & 0xFF), 0x00})[2]; }
    void Write3(uint16_t address, uint8_t data) { Send({High3(address, 0x02), uint8_t(address & 0xFF), data}); }

private:
    PortAccess& port_;
    uint16_t data_, status_;
};

} // namespace qvx::test
