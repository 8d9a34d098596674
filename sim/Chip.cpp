#include "Chip.h"

#include <algorithm>
#include <array>
#include <limits>

namespace qvx::sim {

namespace {

constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

// An instruction's bit pattern written as on the datasheet, most significant
// bit of the first byte first: '0' and '1' must match, any other letter
// (x, a for address, d for data, l for lock bits ...) is free; spaces and
// bars only separate.
struct Pattern {
    std::array<uint8_t, 4> mask{};
    std::array<uint8_t, 4> value{};
    size_t length = 0;

    constexpr Pattern(const char* text)
    {
        int bit = 0;
        for (const char* p = text; *p; ++p) {
            if (*p == ' ' || *p == '|')
                continue;
            const int byte = bit / 8;
            const uint8_t weight = static_cast<uint8_t>(0x80 >> (bit % 8));
            if (*p == '0' || *p == '1')
                mask[byte] |= weight;
            if (*p == '1')
                value[byte] |= weight;
            ++bit;
        }
        length = static_cast<size_t>(bit / 8);
    }

    // Whether the first `known` bytes fit the pattern.
    bool Matches(std::span<const uint8_t> bytes, size_t known) const
    {
        for (size_t i = 0; i < known && i < length; ++i)
            if ((bytes[i] & mask[i]) != value[i])
                return false;
        return true;
    }
};

bool AnyPart(const Device&) { return true; }
bool ModeStepLocks(const Device& d) { return d.locks == LockScheme::ModeSteps; }
bool SingleWriteLocks(const Device& d) { return d.locks == LockScheme::FourByteWrite; }
bool HasUserFuse(const Device& d) { return d.userFuse; }
bool HasDataMemory(const Device& d) { return d.dataSize > 0; }
bool HasSignature(const Device& d) { return d.signature.count > 0; }
bool A13InByte1(const Device& d) { return d.dataSize == 0; } // bit 2 of byte 1 is A13, not the array select

std::string Hex(std::span<const uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t b : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[b >> 4];
        text += digits[b & 0x0F];
    }
    return text;
}

} // namespace

struct Chip::Rule {
    const char* name;
    Pattern pattern;
    Kind kind;
    bool (*fits)(const Device&);
    int answerAt; // the byte during which the chip drives its answer, or -1
    uint8_t (Chip::*answer)(Bytes) const;
    void (Chip::*act)(Bytes, int64_t);
    Page page = Page::None; // a page instruction: the header above, then a page of data
};

