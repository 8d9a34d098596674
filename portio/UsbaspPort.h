// A USBasp (USB ID 16C0:05DC, manufacturer "www.fischl.de", product
// "USBasp"), through libusb-1.0. Every request is a vendor control transfer
// from the device whose request number is the firmware's function: SETISPSCK
// (10) sets the SCK code, CONNECT (1) takes the lines, ENABLEPROG (5) resets
// the chip and sends the programming enable (one byte back, 0 when the chip
// answered), TRANSMIT (3) clocks four bytes from wValue and wIndex and
// returns the four bytes the chip sent meanwhile, DISCONNECT (2) lets go.
//
// The original firmware drives RST active low and cannot program AT89S
// chips; firmware 1.11 and later (device release 0111) tries the AT89S
// enable (RST high, AC 53 00 00 answered 69h) inside ENABLEPROG itself. Its
// block requests build AVR instructions: every chip instruction here is one
// TRANSMIT. The SCK code is set before each CONNECT to the fastest clock the
// chip takes at its crystal (at 12 MHz 750 kHz read right and 1.5 MHz did
// not).
#pragma once

#include "InstructionCable.h"

namespace qvx {

// The longest serial number the usbasp option takes.
inline constexpr size_t kUsbaspMaxSerial = 64;
// The first firmware that programs AT89S chips.
inline constexpr uint16_t kUsbaspAt89Release = 0x0111;

struct UsbaspSettings {
    std::string serial; // empty: the first USBasp found
};

// What libusb-1.0 does for the backend, behind a seam so tests can put a
// virtual USBasp there; MakeLibUsbSystem drives a real one.
class UsbaspSystem {
public:
    enum class Status { Ok, NotFound, Denied, Failed, Lost };
    struct Result {
        Status status = Status::Ok;
        std::string detail; // the library's or system's words
        bool ok() const { return status == Status::Ok; }
    };
    virtual ~UsbaspSystem() = default;
    // Opens the USBasp with that serial number, or the first one when
    // `serial` is empty; `name` tells which, `release` is its bcdDevice.
    virtual Result Open(const std::string& serial, std::string& name, uint16_t& release) = 0;
    // A vendor request answered by the device: `got` bytes, at most `length`.
    virtual Result Request(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, size_t length,
                           size_t& got) = 0;
    virtual void Close() = 0;
    virtual std::chrono::nanoseconds Now() { return SteadyNow(); }
    virtual void SleepUntil(std::chrono::nanoseconds deadline) { WaitOnSteadyClock(deadline); }
};

std::unique_ptr<UsbaspSystem> MakeLibUsbSystem();

namespace usbasp {
inline constexpr uint8_t Connect = 1, Disconnect = 2, Transmit = 3, EnableProg = 5, SetIspSck = 10;
// The SCK codes from 93.75 kHz to 1.5 MHz, each twice the one before.
inline constexpr uint8_t SlowestSck = 8, FastestSck = 12;
inline constexpr int64_t SlowestPhaseNs = 5334; // 93.75 kHz
} // namespace usbasp

// Reads the text after "usbasp:" (may be empty): serial=SERIAL.
bool ParseUsbaspOptions(std::string_view options, UsbaspSettings& settings, std::string& error);

class UsbaspPort : public InstructionCable {
public:
    UsbaspPort(UsbaspSettings settings, std::unique_ptr<UsbaspSystem> system);
    ~UsbaspPort() override;

    std::string DriverDiagnosis() override;
    int InstructionsPerExchange(const SerialClock&, size_t, int64_t) const override { return 64; }
    std::chrono::nanoseconds Now() override { return sys_->Now(); }
    void WaitUntil(std::chrono::nanoseconds deadline) override { sys_->SleepUntil(deadline); }

    // The SCK code (8 to 12) last set.
    uint8_t SckCode() const { return sck_; }

protected:
    std::string CableName() const override { return "USBasp"; }
    bool Ready() override;
    bool EnterProgramming(const SerialClock& clock, std::span<const uint8_t> enable,
                          std::span<uint8_t> answer) override;
    bool LeaveProgramming() override;
    bool Transmit(std::span<const uint8_t> out, std::span<uint8_t> in,
                  std::span<const ExchangePause> pauses) override;
    int64_t SlowestSckPhaseNs() const override { return usbasp::SlowestPhaseNs; }
    std::string SckText() const override { return "clocks SCK at 93.75 kHz at the slowest"; }

private:
    // One request with `length` bytes back; false (the cable failed) for an
    // error or a shorter answer.
    bool Ask(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, size_t length, const char* what);

    UsbaspSettings settings_;
    std::unique_ptr<UsbaspSystem> sys_;
    enum class State { Closed, Open, Unusable } state_ = State::Closed;
    UsbaspSystem::Result opened_;
    std::string name_ = "USBasp";
    uint16_t release_ = 0;
    uint8_t sck_ = 0;
};

} // namespace qvx
