#include "Identify.h"

#include "SettledReads.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <map>

namespace qvx {

namespace {

// A four-byte read: the answer comes back during its last byte.
using ReadBytes = std::array<uint8_t, 4>;

constexpr ReadBytes kReadLockBits{0x24, 0x55, 0x55, 0xFF};
constexpr ReadBytes kReadFuses{0x21, 0x55, 0x55, 0xFF};
// Reads of one byte at most before it counts as never settling.
constexpr uint16_t kMostReads = 40;

ReadBytes SignatureAt(uint16_t address) { return {0x28, uint8_t(address >> 8), uint8_t(address & 0xFF), 0x00}; }

// A byte that a chip of the three-byte set could take as the first byte of a
// write (low bits 10: code or data), an erase or a lock write (AC), should
// the four-byte stream fall that way in its framing of three.
bool ThreeByteUnsafe(uint8_t byte) { return (byte & 0x03) == 0x02 || byte == 0xAC; }
bool SafeForAnyChip(const ReadBytes& read) { return std::none_of(read.begin(), read.end(), ThreeByteUnsafe); }

// Each read until its answers agree: two the same on a line that has shown
// no noise; on one that has (in this command, or in these reads), each bit
// ahead by the margin that rate needs (SettledReads.h). As many reads to an
// exchange as the port takes. Nothing when the command was refused or a
// byte never settled.
std::optional<std::vector<uint8_t>> ReadAgreeing(ChipSession& s, std::span<const ReadBytes> reads)
{
    std::vector<Tally> tallies(reads.size());
    const size_t perExchange = size_t(InstructionsPerExchange(s.Link, 4));
    const auto exchange = [&](const std::vector<size_t>& which) {
        for (size_t at = 0; at < which.size(); at += perExchange) {
            const size_t count = std::min(perExchange, which.size() - at);
            Instruction ins(s.Link);
            for (size_t j = at; j < at + count; ++j)
                for (uint8_t byte : reads[which[j]])
                    ins.Byte(byte);
            std::vector<uint8_t> in;
            if (!ins.Exchange(in))
                return false;
            for (size_t j = 0; j < count; ++j)
                tallies[which[at + j]].Add(in[4 * j + 3]);
        }
        return true;
    };
    std::vector<size_t> which;
    for (size_t k = 0; k < reads.size(); ++k)
        which.insert(which.end(), {k, k});
    if (!exchange(which))
        return std::nullopt;
    for (;;) {
        uint64_t flips = 0, bits = 0;
        for (const Tally& t : tallies) {
            flips += uint64_t(t.Flips());
            bits += 8u * t.reads;
        }
        const double rate = std::max(s.FlipRate, FlipRate(flips, bits));
        const int margin = rate > 0 ? MarginsFor(rate, int32_t(reads.size())).read : 2;
        which.clear();
        bool spent = false;
        for (size_t k = 0; k < tallies.size(); ++k) {
            const Tally& t = tallies[k];
            bool settled = true;
            for (int b = 0; b < 8; ++b)
                settled = settled && std::abs(2 * int(t.ones[b]) - int(t.reads)) >= margin;
            if (!settled) {
                which.push_back(k);
                spent = spent || t.reads >= kMostReads;
            }
        }
        if (which.empty()) {
            s.FlipRate = std::max(s.FlipRate, rate);
            std::vector<uint8_t> bytes;
            for (const Tally& t : tallies)
                bytes.push_back(t.Majority());
            return bytes;
        }
        if (spent || rate >= 0.5 || !exchange(which))
            return std::nullopt;
    }
}

// The signature bytes of the catalogue's devices as a chip answers them,
// each address read once whichever devices share it.
class SignatureReader {
public:
    explicit SignatureReader(ChipSession& s) : s_(s) {}

    // Reads the bytes of `facts` not read yet. A byte whose read a
    // three-byte chip could take for a write is read only once two bytes
    // read already agree with a device's signature: a chip of the
    // four-byte set is answering. False when the command was refused or a
    // byte never settled.
    bool Read(const SignatureFacts& facts)
    {
        std::vector<uint16_t> safe, unsafe;
        for (int32_t i = 0; i < facts.Length; ++i)
            if (!seen_.count(facts.Address[i]))
                (SafeForAnyChip(SignatureAt(facts.Address[i])) ? safe : unsafe).push_back(facts.Address[i]);
        if (!ReadAll(safe))
            return false;
        const bool fourByte = fourByte_ || std::any_of(Devices().begin(), Devices().end(), [&](const Device& d) { return Agrees(d); });
        return unsafe.empty() || !fourByte || ReadAll(unsafe);
    }