// The serial programming instructions, one rule each, as the datasheets
// tabulate them. The first rule that fits the bytes and the part decodes.
std::span<const Chip::Rule> Chip::RulesFor(InstructionSet set)
{
    static const Rule kFourByte[] = {
        {"Programming Enable", "1010 1100 | 0101 0011 | xxxx xxxx | xxxx xxxx", Kind::Enable,  AnyPart,          3,  &Chip::AnswerEnable,   &Chip::DoEnable},
        {"Chip Erase",         "1010 1100 | 100x xxxx | xxxx xxxx | xxxx xxxx", Kind::Program, AnyPart,          -1, nullptr,               &Chip::DoErase},
        {"Read Code Byte",     "0010 0000 | xxaa aaaa | aaaa aaaa | xxxx xxxx", Kind::Read,    AnyPart,          3,  &Chip::AnswerCode4,    &Chip::DoReadCode},
        {"Write Code Byte",    "0100 0000 | xxaa aaaa | aaaa aaaa | dddd dddd", Kind::Program, AnyPart,          -1, nullptr,               &Chip::DoWriteCode4},
        {"Write Lock Mode",    "1010 1100 | 1110 00bb | xxxx xxxx | xxxx xxxx", Kind::Program, ModeStepLocks,    -1, nullptr,               &Chip::DoWriteLockMode},
        {"Write Lock Bits",    "1010 1100 | 1110 0lll | xxxx xxxx | xxxx xxxx", Kind::Program, SingleWriteLocks, -1, nullptr,               &Chip::DoWriteLock4},
        {"Read Lock Bits",     "0010 0100 | xxxx xxxx | xxxx xxxx | xxxx xxxx", Kind::Read,    AnyPart,          3,  &Chip::AnswerLockBits, &Chip::DoNothing},
        {"Read Data Byte",     "1010 0000 | xxxx xaaa | aaaa aaaa | xxxx xxxx", Kind::Read,    HasDataMemory,    3,  &Chip::AnswerData4,    &Chip::DoNothing},
        {"Write Data Byte",    "1100 0000 | xxxx xaaa | aaaa aaaa | dddd dddd", Kind::Program, HasDataMemory,    -1, nullptr,               &Chip::DoWriteData4},
        {"Read User Fuses",    "0010 0001 | xxxx xxxx | xxxx xxxx | xxxx xxxx", Kind::Read,    HasUserFuse,      3,  &Chip::AnswerUserFuse, &Chip::DoNothing},
        {"Read Signature",     "0010 1000 | aaaa aaaa | aaaa aaaa | xxxx xxxx", Kind::Read,    HasSignature,     3,  &Chip::AnswerSignature, &Chip::DoNothing},
        {"Write User Fuses",   "1010 1100 | 0001 ffff | xxxx xxxx | xxxx xxxx", Kind::Program, HasUserFuse,      -1, nullptr,               &Chip::DoWriteFuse},
        // Page instructions: the header in the part's form, then the page's
        // data bytes (Fits chooses the form and knows the page sizes).
        {"Read Code Page",     "0011 0000 | xxaa aaaa",                         Kind::Read,    AnyPart,          -1, nullptr,               &Chip::DoReadPage,  Page::Out},
        {"Read Code Page",     "0011 0000 | xxaa aaaa | aa00 0000",             Kind::Read,    AnyPart,          -1, nullptr,               &Chip::DoReadPage,  Page::Out},
        {"Write Code Page",    "0101 0000 | xxaa aaaa",                         Kind::Program, AnyPart,          -1, nullptr,               &Chip::DoWritePage, Page::In},
        {"Write Code Page",    "0101 0000 | xxaa aaaa | aa00 0000",             Kind::Program, AnyPart,          -1, nullptr,               &Chip::DoWritePage, Page::In},
    };
    static const Rule kThreeByte[] = {
        {"Programming Enable", "1010 1100 | 0101 0011 | xxxx xxxx", Kind::Enable,  AnyPart,       -1, nullptr,            &Chip::DoEnable},
        {"Chip Erase",         "1010 1100 | xxxx x100 | xxxx xxxx", Kind::Program, AnyPart,       -1, nullptr,            &Chip::DoErase},
        {"Read Code Byte",     "aaaa aA01 | aaaa aaaa | xxxx xxxx", Kind::Read,    A13InByte1,    2,  &Chip::AnswerCode3, &Chip::DoReadCode},
        {"Write Code Byte",    "aaaa aA10 | aaaa aaaa | dddd dddd", Kind::Program, A13InByte1,    -1, nullptr,            &Chip::DoWriteCode3},
        {"Read Code Byte",     "aaaa a001 | aaaa aaaa | xxxx xxxx", Kind::Read,    HasDataMemory, 2,  &Chip::AnswerCode3, &Chip::DoReadCode},
        {"Write Code Byte",    "aaaa a010 | aaaa aaaa | dddd dddd", Kind::Program, HasDataMemory, -1, nullptr,            &Chip::DoWriteCode3},
        {"Read Data Byte",     "00aa a101 | aaaa aaaa | xxxx xxxx", Kind::Read,    HasDataMemory, 2,  &Chip::AnswerData3, &Chip::DoNothing},
        {"Write Data Byte",    "00aa a110 | aaaa aaaa | dddd dddd", Kind::Program, HasDataMemory, -1, nullptr,            &Chip::DoWriteData3},
        {"Write Lock Bits",    "1010 1100 | lllx x111 | xxxx xxxx", Kind::Program, AnyPart,       -1, nullptr,            &Chip::DoWriteLock3},
    };
    if (set == InstructionSet::ThreeByte)
        return kThreeByte;
    return kFourByte;
}

Chip::Chip(const Device& device, ChipOptions options)
    : device_(device),
      options_(options),
      code_(device.codeSize, 0xFF),
      data_(device.dataSize, 0xFF),
      start_(std::chrono::steady_clock::now()),
      noise_(options.noiseSeed)
{
}

