// A USB cable with an FTDI FT232R in synchronous bit-bang mode, through
// libftdi1. The chip's eight I/O pins (the serial port's TXD, RXD, RTS#,
// CTS#, DTR#, DSR#, DCD#, RI# as D0 to D7) carry RST, MOSI and SCK out and
// MISO and an optional program-mode sense in. Every byte written sets the
// outputs at the bit-bang rate; for every byte the chip returns one sample of
// all eight pins, taken before that byte's outputs are applied.
//
// To the program the cable looks like the parallel-port cable on either LPT
// address: data bit 4 RST, bit 5 MOSI, bit 6 SCK; status bit 6 MISO, status
// bit 4 the sense (read as RST's own level when the cable has no sense line).
// Line changes are queued and go to the cable with the next exchange, a
// sample, or a wait too long to spend in idle bytes. Whole instructions,
// with the idle bytes of the pauses between them, stream to the cable (with
// no round trip per transfer: the samples are read as the chip takes the
// bytes), each bit as a few bytes: MOSI with SCK low, then SCK high, each
// phase as many bytes as the chip's clock floor needs.
#pragma once

#include "PortAccess.h"

#include <vector>

namespace qvx {

// The FT232R pin (0 to 7 = D0 TXD ... D7 RI) of each signal; -1 for a
// sense line the cable does not have.
struct FtdiPins {
    int mosi = 0;   // TXD
    int miso = 1;   // RXD
    int sck = 2;    // RTS#
    int rst = 4;    // DTR#
    int sense = -1; // none; CTS# (3) when wired
};

// The bit-bang rate the program uses unless told otherwise. FTDI's
// application note AN232R-01 (Bit Bang Modes for the FT232R and FT245R)
// clocks bit-bang bytes at sixteen times the baud rate, and the FT232R's
// baud rate generator divides 3 MHz by 2 to 16384 in eighths (FTDI's "What
// baud rates are achievable?"): 62,500 baud, a divisor of exactly 48, gives
// one byte every microsecond.
inline constexpr uint32_t kFtdiDefaultRate = 1'000'000;
// The rates the rate option takes: none above the documented one.
inline constexpr uint32_t kFtdiMinRate = 1'000, kFtdiMaxRate = kFtdiDefaultRate;
// The longest serial number the ftdi option takes.
inline constexpr size_t kFtdiMaxSerial = 64;
// The bytes one synchronous transfer (a write, then the read of its
// samples) may hold: every byte written yields a sample, and the samples
// must fit the chip's 256-byte transmit buffer until they are read, or the
// chip stops clocking and the write never ends.
inline constexpr size_t kFtdiMaxTransfer = 256;
// The bytes one stream may hold: its samples are read while it is written,
// so the chip's buffers set no bound; this one keeps a stream to a quarter
// of a second at the default rate, so that a stop request or a lost cable is
// noticed soon, while the round trip it costs stays a small part of it.
inline constexpr size_t kFtdiMaxStream = 256 * 1024;

struct FtdiSettings {
    std::string serial; // the cable's serial number; empty: the only one
    FtdiPins pins;
    uint32_t rate = kFtdiDefaultRate; // bit-bang bytes per second
};

// What libftdi1 does for the backend, behind a seam so tests can put a
// virtual FT232R there. The default implementation (MakeLibFtdiSystem) drives
// a real one.
class FtdiSystem {
public:
    enum class Status { Ok, NotFound, Denied, Busy, Lost, Failed };
    struct Result {
        Status status = Status::Ok;
        std::string detail; // the library's or system's words
        bool ok() const { return status == Status::Ok; }
    };
    virtual ~FtdiSystem() = default;
    // Opens the FT232R (USB 0403:6001) with that serial number, or the only
    // one when `serial` is empty; `name` tells which ("FT232R A50285BI").
    virtual Result Open(const std::string& serial, std::string& name) = 0;
    // Synchronous bit-bang with `outputs` as outputs (at `levels`), at
    // `rate` bytes per second.
    virtual Result StartBitBang(uint8_t outputs, uint8_t levels, uint32_t rate) = 0;
    // Writes `n` bytes to the pins (ftdi_write_data) and reads their `n`
    // samples back (ftdi_read_data until all are in).
    virtual Result Write(const uint8_t* data, size_t n) = 0;
    virtual Result Read(uint8_t* data, size_t n) = 0;
    // Writes `n` bytes to the pins while their `n` samples are read back
    // (libftdi1's asynchronous transfers: the read is pending before the
    // write begins), one round trip for the whole stream.
    virtual Result Stream(const uint8_t* data, uint8_t* samples, size_t n) = 0;
    virtual void Close() = 0;
    // The clock the cable's bytes are timed on, and a sleep on it.
    virtual std::chrono::nanoseconds Now() { return SteadyNow(); }
    virtual void SleepUntil(std::chrono::nanoseconds deadline) { WaitOnSteadyClock(deadline); }
};

std::unique_ptr<FtdiSystem> MakeLibFtdiSystem();

// Reads the text after "ftdi:" (may be empty). False with `error` for an
// option it does not accept.
bool ParseFtdiOptions(std::string_view options, FtdiSettings& settings, std::string& error);

class FtdiPort : public PortAccess {
public:
    FtdiPort(FtdiSettings settings, std::unique_ptr<FtdiSystem> system);
    // Sends what is queued (the run-mode lines of the exit), then closes the
    // cable; its pins keep their levels.
    ~FtdiPort() override;

