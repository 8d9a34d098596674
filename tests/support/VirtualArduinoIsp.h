// An Arduino running the ArduinoISP sketch on a pseudo-terminal (Path(), as
// the program would open /dev/ttyACM0), with a simulated AT89S chip on its
// pins 10 to 13: a thread answers command for command as the sketch's
// avrisp() does. On the chip's virtual clock each byte takes ten bits at
// `baud`, each SPI bit 2 x 4 us, start_pmode 20 ms and 50 ms, and the host's
// time between bytes passes too; `realtime` holds each reply to the wall
// clock. A board that resets on open ignores the line for `bootNs` (its
// bootloader), then 360 ms (setup). What arrives during start_pmode beyond
// the sketch's 64-byte receive buffer is lost (Overruns).
#pragma once

#include "Chip.h"

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace qvx {

// The pins of a simulated chip driven by a cable's firmware on its virtual
// clock: one byte in SPI mode 0, MISO taken at the end of each high phase.
class VirtualSpiHeader {
public:
    VirtualSpiHeader(const sim::Device& device, sim::ChipOptions chip)
        : chip_(device, [&] { return chip.timing = sim::Timing::Virtual, chip; }())
    {
    }
    sim::Chip& Chip() { return chip_; }

protected:
    void Advance(int64_t ns)
    {
        if (ns > 0)
            chip_.AdvanceTime(std::chrono::nanoseconds(ns));
    }
    void Pins(bool rst, bool sck, bool mosi) { chip_.SetPins(rst_ = rst, sck, mosi); }
    uint8_t Spi(uint8_t out, int64_t halfNs)
    {
        uint8_t in = 0;
        for (int b = 7; b >= 0; --b) {
            Pins(rst_, false, (out >> b) & 1), Advance(halfNs);
            Pins(rst_, true, (out >> b) & 1), Advance(halfNs);
            in = uint8_t(in << 1 | (chip_.Miso() ? 1 : 0));
        }
        Pins(rst_, false, out & 1);
        return in;
    }
    // Four bytes out; the last one's answer.
    uint8_t Spi4(const uint8_t (&b)[4], int64_t halfNs)
    {
        Spi(b[0], halfNs), Spi(b[1], halfNs), Spi(b[2], halfNs);
        return Spi(b[3], halfNs);
    }

    sim::Chip chip_;
    bool rst_ = false;
};

struct VirtualArduinoOptions {
    uint32_t baud = 19200;
    bool resetOnOpen = false;
    int64_t bootNs = 1'000'000'000;
    bool realtime = false;
    // What goes wrong, after `faultAfter` universal commands answered: the
    // board answers nothing (no sketch, the wrong port), answers noise (the
    // wrong baud rate), stops answering, is unplugged, or answers 15h.
    enum class Fault { None, Silent, Noise, Stall, Lose, Garble } fault = Fault::None;
    uint64_t faultAfter = 0;
};

class VirtualArduinoIsp : public VirtualSpiHeader {
public:
    VirtualArduinoIsp(const sim::Device& device, sim::ChipOptions chip, VirtualArduinoOptions options = {})
        : VirtualSpiHeader(device, chip), options_(options)
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ::grantpt(master_), ::unlockpt(master_);
        path_ = ::ptsname(master_);
        thread_ = std::thread([this] { Run(); });
    }
    ~VirtualArduinoIsp()
    {
        stop_ = true;
        thread_.join();
        if (master_ >= 0)
            ::close(master_);
    }

    const std::string& Path() const { return path_; }
    uint64_t BytesIn() const { return bytesIn_; }
    uint64_t Universals() const { return universals_; }
    uint64_t Overruns() const { return overruns_; }

private:
    struct Stop {};
    static constexpr uint8_t kInSync = 0x14, kOk = 0x10, kNoSync = 0x15, kUnknown = 0x12, kEop = 0x20;

    int64_t WallNs() const { return (std::chrono::steady_clock::now() - start_) / std::chrono::nanoseconds(1); }
    // With `realtime`, a reply leaves no sooner than the chip's clock says.
    void CatchUp()
    {
        if (options_.realtime && chip_.NowNs() > WallNs())
            std::this_thread::sleep_for(std::chrono::nanoseconds(chip_.NowNs() - WallNs()));
    }
    // Reads what the host has written into the queue; false when nothing came.
    bool Fill(int timeoutMs)
    {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) {
            if (p.revents & POLLHUP) // no program has the port open
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            return false;
        }
        uint8_t bytes[256];
        const ssize_t n = ::read(master_, bytes, sizeof bytes);
        for (ssize_t i = 0; i < n; ++i)
            rx_.push_back(bytes[i]);
        return n > 0;
    }
    // The sketch's getch(): the next byte, its time on the line passed.
    uint8_t Getch()
    {
        while (rx_.empty() && !stop_)
            Fill(20);
        if (stop_ && rx_.empty())
            throw Stop{};
        const int64_t wall = WallNs(), byteNs = 10'000'000'000 / options_.baud;
        // The byte's time on the line, and the time the host let pass (on
        // the wall clock itself with `realtime`).
        Advance(options_.realtime ? std::max(byteNs, wall - chip_.NowNs()) : std::max(byteNs, wall - lastWall_));
        lastWall_ = wall;
        const uint8_t byte = rx_.front();
        rx_.pop_front();
        ++bytesIn_;
        // The wrong baud rate: other bytes.
        return options_.fault == VirtualArduinoOptions::Fault::Noise ? uint8_t(byte ^ 0x5A) : byte;
    }
    void Print(std::initializer_list<uint8_t> bytes)
    {
        using F = VirtualArduinoOptions::Fault;
        const bool faulty = universals_ > options_.faultAfter || options_.fault == F::Silent;
        if (faulty && (options_.fault == F::Silent || options_.fault == F::Stall))
            return;
        if (faulty && options_.fault == F::Lose) {
            ::close(master_);
            master_ = -1;
            throw Stop{};
        }
        CatchUp();
        for (uint8_t b : bytes) {
            const uint8_t sent = options_.fault == F::Noise                          ? uint8_t(b ^ 0xA5)
                                 : faulty && options_.fault == F::Garble && b == kInSync ? kNoSync
                                                                                     : b;
            (void)!::write(master_, &sent, 1);
        }
    }
    void Reply(std::initializer_list<uint8_t> bytes) { Getch() == kEop ? Print(bytes) : Print({kNoSync}); }
    void EmptyReply() { Reply({kInSync, kOk}); }
    // The sketch's start_pmode: RST to reset, 20 ms, a 100 us pulse, 50 ms,
    // its own enable. It reads nothing meanwhile.
    void StartPmode()
    {
        const uint64_t before = rx_.size();
        Pins(activeHigh_, false, false), Advance(20'000'000);
        Pins(!activeHigh_, false, false), Advance(100'000);
        Pins(activeHigh_, false, false), Advance(50'000'000);
        Spi4({0xAC, 0x53, 0x00, 0x00}, 4000);
        while (Fill(0))
            continue;
        if (rx_.size() > before && rx_.size() > 64) { // what came meanwhile, beyond the buffer
            overruns_ += rx_.size() - 64;
            rx_.resize(64);
        }
        pmode_ = true;
    }
    void Avrisp()
    {
        uint8_t buff[20];
        const auto fill = [&](int n) {
            for (int i = 0; i < n; ++i)
                buff[i] = Getch();
        };
        switch (Getch()) {
        case '0': EmptyReply(); break;
        case 'A': {
            const uint8_t c = Getch();
            Reply({kInSync, uint8_t(c == 0x80 ? 2 : c == 0x81 ? 1 : c == 0x82 ? 18 : c == 0x93 ? 'S' : 0), kOk});
            break;
        }
        case 'B': fill(20), activeHigh_ = buff[0] >= 0xE0, EmptyReply(); break;
        case 'E': fill(5), EmptyReply(); break; // extended parameters: ignored
        case 'P': pmode_ ? void() : StartPmode(), EmptyReply(); break;
        case 'U': case 0x60: fill(2), EmptyReply(); break;
        case 0x61: fill(1), EmptyReply(); break;
        case 'V': {
            fill(4);
            const uint8_t answer = Spi4({buff[0], buff[1], buff[2], buff[3]}, 4000);
            ++universals_, Reply({kInSync, answer, kOk});
            break;
        }
        // end_pmode: SCK and MOSI let go, RST out of reset and let go
        case 'Q': Pins(false, false, false), pmode_ = false, EmptyReply(); break;
        case kEop: Print({kNoSync}); break;
        default: Getch() == kEop ? Print({kUnknown}) : Print({kNoSync});
        }
    }
    void Run()
    {
        try {
            // The first byte comes as the port is opened: a board that resets
            // then is in its bootloader, then in the sketch's setup.
            while (rx_.empty() && !stop_)
                Fill(20);
            if (options_.resetOnOpen) {
                const int64_t until = WallNs() + options_.bootNs;
                while (WallNs() < until && !stop_)
                    Fill(5), rx_.clear();
                std::this_thread::sleep_for(std::chrono::milliseconds(360));
            }
            lastWall_ = WallNs();
            while (!stop_)
                Avrisp();
        } catch (const Stop&) {
        }
    }

    VirtualArduinoOptions options_;
    int master_ = -1;
    std::string path_;
    std::deque<uint8_t> rx_;
    bool pmode_ = false, activeHigh_ = false;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> bytesIn_{0}, universals_{0}, overruns_{0};
    int64_t lastWall_ = 0;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::thread thread_;
};

} // namespace qvx