// A page rule fits when the part has that page instruction and the rule's
// header is the form the chip takes.
bool Chip::Fits(const Rule& rule) const
{
    if (!rule.fits(device_))
        return false;
    if (rule.page == Page::None)
        return true;
    const uint32_t header = options_.pageHeaderBytes ? options_.pageHeaderBytes : device_.page.headerBytes;
    const uint32_t bytes = rule.page == Page::Out ? device_.page.readBytes : device_.page.writeBytes;
    return bytes > 0 && rule.pattern.length == header;
}

const Chip::Rule* Chip::PageRule(Bytes bytes) const
{
    if (bytes.empty())
        return nullptr;
    for (const Rule& rule : RulesFor(device_.set))
        if (rule.page != Page::None && Fits(rule) && rule.pattern.Matches(bytes, std::min(bytes.size(), rule.pattern.length)))
            return &rule;
    return nullptr;
}

size_t Chip::InstructionLength() const
{
    if (const Rule* page = PageRule(in_))
        return page->pattern.length + (page->page == Page::Out ? device_.page.readBytes : device_.page.writeBytes);
    return device_.set == InstructionSet::ThreeByte ? 3 : 4;
}

const Chip::Rule* Chip::Decode(Bytes bytes, size_t known, int answerAt) const
{
    for (const Rule& rule : RulesFor(device_.set)) {
        if (answerAt >= 0 && rule.answerAt != answerAt)
            continue;
        if (Fits(rule) && rule.pattern.Matches(bytes, known))
            return &rule;
    }
    return nullptr;
}

// A page instruction shows its header and the count of its data bytes.
std::string Chip::TraceText(bool cut) const
{
    const Rule* page = PageRule(in_);
    const size_t header = page ? page->pattern.length : 0;
    if (!page || in_.size() < header)
        return Hex(in_) + " -> " + Hex(out_) + (cut ? " (cut)" : "");
    const size_t total = page->page == Page::Out ? device_.page.readBytes : device_.page.writeBytes;
    const size_t data = in_.size() - header;
    return Hex(Bytes(in_).first(header)) + " -> " + Hex(Bytes(out_).first(header)) + " + " +
           (cut ? std::to_string(data) + " of " : std::string()) + std::to_string(total) + " bytes " +
           (page->page == Page::Out ? "out" : "in") + (cut ? " (cut)" : "");
}

// --- Pins ---------------------------------------------------------------

void Chip::SetPins(bool rst, bool sck, bool mosi)
{
    const int64_t now = NowNs();
    SettleAt(now);
    if (rst != rst_) {
        rst_ = rst;
        if (rst)
            OnRstRise(now);
        else
            OnRstFall();
    }
    mosi_ = mosi;
    if (sck != sck_) {
        sck_ = sck;
        if (rst_) {
            if (sck)
                OnSckRise(now);
            else
                OnSckFall(now);
        }
    }
}

bool Chip::Miso() const
{
    if (!rst_)
        return true; // P1.6 with its pull-up while the chip runs
    return misoBit_ != misoFlip_;
}

void Chip::OnRstRise(int64_t now)
{
    in_.clear();
    out_.clear();
    shift_ = 0;
    bits_ = 0;
    sampled_ = false;
    lastBit_ = false;
    haveRise_ = haveFall_ = false;
    rstRiseAt_ = now;
    DriveNextBit();
}

void Chip::OnRstFall()
{
    if (bits_ > 0 || !in_.empty()) {
        ++count_.cuts;
        Emit(in_.empty() ? std::string("(cut)") : TraceText(true));
    }
    ++count_.resets;
    Emit("RESET");
    enabled_ = false;
    in_.clear();
    out_.clear();
    shift_ = 0;
    bits_ = 0;
    sampled_ = false;
}

int64_t Chip::ClocksNs(uint32_t clocks) const
{
    if (options_.xtalHz == 0)
        return 0;
    return int64_t(clocks) * 1'000'000'000 / options_.xtalHz;
}

