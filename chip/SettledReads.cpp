#include "SettledReads.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace qvx {

void Tally::Add(uint8_t value)
{
    ++reads;
    for (int b = 0; b < 8; ++b)
        ones[b] = uint16_t(ones[b] + (value >> (7 - b) & 1));
}

void Tally::Restart()
{
    spent = uint16_t(spent + reads);
    reads = 0;
    std::fill(std::begin(ones), std::end(ones), uint16_t(0));
}

uint8_t Tally::Majority() const
{
    unsigned value = 0;
    for (int b = 0; b < 8; ++b)
        value = value << 1 | (2 * ones[b] > reads ? 1u : 0u);
    return uint8_t(value);
}

int Tally::Margin(int b, uint8_t value) const
{
    const int one = ones[b], zero = reads - ones[b];
    return value >> (7 - b) & 1 ? one - zero : zero - one;
}

int Tally::Flips() const
{
    int flips = 0;
    for (int b = 0; b < 8; ++b)
        flips += std::min<int>(ones[b], reads - ones[b]);
    return flips;
}

double FlipRate(uint64_t flips, uint64_t bits)
{
    if (flips == 0 || bits == 0)
        return 0;
    const double f = double(flips);
    return std::min(0.5, (f + std::sqrt(f) + 1) / double(bits));
}

namespace {

constexpr int kUnreachable = 1 << 20;

// The margin m with (rate / (1 - rate))^m below `chance`, at least `least`.
int MarginFor(double rate, double chance, int least)
{
    if (rate <= 0)
        return least;
    if (rate >= 0.5)
        return kUnreachable;
    const double m = std::ceil(std::log(1 / chance) / std::log((1 - rate) / rate));
    return std::max(least, int(std::min<double>(m, kUnreachable)));
}

} // namespace

Margins MarginsFor(double rate, int32_t bytes)
{
    const double bits = 8.0 * std::max<int32_t>(bytes, 1);
    return {MarginFor(rate, 1e-9 / bits, 2), MarginFor(rate, 1e-9, 1), MarginFor(rate, 1e-6 / bits, 3)};
}

namespace {

enum class Verdict { More, Settled, Differs };

// What is read in one instruction: a page, or one byte.
struct Unit {
    int32_t base;
    bool page;
};

class Settler {
public:
    Settler(ChipSession& s, const SettleJob& job) : s_(s), job_(job)
    {
        out_.tallies.assign(size_t(job.end - job.first + 1), {});
    }

    SettleOutcome Run();

private:
    Tally& At(int32_t address) { return out_.tallies[size_t(address - job_.first)]; }
    Verdict Judge(int32_t address, const Margins& m);
    std::vector<Unit> Units(bool pages) const;
    int32_t LastOf(const Unit& u) const
    {
        return std::min(job_.end, u.page ? u.base + s_.Chip.Page.ReadBytes - 1 : u.base);
    }
    // Reads each unit `repeat` times, as many to an exchange as the port
    // takes, into the tallies; false when the command was refused.
    bool Read(const std::vector<Unit>& units, int repeat, bool first);
    // The first page read of a command whose page header is unsure, against
    // byte reads of the same page: most bytes the same, or the page reads
    // are not the chip's form. False when the command was refused.
    bool CheckPageForm(const Unit& page, bool& works);
    void ShowProgressTo(int32_t address);
    // The flip rate of all reads so far.
    double Rate();