    // The bytes of `facts` read so far, in its order.
    std::vector<uint8_t> Bytes(const SignatureFacts& facts) const
    {
        std::vector<uint8_t> bytes;
        for (int32_t i = 0; i < facts.Length; ++i)
            if (const auto at = seen_.find(facts.Address[i]); at != seen_.end())
                bytes.push_back(at->second);
        return bytes;
    }

    // Every byte of the device's signature read, and as it should be.
    bool Holds(const Device& d) const
    {
        const SignatureFacts& f = d.Signature;
        return f.Length > 0 && Bytes(f) == std::vector<uint8_t>(f.Bytes, f.Bytes + f.Length);
    }

    // The chip has answered the four-byte enable with its echo: every read
    // is safe.
    void KnownFourByte() { fourByte_ = true; }

    // `first` when the chip holds its signature, else the first device in
    // the catalogue whose signature it holds.
    const Device* Found(const Device* first) const
    {
        if (first && Holds(*first))
            return first;
        for (const Device& d : Devices())
            if (Holds(d))
                return &d;
        return nullptr;
    }

private:
    // At least two bytes of the device's signature read, all as they should be.
    bool Agrees(const Device& d) const
    {
        const SignatureFacts& f = d.Signature;
        int read = 0;
        for (int32_t i = 0; i < f.Length; ++i) {
            const auto at = seen_.find(f.Address[i]);
            if (at == seen_.end())
                continue;
            if (at->second != f.Bytes[i])
                return false;
            ++read;
        }
        return read >= 2;
    }

    bool ReadAll(const std::vector<uint16_t>& addresses)
    {
        std::vector<ReadBytes> reads;
        for (uint16_t address : addresses)
            reads.push_back(SignatureAt(address));
        const std::optional<std::vector<uint8_t>> bytes = ReadAgreeing(s_, reads);
        if (!bytes)
            return false;
        for (size_t i = 0; i < addresses.size(); ++i)
            seen_[addresses[i]] = (*bytes)[i];
        return true;
    }

