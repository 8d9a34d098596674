// The programmer link: the pin map, the serial bit transfer and the busy-wait
// time base.
//
// Pin map (25-pin PC parallel port):
//   data bit 4  (pin 6)  out  RST, 1 = reset held (program mode)
//   data bit 5  (pin 7)  out  MOSI, serial data to the target
//   data bit 6  (pin 8)  out  SCK, 1 during the first half of each bit
//   data bit 3  (pin 5)  out  run-mode line, 0 in program mode, 1 in run mode
//   data bit 7  (pin 9)  out  run-mode line, same levels as bit 3
//   status bit 6 (pin 10) in  MISO, serial data from the target
//   status bit 4 (pin 13) in  program-mode sense, must read 1 to transfer
#pragma once

#include "FrontPanel.h"
#include "PortAccess.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace qvx {

namespace pin {
inline constexpr uint8_t RunLine3 = 3;
inline constexpr uint8_t Rst = 4;
inline constexpr uint8_t Mosi = 5;
inline constexpr uint8_t Sck = 6;
inline constexpr uint8_t RunLine7 = 7;
inline constexpr uint8_t Sense = 4; // status register
inline constexpr uint8_t Miso = 6;  // status register
} // namespace pin

inline const std::string kNotInProgramMode = "Device have not in program mode";

// The crystal a target board carries unless the user says otherwise.
inline constexpr uint32_t kDefaultCrystalHz = 11'059'200;
// The crystals the program accepts for a target board.
inline constexpr uint32_t kMinCrystalHz = 1'000'000;
inline constexpr uint32_t kMaxCrystalHz = 40'000'000;

// Program-wide state of the link. One instance is owned by the main window
// for the whole run; tests make their own.
struct LinkState {
    PortAccess* Port = nullptr;
    FrontPanel* Panel = nullptr;

    uint16_t DataPort = kLpt1Data;
    uint16_t StatusPort = kLpt1Data + 1;

    // Index 0 holds the most significant bit. Each cell is 0 or 1.
    int32_t SendBits[8] = {};
    int32_t ReceivedBits[8] = {};

    int32_t ClockDelay = 0;   // spin count for each half of a clock period
    int32_t TimingFactor = 0; // thousandths, applied to the calibrated count
    int32_t WaitUnits = 0;    // wait units after a write, minus one

    int32_t ProgramMode = -1; // -1 program mode, 0 run mode

    // Crystal on the target board, in hertz. The chip's serial clock limits
    // and its write cycle are counted in periods of it.
    uint32_t CrystalHz = kDefaultCrystalHz;

    // The serial clock floor: the shortest SCK high and low phase the chip
    // being programmed accepts, and how long SCK stays low after reset rises,
    // in nanoseconds on the port's clock; 0 for no floor. Set whenever an
    // operation enters programming mode.
    int64_t SckMinHighNs = 0;
    int64_t SckMinLowNs = 0;
    int64_t SckFirstLowNs = 0;
    // The earliest moment SCK may rise again (the port's clock).
    std::chrono::nanoseconds SckLowUntil{0};

    // Set by the first transfer of a command that the target refused; from
    // then on the command's transfers send nothing. Cleared by BeginCommand.
    bool Refused = false;
    // The refusal came from the program-mode sense reading 0.
    bool SenseLow = false;

    // What MISO showed during the programming enables of the running
    // command (cleared by BeginCommand), for telling the user why a chip
    // did not answer: whether any bit came back 1 or 0, and the bytes of
    // the last enable with the answer to each.
    struct EnablesSeen {
        int Count = 0;
        bool High = false, Low = false;
        std::vector<uint8_t> Sent, Answer;
    } Enables;

    // A request to stop: set it (from anywhere, a signal handler included)
    // and the running command ends at its next byte, as if refused but
    // without the refusal's message; every later transfer sends nothing
    // either. Nothing clears it.
    volatile std::sig_atomic_t StopRequested = 0;
};

// Busy loop of count + 1 steps; a negative count does nothing. The compiler
// can neither remove nor shorten it.
void SpinDelay(int32_t count);

// Writes the four bits of one hex digit ("0".."9", "A".."F", upper case
// only) to four cells, the weight-8 cell first. Any other character leaves
// the cells as they are.
void HexDigitToBits(char text, int32_t& weight8, int32_t& weight4, int32_t& weight2, int32_t& weight1);