// MOSI is latched on the rising edge. Whether SCK gave the chip enough time
// to see it is judged from the low phase before this edge and the period
// since the previous one; the high phase is judged at the falling edge.
void Chip::OnSckRise(int64_t now)
{
    bool bad = false;
    if (options_.timing != Timing::Instant) {
        const SckLimits& limits = device_.sck;
        // The first low phase of a frame began when RST rose.
        bad = now - (haveFall_ ? fallAt_ : rstRiseAt_) < ClocksNs(limits.minLow);
        if (haveRise_ && now - riseAt_ < ClocksNs(limits.minPeriod))
            bad = true;
    }
    sampled_ = true;
    sampleBit_ = mosi_;
    sampleBad_ = bad;
    riseAt_ = now;
    haveRise_ = true;
}

// The latched bit goes into the shift register and the next answer bit
// goes out on MISO, valid before the next rising edge.
void Chip::OnSckFall(int64_t now)
{
    fallAt_ = now;
    haveFall_ = true;
    if (!sampled_)
        return;
    sampled_ = false;
    bool bad = sampleBad_;
    if (options_.timing != Timing::Instant && now - riseAt_ < ClocksNs(device_.sck.minHigh))
        bad = true;
    // Too fast a clock: the input stage still holds the previous bit.
    const bool bit = bad ? lastBit_ : sampleBit_;
    if (bad)
        ++count_.misSampled;
    lastBit_ = bit;
    shift_ = static_cast<uint8_t>((shift_ << 1) | (bit ? 1 : 0));
    if (++bits_ == 8) {
        in_.push_back(shift_);
        out_.push_back(outByte_);
        shift_ = 0;
        bits_ = 0;
        if (in_.size() == InstructionLength()) {
            Execute(in_, now);
            Emit(TraceText(false));
            in_.clear();
            out_.clear();
        }
    }
    DriveNextBit();
}

void Chip::DriveNextBit()
{
    if (bits_ == 0)
        outByte_ = AnswerFor(in_);
    misoBit_ = (outByte_ >> (7 - bits_)) & 1;
    misoFlip_ = false;
    if (options_.misoNoise > 0.0) {
        const double draw = double(noise_() >> 11) * 0x1.0p-53;
        misoFlip_ = draw < options_.misoNoise;
        if (misoFlip_)
            ++count_.flippedMiso;
    }
}

// --- Instructions ---------------------------------------------------------

uint8_t Chip::AnswerFor(Bytes bytes) const
{
    if (cycle_.kind == Cycle::Erase)
        return 0x00;
    if (const Rule* page = PageRule(bytes); page && page->page == Page::Out && bytes.size() >= page->pattern.length) {
        if (!enabled_)
            return 0x00;
        const std::optional<uint32_t> base = PageBase(bytes, device_.page.readBytes);
        return AnswerCodeAt(base ? std::optional<uint32_t>(*base + uint32_t(bytes.size() - page->pattern.length)) : base);
    }
    const int index = static_cast<int>(bytes.size());
    const Rule* rule = Decode(bytes, bytes.size(), index);
    if (!rule || !rule->answer)
        return 0x00;
    if (rule->kind != Kind::Enable && !enabled_)
        return 0x00;
    return (this->*rule->answer)(bytes);
}

void Chip::Execute(Bytes bytes, int64_t now)
{
    ++count_.instructions;
    const Rule* rule = Decode(bytes, bytes.size(), -1);
    if (!rule) {
        ++count_.unknown;
        return;
    }
    if (cycle_.kind == Cycle::Erase) {
        ++count_.ignoredBusy;
        return;
    }
    if (rule->kind != Kind::Enable && !enabled_) {
        ++count_.ignoredNotEnabled;
        return;
    }
    if (rule->kind == Kind::Program && cycle_.kind != Cycle::None) {
        ++count_.ignoredBusy;
        return;
    }
    (this->*rule->act)(bytes, now);
    SettleAt(now); // an instant cycle is over at once
}

std::optional<uint32_t> Chip::CodeAddress(uint32_t raw) const
{
    const uint32_t address = raw & device_.addressMask;
    if (address >= device_.codeSize)
        return std::nullopt; // e.g. 0x3000 and up on a 12 KB part
    return address;
}