    ChipSession& s_;
    std::map<uint16_t, uint8_t> seen_;
    bool fourByte_ = false;
};

const char kSenseLow[] =
    "The program-mode sense line read low: no cable is connected, or the target board has no power. Check that "
    "the cable is plugged in at both ends and that the target is powered.";
const char kNoisySignature[] =
    "The line from the chip (MISO) is too noisy: the signature did not read the same often enough to be taken. "
    "Check that the cable is short and firmly plugged in, that the target board shares a ground with the cable "
    "and has a steady supply, and that the crystal set for the target is not above the one on its board; then "
    "try again.";
const char kOtherSetToo[] = " A chip of the three-byte set (AT89S53, AT89S8252) reads like this too: Device > "
                            "\"Detect Chip\" (--detect) tells.";

// What the lines showed during the enables `seen`, and what to check.
std::string LinesDiagnosis(LinkState& link, const LinkState::EnablesSeen& seen)
{
    if (seen.Count == 0)
        return {};
    const std::string trace = HexBytes(seen.Sent) + " -> " + HexBytes(seen.Answer);
    if (!seen.Low)
        return "MISO stayed high through the whole programming enable (" + trace +
               "): no chip answered. Check the target's power and its crystal (the chip needs its clock to "
               "answer), the RST line, and that the chip sits the right way round in its socket.";
    if (!seen.High && !MisoOutOfReset(link))
        return "MISO stayed low through the whole programming enable (" + trace +
               "), and with the target out of reset too: the line is stuck low. Check the MISO wire (P1.6) for "
               "a short to ground.";
    return "The chip answered the programming enable with " + trace +
           (seen.Sent.size() == 4 ? " instead of 69 in its fourth byte" : "") +
           ": it did not take the instruction. The serial clock is likely too fast for the target's crystal: "
           "set the crystal on the board under Option > \"Target crystal...\" (--crystal on the command line), "
           "or a lower one. A chip of the other instruction set answers like this too: Device > \"Detect "
           "Chip\" (--detect) tells.";
}

uint8_t LockBitsOf(const Device& chip, uint8_t answer)
{
    // AT89S51/52: bits 2..4 for LB1..LB3, 1 when programmed; the others
    // bits 0..2, 0 when programmed.
    return chip.ReadBack == ReadBackKind::LockBits ? uint8_t(answer >> 2 & 7) : uint8_t(~answer & 7);
}

std::string Name(const Device& chip) { return std::string(chip.Name); }

} // namespace

std::string HexBytes(std::span<const uint8_t> bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (uint8_t byte : bytes) {
        if (!text.empty())
            text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

bool SignatureRead::Readable() const
{
    const auto all = [&](uint8_t value) {
        return std::all_of(Bytes.begin(), Bytes.end(), [=](uint8_t b) { return b == value; });
    };
    return !Bytes.empty() && !all(0xFF) && !all(0x00);
}

SignatureRead ReadSignature(ChipSession& s)
{
    SignatureRead read;
    if (s.Chip.Signature.Length == 0)
        return read;
    if (!OpenProgramming(s)) {
        read.Result = OpResult::Refused;
        return read;
    }
    SignatureReader reader(s);
    if (s.Chip.Enable == EnableJudgement::AnswerCompared)
        reader.KnownFourByte(); // the enable was answered with its echo
    bool ok = reader.Read(s.Chip.Signature);
    for (auto d = Devices().begin(); ok && !reader.Holds(s.Chip) && d != Devices().end(); ++d) {
        ok = reader.Read(d->Signature);
        if (ok && reader.Holds(*d))
            break;
    }
    read.Found = ok ? reader.Found(&s.Chip) : nullptr;
    read.Bytes = reader.Bytes(read.Found ? read.Found->Signature : s.Chip.Signature);
    if (!ok)
        read.Result = s.Link.Refused ? OpResult::Refused : OpResult::Failed;
    return read;
}

ChipState ReadChipState(ChipSession& s)
{
    ChipState state;
    if (s.Chip.ReadBack == ReadBackKind::None)
        return state;
    if (!OpenProgramming(s)) {
        state.Result = OpResult::Refused;
        return state;
    }
    if (const auto lock = ReadAgreeing(s, std::span(&kReadLockBits, 1)))
        state.LockBits = LockBitsOf(s.Chip, lock->front());
    if (s.Chip.HasFuse && !s.Link.Refused)
        if (const auto fuses = ReadAgreeing(s, std::span(&kReadFuses, 1)))
            state.Fuses = uint8_t(fuses->front() & 0x0F);
    if (s.Link.Refused)
        state.Result = OpResult::Refused;
    return state;
}

std::string LockBitsWords(uint8_t programmed)
{
    programmed &= 7;
    if (programmed == 0)
        return "none programmed (mode 1)";
    std::vector<std::string> names;
    for (int n = 1; n <= 3; ++n)
        if (programmed & 1 << (n - 1))
            names.push_back("LB" + std::to_string(n));
    std::string text = names.front();
    for (size_t i = 1; i < names.size(); ++i)
        text += (i + 1 == names.size() ? " and " : ", ") + names[i];
    text += " programmed";
    // The lock modes are made in order: LB1, then LB2, then LB3.
    if (programmed == 1 || programmed == 3 || programmed == 7)
        text += " (mode " + std::to_string(names.size() + 1) + ")";
    return text;
}

std::vector<std::string> ChipStateLines(const Device& chip, const ChipState& state)
{
    std::vector<std::string> lines;
    const std::string unsettled = " did not read the same often enough to be taken: the line is too noisy";
    if (chip.ReadBack == ReadBackKind::None)
        lines.push_back("Lock bits: the " + Name(chip) + " cannot read them back (it has no serial lock-bit read)");
    else if (state.LockBits)
        lines.push_back("Lock bits: " + LockBitsWords(*state.LockBits));
    else
        lines.push_back("Lock bits:" + unsettled);
    if (chip.HasFuse) {
        if (state.Fuses) {
            lines.push_back(std::string("x2 clock: ") + (*state.Fuses & 0x02 ? "off" : "on"));
            std::string nibble;
            for (int bit = 3; bit >= 0; --bit)
                nibble += std::string(bit < 3 ? " " : "") + (*state.Fuses >> bit & 1 ? "1" : "0");
            lines.push_back("User fuses F4-F1: " + nibble + " (0 = programmed)");
        } else {
            lines.push_back("User fuses:" + unsettled);
        }
    }
    if (!chip.Signature.Verified)
        lines.push_back("The " + Name(chip) +
                        "'s signature, lock-bit and fuse reads rest on ISP firmware, not a datasheet: unverified");
    return lines;
}

DetectReport DetectChip(LinkState& link, CodeBuffer& buffer)
{
    DetectReport report;
    // Every four-byte part takes the AT89S51/52's serial clock; the
    // three-byte parts are clocked as the AT89S8252.
    const Device& fourByte = *FindDevice(1);
    const Device& threeByte = *FindDevice(3);
    ApplyClockFloor(link, fourByte);
    SetProgramModeLines(link);
    if (!link.Port->GetPortBit(link.StatusPort, pin::Sense)) {
        report.Diagnosis = kSenseLow;
        return report;
    }

    ChipSession four{link, buffer, fourByte};
    const bool answered = EnterProgramming(four);
    const LinkState::EnablesSeen fourSeen = link.Enables;
    SignatureReader reader(four);
    if (answered)
        reader.KnownFourByte();
    bool ok = !link.Refused;
    const Device* found = nullptr;
    for (auto d = Devices().begin(); ok && !found && d != Devices().end(); ++d) {
        ok = d->Signature.Length == 0 || reader.Read(d->Signature);
        found = ok ? reader.Found(nullptr) : nullptr;
    }
    if (link.Refused) {
        report.Diagnosis = NoAnswerDiagnosis(link);
        return report;
    }
    if (found) {
        report.What = DetectReport::Kind::Found;
        report.Chip = found;
        report.Signature = reader.Bytes(found->Signature);
        ChipSession chip{link, buffer, *found};
        report.State = ReadChipState(chip);
        return report;
    }
    if (ok && answered) {
        // Only the AT89S51/52 are documented to answer 69: read as one.
        report.What = DetectReport::Kind::FourByte;
        report.Signature = reader.Bytes(fourByte.Signature);
        ChipSession s5x{link, buffer, fourByte};
        report.State = ReadChipState(s5x);
        return report;
    }

    if (!answered && fourSeen.Low && link.CrystalHz > kMinCrystalHz) {
        // Something drove MISO without the echo: once more with the serial
        // clock slowed down for the slowest crystal. A chip that answers
        // then is a four-byte part clocked too fast for its crystal.
        const uint32_t crystal = link.CrystalHz;
        link.CrystalHz = kMinCrystalHz;
        const bool slowAnswered = EnterProgramming(four);
        link.CrystalHz = crystal;
        ApplyClockFloor(link, fourByte);
        if (link.Refused) {
            report.Diagnosis = NoAnswerDiagnosis(link);
            return report;
        }
        if (slowAnswered) {
            report.Diagnosis = "The chip answered the programming enable only with the serial clock slowed down "
                               "for a 1 MHz crystal: the serial clock is too fast for the crystal on the board. "
                               "Set that crystal under Option > \"Target crystal...\" (--crystal on the command "
                               "line), then detect again.";
            return report;
        }
    }

    // The three-byte set: its enable is not answered, but a chip that is
    // there drives MISO while it reads its code; a line without one floats.
    link.Enables = {};
    ChipSession three{link, buffer, threeByte};
    EnterProgramming(three);
    LinkState::EnablesSeen seen = fourSeen;
    seen.High = seen.High || link.Enables.High;
    seen.Low = seen.Low || link.Enables.Low;
    bool high = link.Enables.High, low = link.Enables.Low;
    Instruction reads(link);
    for (int32_t address = 0; address < 4; ++address)
        AddReadCode(three, reads, address);
    std::vector<uint8_t> in;
    if (!link.Refused && reads.Exchange(in))
        for (uint8_t byte : in) {
            high = high || byte != 0x00;
            low = low || byte != 0xFF;
        }
    if (link.Refused) {
        report.Diagnosis = NoAnswerDiagnosis(link);
    } else if (high && low) {
        report.What = DetectReport::Kind::ThreeByte;
    } else if (!ok) {
        // The signature reads never agreed, and no three-byte chip answers.
        report.Diagnosis = kNoisySignature;
    } else {
        seen.High = seen.High || high;
        seen.Low = seen.Low || low;
        report.Diagnosis = LinesDiagnosis(link, seen);
    }
    return report;
}

std::vector<std::string> DetectLines(const DetectReport& report)
{
    std::vector<std::string> lines;
    const std::string signature = "Signature " + HexBytes(report.Signature);
    switch (report.What) {
    case DetectReport::Kind::Found:
        lines.push_back(signature + ": " + Name(*report.Chip));
        for (const std::string& line : ChipStateLines(*report.Chip, report.State))
            lines.push_back(line);
        lines.push_back("Chip found: " + Name(*report.Chip));
        break;
    case DetectReport::Kind::FourByte: {
        SignatureRead read;
        read.Bytes = report.Signature;
        lines.push_back(read.Readable() ? signature + ": no device has it"
                                        : signature + ": not readable (an AT89S51 or AT89S52 in lock mode 3 or 4 "
                                                      "hides it)");
        for (const std::string& line : ChipStateLines(*FindDevice(1), report.State))
            lines.push_back(line);
        lines.push_back(read.Readable()
                            ? "Chip found: a chip of the four-byte instruction set whose signature no device has"
                            : "Chip found: an AT89S51 or AT89S52 that hides its signature; choose the device");
        break;
    }
    case DetectReport::Kind::ThreeByte:
        lines.push_back("Lock bits: the AT89S53 and AT89S8252 cannot read them back (no serial lock-bit read)");
        lines.push_back("Chip found: an AT89S53 or AT89S8252, which have no serial signature to tell them apart; "
                        "choose the device");
        break;
    case DetectReport::Kind::Nothing:
        lines.push_back("No chip detected: " + report.Diagnosis);
        break;
    }
    return lines;
}

std::string NoAnswerDiagnosis(LinkState& link)
{
    if (link.SenseLow)
        return kSenseLow;
    return LinesDiagnosis(link, link.Enables);
}

} // namespace qvx