// One serial clock period; returns the MISO sample (0 or 1). Each phase lasts
// at least the link's SCK floor, on the port's clock, with ClockDelay spent
// on top.
int32_t ClockBit(LinkState& link);

// Loads SendBits from two digit texts, then shifts the byte out while the
// answer is shifted into ReceivedBits.
void TransferByte(LinkState& link, char high, char low);

// Shifts eight bits out (a value of exactly 1 sends 1), most significant
// first, with the answer into ReceivedBits. SendBits is left as it was.
void TransferBits(LinkState& link, int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3,
                  int32_t b2, int32_t b1, int32_t b0);

// Exchanges whole instructions, one or several back to back: `out` to the
// target, the bytes it answered into `in` (as long as `out`) and the last
// one into ReceivedBits. On a port that clocks bit by bit this is exactly a
// TransferBits of each byte in turn (the sense read before each byte); a
// backend that takes whole instructions sends them in one exchange, and a
// sense of 0 in any of its samples refuses it. True when every byte reached
// the target; false when the command was refused or stopped (the first
// refusal shows its message) and nothing more is sent.
bool ExchangeInstructions(LinkState& link, std::span<const uint8_t> out, std::span<uint8_t> in,
                          std::span<const ExchangePause> pauses = {});

// How many instructions of `length` bytes (each followed by a pause of
// `pauseNs`) whose answers are needed at once the port takes in one
// exchange (1 unless its round trips are costly).
int InstructionsPerExchange(const LinkState& link, size_t length, int64_t pauseNs = 0);

// One instruction built byte by byte, as the operations compose it: a byte
// from two digit texts loads SendBits as TransferByte does (a text that is
// no digit keeps its four cells from the byte before), a byte from eight bit
// values leaves SendBits alone as TransferBits does.
class Instruction {
public:
    explicit Instruction(LinkState& link) : link_(link) {}
    Instruction& Digits(char high, char low);
    Instruction& Bits(int32_t b7, int32_t b6, int32_t b5, int32_t b4, int32_t b3, int32_t b2, int32_t b1,
                      int32_t b0);
    Instruction& Byte(uint8_t value);
    // SCK held low at least `ns` before the next byte.
    Instruction& Pause(int64_t ns);
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    // Exchanges it alone; the answer to its last byte is in ReceivedBits.
    bool Send();
    // Exchanges it with every answer into `in`; false as ExchangeInstructions.
    bool Exchange(std::vector<uint8_t>& in);

private:
    LinkState& link_;
    std::vector<uint8_t> bytes_;
    std::vector<ExchangePause> pauses_;
};

// True when each SendBits cell equals the ReceivedBits cell at its index.
bool BitsMatch(const LinkState& link);

// The byte held in a bit register, for reading answers.
uint8_t BitsValue(const int32_t (&bits)[8]);
// Writes a byte into a bit register, most significant bit first.
void SetBits(int32_t (&bits)[8], uint8_t value);

// Clears the refusal mark and what the enables showed: called when a
// command begins.
void BeginCommand(LinkState& link);

// Marks the command as refused by the target, showing "Device have not in
// program mode" unless the command has shown it already. When the port
// itself has failed (PortAccess::Failure), its failure is shown instead.
void RefuseCommand(LinkState& link);

// The time of day as text to whole seconds.
using TimeSource = std::function<std::string()>;
std::string LocalTimeText();

// Counts how often the time text repeats within one whole second and sets
// WaitUnits from the count. Takes between one and two seconds with the real
// clock.
void CalibrateWait(LinkState& link, const TimeSource& now = LocalTimeText);

// count * TimingFactor div 1000, computed in 64 bits and clamped to the
// 32-bit range: a large count times a large factor must not wrap negative
// (which would silently remove every wait).
int32_t WaitUnitsFor(int64_t count, int32_t timingFactor);

// Nanoseconds of `clocks` periods of a crystal of `hz`, rounded up (0 for no
// crystal).
int64_t CrystalClocksNs(uint32_t clocks, uint32_t hz);

// WaitUnits + 1 calls of SpinDelay(unit); nothing when WaitUnits is negative.
void CalibratedWait(const LinkState& link, int32_t unit);

} // namespace qvx