    void SetPortBit(uint16_t port, uint8_t bit) override;
    void ClrPortBit(uint16_t port, uint8_t bit) override;
    bool GetPortBit(uint16_t port, uint8_t bit) override;
    bool IsDriverInstalled() override;
    std::string DriverDiagnosis() override;
    std::string Failure() const override { return failure_; }

    ExchangeResult ExchangeInstructions(uint16_t dataPort, const SerialClock& clock, std::span<const uint8_t> out,
                                        std::span<uint8_t> in, std::span<const ExchangePause> pauses) override;
    int InstructionsPerExchange(const SerialClock& clock, size_t length, int64_t pauseNs) const override;

    // The end of what is queued: the system's clock plus the queued bytes.
    std::chrono::nanoseconds Now() override;
    // A wait that fits in the current transfer is spent there in idle bytes;
    // a longer one sends what is queued and sleeps.
    void WaitUntil(std::chrono::nanoseconds deadline) override;


private:
    enum class State { Closed, Open, Unusable };
    bool Ready();
    uint8_t PinByte(bool rst, bool mosi, bool sck) const;
    uint8_t Levels() const; // the outputs as the data register has them
    bool Bit(int pin, uint8_t sample) const { return pin >= 0 && (sample >> pin) & 1; }
    // Sends `bytes` (in transfers of at most kFtdiMaxTransfer, or streams
    // of at most kFtdiMaxStream) with their samples into `samples`; false
    // when the cable failed (and is given up).
    bool Transfer(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& samples, bool stream = false);
    void Flush();
    void WriteDataBit(uint16_t port, uint8_t bit, bool value);
    void Lost(const std::string& what, const FtdiSystem::Result& result);
    int64_t PhaseBytes(int64_t ns) const;
    int64_t IdleBytes(int64_t ns) const { return (ns + byteNs_ - 1) / byteNs_; }

    FtdiSettings settings_;
    std::unique_ptr<FtdiSystem> sys_;
    State state_ = State::Closed;
    FtdiSystem::Status problem_ = FtdiSystem::Status::Ok;
    std::string name_, error_, failure_;
    uint8_t data_ = 0;            // the data register as the program wrote it
    std::vector<uint8_t> queue_;  // line changes not yet sent
    int64_t byteNs_ = 1000;
};

} // namespace qvx
