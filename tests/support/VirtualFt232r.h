// A virtual FT232R in synchronous bit-bang mode with a simulated AT89S chip
// on its pins, behind the same seam as libftdi1, for tests and benchmarks.
//
// Each byte written drives the output pins for one byte period of the
// bit-bang rate; one sample of all eight pins per byte comes back, taken
// before that byte's outputs are applied. The chip's buffers are modelled:
// 128 bytes from the host, 256 samples to it; a write that would leave more
// bytes unread than both hold never ends on a real chip, and here fails. A
// stream, whose samples are read while it is written, never fills them.
// Time is the chip's virtual clock: a transfer (write and read) or a stream
// costs the USB round trip plus one byte period per byte (the bus is taken
// to keep up with the bit-bang rate); with `realtime` the two clocks are
// kept in step both ways: the wall clock waits for the virtual one, so a
// benchmark feels the round trips, and the time the host spends between
// transfers passes on the virtual one, the pins held.
#pragma once

#include "FtdiPort.h"
#include "Chip.h"

#include <deque>

namespace qvx {

struct VirtualFt232rOptions {
    bool present = true;         // false: no FT232R on the bus
    bool denied = false;         // present, but its device file is not ours
    bool busy = false;           // present, but claimed by another program
    std::string serial = "QVX00001";
    FtdiPins wiring;             // how the cable's wires meet the chip
    bool senseWired = false;     // a sense line on wiring.sense: the target's RST level
    bool targetPowered = true;   // false: the chip sees nothing, MISO floats high, sense reads 0
    int64_t roundTripNs = 1'000'000;
    bool realtime = false;
    int64_t loseAfterBytes = -1; // the cable is unplugged after this many bytes
};

class VirtualFt232r : public FtdiSystem {
public:
    static constexpr size_t kHostBuffer = 128, kSampleBuffer = 256;

    VirtualFt232r(const sim::Device& device, sim::ChipOptions chip, VirtualFt232rOptions options);

    Result Open(const std::string& serial, std::string& name) override;
    Result StartBitBang(uint8_t outputs, uint8_t levels, uint32_t rate) override;
    Result Write(const uint8_t* data, size_t n) override;
    Result Read(uint8_t* data, size_t n) override;
    Result Stream(const uint8_t* data, uint8_t* samples, size_t n) override;
    void Close() override { open_ = false; }
    std::chrono::nanoseconds Now() override { return std::chrono::nanoseconds(chip_.NowNs()); }
    void SleepUntil(std::chrono::nanoseconds deadline) override;

    sim::Chip& Chip() { return chip_; }
    bool IsOpen() const { return open_; }
    // What the host did: transfers and streams, the largest synchronous
    // write, writes that overran the buffers.
    uint64_t Transfers() const { return transfers_; }
    uint64_t Streams() const { return streams_; }
    size_t LargestWrite() const { return largest_; }
    uint64_t Overruns() const { return overruns_; }
    // The pins as last driven.
    uint8_t Pins() const { return pins_; }

private:
    uint8_t Sample() const;
    // Puts `n` bytes on the pins at the bit-bang rate, with the sample taken
    // before each into `samples` (or the chip's buffer when null).
    Result Clock(const uint8_t* data, uint8_t* samples, size_t n);
    void Advance(int64_t ns);
    void KeepUpWithWallClock();

    sim::Chip chip_;
    VirtualFt232rOptions options_;
    bool open_ = false, started_ = false, lost_ = false;
    uint8_t outputs_ = 0, pins_ = 0;
    int64_t byteNs_ = 1000;
    std::deque<uint8_t> samples_; // samples not yet read by the host
    uint64_t transfers_ = 0, streams_ = 0, written_ = 0, overruns_ = 0;
    size_t largest_ = 0;
    std::chrono::steady_clock::time_point wallStart_;
    int64_t virtualStart_ = 0;
};

} // namespace qvx
