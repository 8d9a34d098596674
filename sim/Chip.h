// A simulated AT89S chip on its serial programming pins: RST, SCK and MOSI in,
// MISO out. It decodes the instructions of its part's instruction set from
// the pin levels, programs its flash like flash (bits only go from 1 to 0, a
// write cycle takes time, chip erase is the only way back), keeps lock bits
// and the user fuse, and can be given faults and a trace of what it saw.
#pragma once

#include "Device.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace qvx::sim {

// Where the chip's time comes from.
enum class Timing {
    Realistic, // the steady clock; datasheet cycle times and SCK limits
    Virtual,   // a clock that moves only when told (AdvanceTime); datasheet times and limits
    Instant,   // every cycle completes at once and SCK may be as fast as it likes
};

struct ChipOptions {
    Timing timing = Timing::Realistic;
    uint32_t xtalHz = 12'000'000; // crystal on the target board
    // Faults.
    bool neverEnables = false;    // ignores the programming enable, so never answers or acts
    bool endlessWrite = false;    // a byte write cycle, once started, never ends
    bool endlessErase = false;    // a chip erase, once started, never ends
    bool stuckLocks = false;      // the lock bits never program
    double misoNoise = 0.0;       // probability that each MISO bit reaches the cable flipped
    uint64_t noiseSeed = 1;       // seed of the noise, so a noisy run can be repeated
    std::optional<uint32_t> weakCell; // this code address never programs
    // The header of the page instructions: 0 for the part's own (the form of
    // its datasheet's instruction table); 2 makes an AT89S8253 take the
    // two-byte header of its datasheet's prose (opcode and AH, then the
    // data, A7 and A6 taken as 0), to try a program against that reading.
    uint32_t pageHeaderBytes = 0;
};

// Events counted since the chip was made; tests assert on them.
struct ChipCounters {
    uint64_t instructions = 0;      // complete instructions clocked in
    uint64_t enables = 0;           // programming enables accepted
    uint64_t erases = 0;            // chip erase cycles started
    uint64_t codeReads = 0;         // code-byte reads answered
    uint64_t codeWrites = 0;        // code-byte writes accepted (write cycle started)
    uint64_t pageReads = 0;         // code pages read out
    uint64_t pageWrites = 0;        // code pages loaded and their write cycle started
    uint64_t dataWrites = 0;        // data-memory writes accepted
    uint64_t lockWrites = 0;        // lock-bit writes accepted
    uint64_t fuseWrites = 0;        // user-fuse writes accepted
    uint64_t lockedWrites = 0;      // code-byte writes refused because LB1 is programmed
    uint64_t ignoredNotEnabled = 0; // instructions ignored for want of a programming enable
    uint64_t ignoredBusy = 0;       // instructions ignored during a write or erase cycle
    uint64_t unknown = 0;           // instructions the part does not decode
    uint64_t cuts = 0;              // instructions cut short by RST going low
    uint64_t resets = 0;            // RST falling edges
    uint64_t misSampled = 0;        // MOSI bits taken wrongly because SCK was too fast
    uint64_t flippedMiso = 0;       // MISO bits flipped by line noise
};

class Chip {
public:
    explicit Chip(const Device& device, ChipOptions options = {});

    // --- Pins -------------------------------------------------------------
    // The levels now on RST, SCK and MOSI. The chip reacts to the edges.
    void SetPins(bool rst, bool sck, bool mosi);
    // The level on MISO: the bit the chip drives while RST is high, the
    // port pin's pull-up (1) while RST is low.
    bool Miso() const;

    // --- Identity ---------------------------------------------------------
    const Device& Model() const { return device_; }
    std::string_view Name() const { return device_.name; }
    const ChipOptions& Options() const { return options_; }