uint8_t Chip::AnswerCodeAt(std::optional<uint32_t> address) const
{
    if (!address || lockBits_[1])
        return 0xFF; // no such byte, or LB2 forbids reading it back
    const uint8_t stored = code_[*address];
    if (cycle_.kind == Cycle::CodeWrite && cycle_.address == *address) {
        // Data polling: bit 7 reads as the complement of the byte being written.
        return static_cast<uint8_t>((~cycle_.value & 0x80) | (stored & 0x7F));
    }
    if (cycle_.kind == Cycle::PageWrite && cycle_.address + cycle_.page.size() - 1 == *address) {
        // A page is polled on the last byte loaded.
        return static_cast<uint8_t>((~cycle_.page.back() & 0x80) | (stored & 0x7F));
    }
    return stored;
}

// The page that a page instruction's header names: AH, and A7 A6 in the
// three-byte form (0 in the two-byte one).
std::optional<uint32_t> Chip::PageBase(Bytes b, uint32_t pageBytes) const
{
    const uint32_t low = b.size() > 2 && PageRule(b)->pattern.length == 3 ? b[2] & 0xC0u : 0u;
    const std::optional<uint32_t> address = CodeAddress(uint32_t(b[1] & 0x3F) << 8 | low);
    if (!address)
        return std::nullopt;
    return *address / pageBytes * pageBytes;
}

// Four-byte set: 0x20/0x40, 0 0 A13..A8, A7..A0.
uint8_t Chip::AnswerCode4(Bytes b) const
{
    return AnswerCodeAt(CodeAddress(uint32_t(b[1] & 0x3F) << 8 | b[2]));
}

// Three-byte set: A12 A11 A10 A9 A8 A13 r w, A7..A0.
static uint32_t ThreeByteAddress(std::span<const uint8_t> b)
{
    return uint32_t(b[0] >> 3) << 8 | uint32_t((b[0] >> 2) & 1) << 13 | b[1];
}

uint8_t Chip::AnswerCode3(Bytes b) const
{
    return AnswerCodeAt(CodeAddress(ThreeByteAddress(b)));
}

// Three-byte set: 0 0 A10 A9 A8 1 r w, A7..A0.
uint8_t Chip::AnswerData3(Bytes b) const
{
    return AnswerDataAt((uint32_t(b[0] >> 3) & 0x07) << 8 | b[1]);
}

// Four-byte set: 0xA0/0xC0, x x x x x A10 A9 A8, A7..A0.
uint8_t Chip::AnswerData4(Bytes b) const
{
    return AnswerDataAt(uint32_t(b[1] & 0x07) << 8 | b[2]);
}

uint8_t Chip::AnswerDataAt(uint32_t address) const
{
    if (address >= data_.size())
        return 0xFF;
    const uint8_t stored = data_[address];
    if (cycle_.kind == Cycle::DataWrite && cycle_.address == address)
        return static_cast<uint8_t>((~cycle_.value & 0x80) | (stored & 0x7F));
    return stored;
}

uint8_t Chip::AnswerLockBits(Bytes) const
{
    if (device_.locks == LockScheme::ModeSteps) {
        // x x x LB3 LB2 LB1 x x, a programmed bit reads 1.
        return static_cast<uint8_t>((lockBits_[0] ? 0x04 : 0) | (lockBits_[1] ? 0x08 : 0) | (lockBits_[2] ? 0x10 : 0));
    }
    // x x x x x LB3 LB2 LB1, a programmed bit reads 0.
    return static_cast<uint8_t>(0xFF & ~((lockBits_[0] ? 0x01 : 0) | (lockBits_[1] ? 0x02 : 0) | (lockBits_[2] ? 0x04 : 0)));
}

// The signature byte at the address the part decodes; FF at an address
// that holds none, and on the AT89S51/52 in lock mode 3 or 4.
uint8_t Chip::AnswerSignature(Bytes b) const
{
    const Signature& signature = device_.signature;
    if (signature.hiddenByLb2 && lockBits_[1])
        return 0xFF;
    const uint32_t address = (uint32_t(b[1]) << 8 | b[2]) & signature.addressMask;
    for (uint8_t i = 0; i < signature.count; ++i)
        if (signature.bytes[i].address == address)
            return signature.bytes[i].value;
    return 0xFF;
}

