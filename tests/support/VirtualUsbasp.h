// A virtual USBasp with a simulated AT89S chip on its ISP header, behind the
// libusb-1.0 seam, answering as the firmware does: SETISPSCK takes the SCK
// code (93.75 kHz << (code - 8)), CONNECT drives RST low, ENABLEPROG tries
// the AVR enable (53h echoed, RST low) and, from release 0111 on, the AT89S
// one (RST high, 69h back), TRANSMIT clocks four bytes, DISCONNECT lets go.
// Each request costs a round trip on the chip's virtual clock; `realtime`
// keeps the wall clock in step, `followWall` adds the host's time between.
#pragma once

#include "UsbaspPort.h"
#include "VirtualArduinoIsp.h"

namespace qvx {

struct VirtualUsbaspOptions {
    bool present = true, denied = false;
    uint16_t release = kUsbaspAt89Release;
    int64_t roundTripNs = 1'000'000;
    bool realtime = false, followWall = false;
    int64_t loseAfter = -1;  // requests answered before the USBasp is unplugged
    int64_t shortAfter = -1; // requests answered before a TRANSMIT comes back short
};

class VirtualUsbasp : public UsbaspSystem, public VirtualSpiHeader {
public:
    VirtualUsbasp(const sim::Device& device, sim::ChipOptions chip, VirtualUsbaspOptions options = {})
        : VirtualSpiHeader(device, chip), options_(options)
    {
    }

    Result Open(const std::string& serial, std::string& name, uint16_t& release) override
    {
        if (!options_.present || !serial.empty())
            return {Status::NotFound, ""};
        if (options_.denied)
            return {Status::Denied, "/dev/bus/usb/001/005: Access denied (insufficient permissions)"};
        name = "USBasp";
        release = options_.release;
        wallStart_ = std::chrono::steady_clock::now();
        return {};
    }

    Result Request(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, size_t length,
                   size_t& got) override
    {
        got = 0;
        if (options_.loseAfter >= 0 && int64_t(requests_) >= options_.loseAfter)
            return {Status::Lost, "No such device (it may have been disconnected)"};
        ++requests_;
        KeepUp();
        Advance(options_.roundTripNs / 2);
        uint8_t reply[4] = {};
        size_t n = 0;
        switch (request) {
        case usbasp::SetIspSck: // half of 1 / (93.75 kHz << (code - 8)), rounded up
            sckHalfNs_ = (5'333'333 / (int64_t(1) << (std::clamp<int>(value, 8, 12) - 8)) + 999) / 1000, n = 1;
            break;
        case usbasp::Connect:
        case usbasp::Disconnect: Pins(false, false, false); break;
        case usbasp::EnableProg: reply[0] = Enable() ? 0 : 1, n = 1; break;
        case usbasp::Transmit:
            for (uint8_t b : {uint8_t(value), uint8_t(value >> 8), uint8_t(index), uint8_t(index >> 8)})
                reply[n++] = Spi(b, sckHalfNs_);
            ++transmits_;
            if (options_.shortAfter >= 0 && int64_t(requests_) > options_.shortAfter)
                n = 2;
            break;
        default: break;
        }
        Advance(options_.roundTripNs - options_.roundTripNs / 2);
        KeepUp();
        got = std::min(n, length);
        std::copy(reply, reply + got, data);
        return {};
    }

    void Close() override {}
    std::chrono::nanoseconds Now() override { return std::chrono::nanoseconds(chip_.NowNs()); }
    void SleepUntil(std::chrono::nanoseconds deadline) override { Advance(deadline.count() - chip_.NowNs()); }

    const VirtualUsbaspOptions& Options() const { return options_; }
    uint64_t Requests() const { return requests_; }
    uint64_t Transmits() const { return transmits_; }
    // The AT89S enables the firmware sent inside ENABLEPROG.
    uint64_t FirmwareEnables() const { return firmwareEnables_; }

private:
    bool Enable()
    {
        // The AVR way first (RST low, 53h echoed in the third byte).
        Spi(0xAC, sckHalfNs_), Spi(0x53, sckHalfNs_);
        const bool avr = Spi(0x00, sckHalfNs_) == 0x53;
        Spi(0x00, sckHalfNs_);
        if (avr || options_.release < kUsbaspAt89Release)
            return avr;
        Pins(true, false, false), Advance(20'000'000); // RST high, then the AT89S enable
        ++firmwareEnables_;
        return Spi4({0xAC, 0x53, 0x00, 0x00}, sckHalfNs_) == 0x69;
    }
    // The wall clock and the chip's in step (realtime), or the host's time
    // between requests on the chip's clock (followWall).
    void KeepUp()
    {
        const int64_t wall = (std::chrono::steady_clock::now() - wallStart_) / std::chrono::nanoseconds(1);
        if (options_.followWall)
            Advance(wall - lastWall_);
        lastWall_ = wall;
        if (!options_.realtime)
            return;
        Advance(wall - chip_.NowNs());
        if (chip_.NowNs() > wall)
            std::this_thread::sleep_for(std::chrono::nanoseconds(chip_.NowNs() - wall));
    }

    VirtualUsbaspOptions options_;
    int64_t sckHalfNs_ = 5334, lastWall_ = 0;
    uint64_t requests_ = 0, transmits_ = 0, firmwareEnables_ = 0;
    std::chrono::steady_clock::time_point wallStart_ = std::chrono::steady_clock::now();
};

} // namespace qvx