    // --- Memory -----------------------------------------------------------
    // Code memory, exactly the part's size. Presetting writes it directly,
    // without a write cycle and without the flash AND rule.
    const std::vector<uint8_t>& Code() const { return code_; }
    uint8_t CodeByte(uint32_t address) const { return code_.at(address); }
    void PresetCode(uint32_t address, uint8_t value) { code_.at(address) = value; }
    void PresetCode(std::span<const uint8_t> image); // from address 0; the rest becomes FF
    // On-chip data EEPROM (2 KB on the AT89S8252 and AT89S8253): a write
    // sets the byte (it erases itself), chip erase sets every byte to FF.
    // Empty on the other parts.
    const std::vector<uint8_t>& Data() const { return data_; }
    void PresetData(std::span<const uint8_t> image);

    // --- Lock bits and fuse -----------------------------------------------
    // n = 1..3: whether lock bit n is programmed.
    bool LockBit(int n) const;
    // The lock mode of the AT89S51/52 datasheets: 1 (no lock) to 4, one
    // more than the number of lock bits programmed in order from LB1.
    int LockMode() const;
    void PresetLockBits(bool lb1, bool lb2, bool lb3);
    // User fuse bits 3..0 as the fuse instructions carry them (1 = not
    // programmed); parts without a user fuse keep 0x0F and ignore presets.
    uint8_t UserFuse() const { return fuse_; }
    bool X2Clock() const { return device_.userFuse && !(fuse_ & kX2FuseBit); }
    void PresetUserFuse(uint8_t bits);
    void PresetX2Clock(bool on);

    // --- Serial interface state -------------------------------------------
    bool ProgrammingEnabled() const { return enabled_; }
    // A write or erase cycle is running (as of the last pin change or time step).
    bool Busy() const { return cycle_.kind != Cycle::None; }
    const ChipCounters& Counters() const { return count_; }

    // --- Time -------------------------------------------------------------
    // Nanoseconds since the chip was made, on the chip's clock.
    int64_t NowNs() const;
    // Moves a virtual or instant clock on and lets running cycles finish;
    // the realistic clock ignores it (it moves by itself).
    void AdvanceTime(std::chrono::nanoseconds step);
    // Finishes a cycle whose time is up (done on every pin change anyway).
    void Settle();
    // Length of a byte write and of a chip erase on this chip.
    int64_t WriteCycleNs() const;
    int64_t EraseCycleNs() const;

    // --- Wire trace -------------------------------------------------------
    // One line per complete instruction, "AC 53 55 55 -> 00 00 00 69" (the
    // bytes clocked in, then the bytes driven on MISO meanwhile); a page
    // instruction as its header and the count of its data bytes,
    // "30 01 -> 00 00 + 256 bytes out", "50 2A 40 -> 00 00 00 + 64 bytes in";
    // "RESET" each time RST goes low; an instruction cut short by RST as the
    // bytes complete so far followed by " (cut)" ("(cut)" alone within its
    // first byte).
    void RecordTrace(bool on) { record_ = on; }
    const std::vector<std::string>& TraceLines() const { return lines_; }
    void ClearTrace() { lines_.clear(); }
    // Also hands each trace line to `sink` as it happens (null to stop).
    void SetTraceSink(std::function<void(const std::string&)> sink) { sink_ = std::move(sink); }

    static constexpr uint8_t kX2FuseBit = 0x02;

private:
    struct Rule;
    enum class Kind { Enable, Read, Program };
    enum class Page { None, Out, In }; // a page instruction: data from the chip, to it
    using Bytes = std::span<const uint8_t>;

    struct Cycle {
        enum Kind { None, CodeWrite, PageWrite, DataWrite, LockWrite, FuseWrite, Erase } kind = None;
        int64_t end = 0;
        uint32_t address = 0; // a page write: the page's first address
        uint8_t value = 0;
        std::vector<uint8_t> page; // a page write: the bytes loaded
    };

    static std::span<const Rule> RulesFor(InstructionSet set);
    const Rule* Decode(Bytes bytes, size_t known, int answerAt) const;
    bool Fits(const Rule& rule) const;
    // The page instruction these bytes begin, or null.
    const Rule* PageRule(Bytes bytes) const;
    // Bytes of the instruction that `in_` begins.
    size_t InstructionLength() const;
    std::string TraceText(bool cut) const;