    ChipSession& s_;
    const SettleJob& job_;
    SettleOutcome out_;
    int32_t shown_ = -1; // the progress bar shows this address
};

Verdict Settler::Judge(int32_t address, const Margins& m)
{
    const Tally& t = At(address);
    if (!job_.expected) {
        for (int b = 0; b < 8; ++b)
            if (std::abs(2 * t.ones[b] - t.reads) < m.read)
                return Verdict::More;
        return Verdict::Settled;
    }
    const uint8_t expected = job_.expected(address);
    bool passed = true;
    for (int b = 0; b < 8; ++b) {
        const int margin = t.Margin(b, expected);
        if (margin <= -m.fail)
            return Verdict::Differs;
        passed = passed && margin >= m.pass;
    }
    return passed ? Verdict::Settled : Verdict::More;
}

std::vector<Unit> Settler::Units(bool pages) const
{
    std::vector<Unit> units;
    const int32_t size = s_.Chip.Page.ReadBytes;
    if (pages) {
        for (int32_t base = job_.first / size * size; base <= job_.end; base += size)
            units.push_back({base, true});
    } else {
        for (int32_t a = job_.first; a <= job_.end; ++a)
            units.push_back({a, false});
    }
    return units;
}

void Settler::ShowProgressTo(int32_t address)
{
    if (job_.progressLast < 0)
        return;
    for (; shown_ < address; ++shown_)
        ShowProgress(s_.Panel(), shown_ + 1, job_.progressLast);
}

bool Settler::Read(const std::vector<Unit>& units, int repeat, bool first)
{
    if (units.empty())
        return true;
    const bool page = units.front().page;
    const size_t length = page ? PageReadLength(s_.Chip) : InstructionLength(s_.Chip);
    const size_t header = size_t(s_.Chip.Page.HeaderBytes);
    const size_t perExchange = size_t(std::max(1, InstructionsPerExchange(s_.Link, length) / repeat));
    std::vector<uint8_t> in;
    for (size_t at = 0; at < units.size(); at += perExchange) {
        const size_t count = std::min(perExchange, units.size() - at);
        Instruction ins(s_.Link);
        for (size_t k = at; k < at + count; ++k)
            for (int r = 0; r < repeat; ++r)
                page ? AddReadPage(s_, ins, units[k].base) : AddReadByte(s_, ins, units[k].base);
        if (!ins.Exchange(in))
            return false;
        size_t offset = 0;
        for (size_t k = at; k < at + count; ++k) {
            for (int r = 0; r < repeat; ++r, offset += length) {
                if (!page) {
                    At(units[k].base).Add(in[offset + length - 1]);
                    continue;
                }
                for (int32_t a = std::max(units[k].base, job_.first); a <= LastOf(units[k]); ++a)
                    At(a).Add(in[offset + header + size_t(a - units[k].base)]);
            }
        }
        if (first)
            ShowProgressTo(LastOf(units[at + count - 1]));
    }
    return true;
}

bool Settler::CheckPageForm(const Unit& page, bool& works)
{
    Instruction pageRead(s_.Link), byteReads(s_.Link);
    AddReadPage(s_, pageRead, page.base);
    const int32_t last = LastOf(page), from = std::max(page.base, job_.first);
    for (int32_t a = from; a <= last; ++a)
        AddReadCode(s_, byteReads, a);
    std::vector<uint8_t> byPage, byByte;
    if (!pageRead.Exchange(byPage) || !byteReads.Exchange(byByte))
        return false;
    const size_t header = size_t(s_.Chip.Page.HeaderBytes), length = InstructionLength(s_.Chip);
    int32_t differ = 0;
    for (int32_t a = from; a <= last; ++a)
        differ += byPage[header + size_t(a - page.base)] != byByte[size_t(a - from) * length + length - 1];
    works = 2 * differ < last - from + 1;
    if (works) {
        for (int32_t a = from; a <= last; ++a) {
            At(a).Add(byPage[header + size_t(a - page.base)]);
            At(a).Add(byByte[size_t(a - from) * length + length - 1]);
        }
    }
    return true;
}

double Settler::Rate()
{
    out_.flips = out_.bits = 0;
    for (const Tally& t : out_.tallies) {
        out_.flips += uint64_t(t.Flips());
        out_.bits += 8u * t.reads;
    }
    return FlipRate(out_.flips, out_.bits);
}

SettleOutcome Settler::Run()
{
    if (out_.tallies.empty())
        return std::move(out_);
    const int32_t bytes = job_.end - job_.first + 1;
    // A refused command keeps what settled before it, from the first byte on.
    const auto refused = [&] {
        out_.result = OpResult::Refused;
        const Margins m = MarginsFor(Rate(), bytes);
        out_.stop = job_.first;
        while (out_.stop <= job_.end && Judge(out_.stop, m) == Verdict::Settled)
            ++out_.stop;
        return std::move(out_);
    };
    // The page instructions read code only.
    bool pages = job_.pages && s_.Array == MemoryArray::Code && s_.Chip.Page.ReadBytes > 0 &&
                 s_.Pages != PageForm::Refused && PortTakes(s_, PageReadLength(s_.Chip));
    std::vector<Unit> units = Units(pages);
    if (pages && s_.Chip.Page.HeaderUnsure && s_.Pages == PageForm::Unchecked) {
        bool works = false;
        if (!CheckPageForm(units.front(), works))
            return refused();
        s_.Pages = works ? PageForm::Works : PageForm::Refused;
        if (!works) {
            char line[128];
            std::snprintf(line, sizeof line,
                          "The %s's page read at %04X did not match its byte reads; reading byte by byte",
                          std::string(s_.Chip.Name).c_str(), unsigned(units.front().base));
            s_.Panel().Log(line);
            ReenableProgramming(s_); // the chip may have taken the page's bytes for instructions
            pages = false;
            units = Units(false);
        }
    }
    if (!Read(units, job_.firstReads, true))
        return refused();

    bool reenabled = false;
    for (int32_t next = job_.first;;) {
        const double rate = Rate();
        const Margins m = MarginsFor(rate, bytes);
        Verdict verdict = Verdict::More;
        while (next <= job_.end && (verdict = Judge(next, m)) == Verdict::Settled)
            ++next;
        if (next > job_.end || verdict == Verdict::Differs) {
            out_.stop = next > job_.end ? -1 : next;
            break;
        }
        // The bytes from `next` on that are still unsettled, up to the first
        // that already differs (a check stops there), are read again: their
        // page, or the bytes alone where that is fewer bits on the wire;
        // unless at this rate a bit takes more reads than a byte may to get
        // that far ahead (each read puts it one further with chance 1 - p,
        // one back with chance p).
        std::vector<Unit> again, alone;
        bool restart = false;
        const int need = job_.expected ? m.pass : m.read;
        const bool reachable = rate < 0.5 && need <= (1 - 2 * rate) * job_.maxReads;
        const size_t byteLength = InstructionLength(s_.Chip);
        for (const Unit& u : units) {
            if (LastOf(u) < next)
                continue;
            std::vector<Unit> wanted;
            bool past = false;
            for (int32_t a = std::max(u.base, next); a <= LastOf(u) && !past; ++a) {
                const Verdict v = Judge(a, m);
                past = v == Verdict::Differs;
                if (v == Verdict::More && At(a).reads + At(a).spent < job_.maxReads) {
                    wanted.push_back({a, false});
                    restart = restart || (!reenabled && At(a).reads + At(a).spent + 1 >= job_.reenableAt);
                }
            }
            if (reachable && !wanted.empty()) {
                if (u.page && wanted.size() * byteLength >= PageReadLength(s_.Chip))
                    again.push_back(u);
                else
                    alone.insert(alone.end(), wanted.begin(), wanted.end());
            }
            if (past)
                break;
        }
        if ((again.empty() && alone.empty()) || At(next).reads + At(next).spent >= job_.maxReads) {
            out_.result = OpResult::Failed;
            out_.stop = next;
            break;
        }
        if (restart) {
            // Programming is entered again, as a chip that has lost step
            // would need; the reads before it do not count.
            reenabled = true;
            ReenableProgramming(s_);
            for (const std::vector<Unit>* list : {&again, &alone})
                for (const Unit& u : *list)
                    for (int32_t a = std::max(u.base, next); a <= LastOf(u); ++a)
                        if (Judge(a, m) == Verdict::More)
                            At(a).Restart();
        }
        if (!Read(again, 1, false) || !Read(alone, 1, false))
            return refused();
    }
    if (s_.Link.Refused)
        return refused();
    s_.FlipRate = std::max(s_.FlipRate, Rate());
    const int32_t settled = out_.stop < 0 ? job_.end : out_.stop - 1;
    if (settled > shown_)
        ShowProgressTo(settled);
    else if (settled < shown_ && job_.progressLast >= 0 && settled >= job_.first)
        ShowProgress(s_.Panel(), shown_ = settled, job_.progressLast);
    return std::move(out_);
}

} // namespace

SettleOutcome ReadUntilSettled(ChipSession& s, const SettleJob& job)
{
    Settler settler(s, job);
    return settler.Run();
}

std::string NoisyLineMessage(const SettleOutcome& outcome)
{
    const int32_t address = std::max(outcome.stop, 0);
    char rate[64] = "bits";
    if (outcome.flips > 0)
        std::snprintf(rate, sizeof rate, "about one bit in %llu",
                      (unsigned long long)std::max<uint64_t>(1, outcome.bits / outcome.flips));
    char text[512];
    std::snprintf(text, sizeof text,
                  "The line from the chip (MISO) is too noisy: %s read came back flipped, and the byte at %04X "
                  "did not read the same often enough to be taken. Check that the cable is short and firmly "
                  "plugged in, that the target board shares a ground with the cable and has a steady supply, "
                  "and that the crystal set for the target is not above the one on its board; then try again.",
                  rate, unsigned(address));
    return text;
}

} // namespace qvx