void Chip::DoEnable(Bytes, int64_t)
{
    if (options_.neverEnables)
        return;
    enabled_ = true;
    ++count_.enables;
}

void Chip::DoErase(Bytes, int64_t now)
{
    ++count_.erases;
    StartCycle(Cycle::Erase, now, options_.endlessErase ? kForever : EraseCycleNs());
}

void Chip::DoWriteCodeAt(std::optional<uint32_t> address, uint8_t value, int64_t now)
{
    if (lockBits_[0]) {
        ++count_.lockedWrites; // LB1: no further programming
        return;
    }
    if (!address)
        return;
    ++count_.codeWrites;
    StartCycle(Cycle::CodeWrite, now, options_.endlessWrite ? kForever : WriteCycleNs(), *address, value);
}

void Chip::DoWritePage(Bytes b, int64_t now)
{
    if (lockBits_[0]) {
        ++count_.lockedWrites;
        return;
    }
    const size_t header = PageRule(b)->pattern.length;
    const std::optional<uint32_t> base = PageBase(b, device_.page.writeBytes);
    if (!base)
        return;
    ++count_.pageWrites;
    const int64_t cycle = options_.timing == Timing::Instant ? 0 : device_.page.writeNs;
    StartCycle(Cycle::PageWrite, now, options_.endlessWrite ? kForever : cycle, *base, 0,
               std::vector<uint8_t>(b.begin() + std::ptrdiff_t(header), b.end()));
}

void Chip::DoWriteCode4(Bytes b, int64_t now)
{
    DoWriteCodeAt(CodeAddress(uint32_t(b[1] & 0x3F) << 8 | b[2]), b[3], now);
}

void Chip::DoWriteCode3(Bytes b, int64_t now)
{
    DoWriteCodeAt(CodeAddress(ThreeByteAddress(b)), b[2], now);
}

void Chip::DoWriteData3(Bytes b, int64_t now)
{
    DoWriteDataAt((uint32_t(b[0] >> 3) & 0x07) << 8 | b[1], b[2], now);
}

void Chip::DoWriteData4(Bytes b, int64_t now)
{
    DoWriteDataAt(uint32_t(b[1] & 0x07) << 8 | b[2], b[3], now);
}

void Chip::DoWriteDataAt(uint32_t address, uint8_t value, int64_t now)
{
    if (address >= data_.size())
        return;
    ++count_.dataWrites;
    StartCycle(Cycle::DataWrite, now, options_.endlessWrite ? kForever : WriteCycleNs(), address, value);
}

// Byte 2 = LB1 LB2 LB3 x x 1 1 1; a 0 programs that lock bit.
void Chip::DoWriteLock3(Bytes b, int64_t now)
{
    uint8_t program = 0;
    if (!(b[1] & 0x80)) program |= 1;
    if (!(b[1] & 0x40)) program |= 2;
    if (!(b[1] & 0x20)) program |= 4;
    ++count_.lockWrites;
    StartCycle(Cycle::LockWrite, now, WriteCycleNs(), 0, program);
}

// Byte 2 = 1110 00 B1 B2 selects lock mode B1B2 + 1. Mode n + 1 programs lock
// bit n and takes hold only while mode n is the chip's mode.
void Chip::DoWriteLockMode(Bytes b, int64_t now)
{
    const int step = b[1] & 0x03;
    uint8_t program = 0;
    if (step > 0 && LockMode() == step)
        program = static_cast<uint8_t>(1 << (step - 1));
    ++count_.lockWrites;
    StartCycle(Cycle::LockWrite, now, WriteCycleNs(), 0, program);
}

// Byte 2 = 1110 0 LB3 LB2 LB1; a 0 programs that lock bit.
void Chip::DoWriteLock4(Bytes b, int64_t now)
{
    const uint8_t program = static_cast<uint8_t>(~b[1] & 0x07);
    ++count_.lockWrites;
    StartCycle(Cycle::LockWrite, now, WriteCycleNs(), 0, program);
}

// Byte 2 = 0001 fuse4..fuse1: the fuses take exactly these values.
void Chip::DoWriteFuse(Bytes b, int64_t now)
{
    ++count_.fuseWrites;
    StartCycle(Cycle::FuseWrite, now, WriteCycleNs(), 0, static_cast<uint8_t>(b[1] & 0x0F));
}