    void OnRstRise(int64_t now);
    void OnRstFall();
    void OnSckRise(int64_t now);
    void OnSckFall(int64_t now);
    void DriveNextBit();
    uint8_t AnswerFor(Bytes bytes) const;
    void Execute(Bytes bytes, int64_t now);
    void Emit(std::string line);
    int64_t ClocksNs(uint32_t clocks) const;
    void StartCycle(Cycle::Kind kind, int64_t now, int64_t length, uint32_t address = 0, uint8_t value = 0,
                    std::vector<uint8_t> page = {});
    void SettleAt(int64_t now);
    std::optional<uint32_t> CodeAddress(uint32_t raw) const;

    // Instruction rules: answers and actions.
    uint8_t AnswerEnable(Bytes) const { return options_.neverEnables ? 0x00 : 0x69; }
    uint8_t AnswerCode4(Bytes b) const;
    uint8_t AnswerCode3(Bytes b) const;
    uint8_t AnswerData3(Bytes b) const;
    uint8_t AnswerData4(Bytes b) const;
    uint8_t AnswerDataAt(uint32_t address) const;
    uint8_t AnswerLockBits(Bytes) const;
    uint8_t AnswerUserFuse(Bytes) const { return static_cast<uint8_t>(0xF0 | fuse_); }
    uint8_t AnswerSignature(Bytes b) const;
    uint8_t AnswerCodeAt(std::optional<uint32_t> address) const;
    std::optional<uint32_t> PageBase(Bytes b, uint32_t pageBytes) const;
    void DoEnable(Bytes, int64_t);
    void DoErase(Bytes, int64_t now);
    void DoReadCode(Bytes, int64_t) { ++count_.codeReads; }
    void DoNothing(Bytes, int64_t) {}
    void DoWriteCode4(Bytes b, int64_t now);
    void DoWriteCode3(Bytes b, int64_t now);
    void DoWriteCodeAt(std::optional<uint32_t> address, uint8_t value, int64_t now);
    void DoReadPage(Bytes, int64_t) { ++count_.pageReads; }
    void DoWritePage(Bytes b, int64_t now);
    void DoWriteData3(Bytes b, int64_t now);
    void DoWriteData4(Bytes b, int64_t now);
    void DoWriteDataAt(uint32_t address, uint8_t value, int64_t now);
    void DoWriteLock3(Bytes b, int64_t now);
    void DoWriteLockMode(Bytes b, int64_t now);
    void DoWriteLock4(Bytes b, int64_t now);
    void DoWriteFuse(Bytes b, int64_t now);

    const Device& device_;
    ChipOptions options_;
    std::vector<uint8_t> code_, data_;
    bool lockBits_[3] = {false, false, false};
    uint8_t fuse_ = 0x0F;

    // Pins and the serial shift logic.
    bool rst_ = false, sck_ = false, mosi_ = false;
    bool enabled_ = false;
    std::vector<uint8_t> in_, out_; // complete bytes of this instruction, and those driven meanwhile
    uint8_t shift_ = 0;             // bits of the byte coming in
    int bits_ = 0;                  // how many of them
    uint8_t outByte_ = 0;           // byte going out on MISO
    bool misoBit_ = false, misoFlip_ = false;
    bool sampled_ = false, sampleBit_ = false, sampleBad_ = false; // MOSI latched at the rising edge
    bool lastBit_ = false;          // the last bit taken in
    int64_t rstRiseAt_ = 0, riseAt_ = 0, fallAt_ = 0;
    bool haveRise_ = false, haveFall_ = false; // edges since RST rose

    Cycle cycle_;

    std::chrono::steady_clock::time_point start_;
    int64_t virtualNow_ = 0;
    std::mt19937_64 noise_;

    bool record_ = false;
    std::vector<std::string> lines_;
    std::function<void(const std::string&)> sink_;
    ChipCounters count_;
};

} // namespace qvx::sim
