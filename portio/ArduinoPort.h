// An Arduino running the ArduinoISP example sketch of the Arduino IDE, on a
// serial port. The sketch speaks STK500 version 1 (19200 baud unless its
// BAUDRATE was changed) and drives the target from pins 10 (RST), 11
// (MOSI), 12 (MISO) and 13 (SCK) with SPI mode 0 at 125 kHz. Given a device
// code of E0h or more in its device parameters it drives RST active high,
// as the AT89S51 (E0h) and AT89S52 (E1h) need; on entering programming
// mode it pulses RST and sends a programming enable of its own, whose answer
// it keeps. Every chip instruction then goes as a universal command (56h,
// four bytes, 20h), answered 14h, the chip's byte during the fourth, 10h.
// Its page and signature commands build AVR instructions and are not used.
//
// Opening the port resets an Arduino whose reset is not held by a capacitor;
// its bootloader then ignores the line for a second or so, so the first
// sync is tried again for 2.5 s. Universal commands are sent ahead of their
// answers (the sketch reads a byte stream), at most as many bytes as the
// sketch's 64-byte receive buffer holds, so that a full chip is paced by
// the serial line rather than by a round trip per instruction.
#pragma once

#include "InstructionCable.h"
#include "SerialLine.h"
#include "Stk500.h"

namespace qvx {

inline constexpr uint32_t kArduinoDefaultBaud = 19200;

struct ArduinoSettings {
    std::string path;                  // the serial port: /dev/ttyACM0
    uint32_t baud = kArduinoDefaultBaud;
};

// Reads the text after "arduino:": PATH[,baud=N]. False with `error` for an
// option it does not accept.
bool ParseArduinoOptions(std::string_view options, ArduinoSettings& settings, std::string& error);

class ArduinoPort : public InstructionCable {
public:
    // The sketch's SPI clock (the SPI library's 125 kHz for its 1 MHz / 6 on
    // a 16 MHz board), its serial receive buffer, and how long the first
    // sync is tried.
    static constexpr int64_t kSckPhaseNs = 4000;
    static constexpr size_t kReceiveBuffer = 64;
    static constexpr int64_t kSyncNs = 2'500'000'000;

    explicit ArduinoPort(ArduinoSettings settings);
    // The port is closed with the sketch as it is: in programming mode (the
    // target held in reset) only when the program left it there.
    ~ArduinoPort() override;

    std::string DriverDiagnosis() override;
    int InstructionsPerExchange(const SerialClock&, size_t, int64_t) const override { return 512; }
    // "Q " to the sketch: it lets the target run.
    void SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept override;

    // The sketch's version, as its parameters 81h and 82h give it ("1.18").
    const std::string& SketchVersion() const { return version_; }

protected:
    std::string CableName() const override { return "Arduino as ISP"; }
    bool Ready() override;
    bool EnterProgramming(const SerialClock& clock, std::span<const uint8_t> enable,
                          std::span<uint8_t> answer) override;
    bool LeaveProgramming() override;
    bool Transmit(std::span<const uint8_t> out, std::span<uint8_t> in,
                  std::span<const ExchangePause> pauses) override;
    int64_t SlowestSckPhaseNs() const override { return kSckPhaseNs; }
    std::string SckText() const override { return "clocks SCK at 125 kHz"; }

private:
    enum class Problem { None, Line, NoAnswer, WrongAnswer };
    // Nanoseconds the serial line takes for `bytes` bytes (ten bits each).
    int64_t LineNs(size_t bytes) const { return int64_t(bytes) * 10'000'000'000 / settings_.baud; }
    bool Sync();
    // Sends `bytes` and reads the replies `replies` expects, waiting at most
    // `extraNs` beyond what the line takes; false when the cable failed.
    bool Exchange(std::span<const uint8_t> bytes, Stk500Replies& replies, int64_t extraNs);
    // Reads what has come into `replies` (at least one byte, or the cable
    // fails at `deadline`).
    bool Receive(Stk500Replies& replies, std::chrono::nanoseconds deadline);
    bool Send(std::span<const uint8_t> bytes);
    void LineFailed(const SerialLine::Result& result, const std::string& what);

    ArduinoSettings settings_;
    SerialLine line_;
    enum class State { Closed, Open, Unusable } state_ = State::Closed;
    Problem problem_ = Problem::None;
    SerialLine::Result opened_;
    std::string heard_, version_, name_;
    uint8_t deviceCode_ = 0; // the device code last set, 0 for none
    std::chrono::nanoseconds lastReply_{0};
};

} // namespace qvx