// --- Cycles and time ----------------------------------------------------------

int64_t Chip::WriteCycleNs() const
{
    return options_.timing == Timing::Instant ? 0 : sim::WriteCycleNs(device_, options_.xtalHz);
}

int64_t Chip::EraseCycleNs() const
{
    return options_.timing == Timing::Instant ? 0 : device_.eraseNs;
}

void Chip::StartCycle(Cycle::Kind kind, int64_t now, int64_t length, uint32_t address, uint8_t value,
                      std::vector<uint8_t> page)
{
    cycle_.kind = kind;
    cycle_.end = length == kForever || now > kForever - length ? kForever : now + length;
    cycle_.address = address;
    cycle_.value = value;
    cycle_.page = std::move(page);
}

void Chip::SettleAt(int64_t now)
{
    if (cycle_.kind == Cycle::None || cycle_.end == kForever || now < cycle_.end)
        return;
    switch (cycle_.kind) {
    case Cycle::CodeWrite:
        if (cycle_.address != options_.weakCell)
            code_[cycle_.address] &= cycle_.value; // flash only clears bits
        break;
    case Cycle::PageWrite:
        for (size_t i = 0; i < cycle_.page.size(); ++i)
            if (uint32_t(cycle_.address + i) != options_.weakCell)
                code_[cycle_.address + i] &= cycle_.page[i];
        break;
    case Cycle::DataWrite:
        data_[cycle_.address] = cycle_.value; // the EEPROM erases the byte itself
        break;
    case Cycle::LockWrite:
        for (int i = 0; i < 3 && !options_.stuckLocks; ++i)
            if (cycle_.value & (1 << i))
                lockBits_[i] = true;
        break;
    case Cycle::FuseWrite:
        fuse_ = cycle_.value;
        break;
    case Cycle::Erase:
        std::fill(code_.begin(), code_.end(), 0xFF);
        std::fill(data_.begin(), data_.end(), 0xFF);
        lockBits_[0] = lockBits_[1] = lockBits_[2] = false;
        break;
    case Cycle::None:
        break;
    }
    cycle_.kind = Cycle::None;
}

int64_t Chip::NowNs() const
{
    if (options_.timing == Timing::Realistic)
        return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_).count();
    return virtualNow_;
}

void Chip::AdvanceTime(std::chrono::nanoseconds step)
{
    if (options_.timing != Timing::Realistic && step.count() > 0)
        virtualNow_ = step.count() > kForever - virtualNow_ ? kForever - 1 : virtualNow_ + step.count();
    SettleAt(NowNs());
}

void Chip::Settle()
{
    SettleAt(NowNs());
}

// --- State ------------------------------------------------------------------

void Chip::PresetCode(std::span<const uint8_t> image)
{
    std::fill(code_.begin(), code_.end(), 0xFF);
    std::copy_n(image.begin(), std::min(image.size(), code_.size()), code_.begin());
}

void Chip::PresetData(std::span<const uint8_t> image)
{
    std::fill(data_.begin(), data_.end(), 0xFF);
    std::copy_n(image.begin(), std::min(image.size(), data_.size()), data_.begin());
}

bool Chip::LockBit(int n) const
{
    return n >= 1 && n <= 3 && lockBits_[n - 1];
}

int Chip::LockMode() const
{
    int mode = 1;
    while (mode <= 3 && lockBits_[mode - 1])
        ++mode;
    return mode;
}

void Chip::PresetLockBits(bool lb1, bool lb2, bool lb3)
{
    lockBits_[0] = lb1;
    lockBits_[1] = lb2;
    lockBits_[2] = lb3;
}

void Chip::PresetUserFuse(uint8_t bits)
{
    if (device_.userFuse)
        fuse_ = bits & 0x0F;
}

void Chip::PresetX2Clock(bool on)
{
    if (device_.userFuse)
        fuse_ = static_cast<uint8_t>(on ? fuse_ & ~kX2FuseBit : fuse_ | kX2FuseBit);
}

void Chip::Emit(std::string line)
{
    if (sink_)
        sink_(line);
    if (record_)
        lines_.push_back(std::move(line));
}

} // namespace qvx::sim
