// libFuzzer target for the Intel HEX loader that gets past the checksum: the
// fuzzer's bytes choose records (all six types and unknown ones, counts,
// addresses near the top of each 64 KB bank, extended addresses), which are
// written with correct checksums (now and then a wrong one), digits in upper
// or lower case, CR/LF, LF or CR line ends, text and blank lines between
// records and now and then the end-of-file character 26.
//
// The same records run through a model of the loader kept here, so that the
// result is checked exactly: refused with the first bad record's line, or
// loaded with the model's buffer and end address. With a last byte flipped
// to anything, only the loader's promises are checked: it stays inside the
// buffer, leaves only upper-case digits, and an empty buffer when it refuses.
#include "BufferCheck.h"
#include "HexFile.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Model {
    std::array<int16_t, qvx::kBufferSize> bytes; // -1: not loaded (FF)
    int32_t end = 0;
    int badLine = 0; // 0: every record good
    bool stopped = false;
};

char Digit(unsigned value, bool lower)
{
    return (lower ? "0123456789abcdef" : "0123456789ABCDEF")[value & 15];
}

uint16_t Address(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange(0, 3)) {
    case 0: return static_cast<uint16_t>(0xFFF0 | in.ConsumeIntegralInRange(0, 15)); // near the top
    case 1: return in.ConsumeIntegralInRange<uint16_t>(0, 0x30);
    default: return in.ConsumeIntegral<uint16_t>();
    }
}

uint16_t BaseValue(FuzzedDataProvider& in)
{
    static const uint16_t kInteresting[] = {0x0000, 0x0001, 0x0FFF, 0x1000, 0xF000, 0xFFFF, 0x8000};
    return in.ConsumeBool() ? kInteresting[in.ConsumeIntegralInRange<size_t>(0, std::size(kInteresting) - 1)]
                            : in.ConsumeIntegral<uint16_t>();
}

// One record: appends its text and plays it on the model.
void AddRecord(FuzzedDataProvider& in, std::string& text, int line, Model& model, uint64_t& base)
{
    static const int kTypes[] = {0, 0, 0, 0, 1, 2, 3, 4, 5, 4, 2};
    int type = kTypes[in.ConsumeIntegralInRange<size_t>(0, std::size(kTypes) - 1)];
    if (in.ConsumeProbability<float>() < 0.02f)
        type = in.ConsumeIntegral<uint8_t>(); // possibly unknown
    const uint16_t address = Address(in);
    std::vector<uint8_t> data;
    const bool usualSize = in.ConsumeProbability<float>() > 0.05f;
    if (type == 2 || type == 4) {
        const uint16_t value = BaseValue(in);
        data = {uint8_t(value >> 8), uint8_t(value)};
    } else if (type == 3 || type == 5) {
        data = in.ConsumeBytes<uint8_t>(4);
    } else if (type == 0 || !usualSize) {
        data = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<size_t>(0, usualSize ? 32 : 255));
    }
    if (!usualSize && (type >= 2 && type <= 5))
        data.resize(in.ConsumeIntegralInRange<size_t>(0, 6), 0x00);

    std::vector<uint8_t> bytes = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), uint8_t(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    uint8_t checksum = uint8_t(-sum);
    const bool wrongSum = in.ConsumeProbability<float>() < 0.02f;
    if (wrongSum)
        checksum = uint8_t(checksum + in.ConsumeIntegralInRange(1, 255));
    bytes.push_back(checksum);

    const int casing = in.ConsumeIntegralInRange(0, 2); // upper, lower, mixed
    text += ':';
    for (uint8_t b : bytes) {
        text += Digit(b >> 4, casing == 1 || (casing == 2 && in.ConsumeBool()));
        text += Digit(b, casing == 1 || (casing == 2 && in.ConsumeBool()));
    }

    if (model.badLine || model.stopped)
        return;
    const size_t count = data.size();
    bool good = !wrongSum;
    switch (type) {
    case 0: {
        const uint64_t first = base + address, end = first + count;
        good = good && end <= uint64_t(qvx::kBufferSize);
        if (good) {
            for (size_t j = 0; j < count; ++j)
                model.bytes[first + j] = data[j];
            model.end = std::max(model.end, int32_t(end));
        }
        break;
    }
    case 1:
        good = good && count == 0;
        if (good) {
            model.end = std::max(model.end, int32_t(address));
            model.stopped = true;
        }
        break;
    case 2:
    case 4:
        good = good && count == 2;
        if (good)
            base = uint64_t(data[0] << 8 | data[1]) << (type == 2 ? 4 : 16);
        break;
    case 3:
    case 5: good = good && count == 4; break;
    default: good = false;
    }
    if (!good)
        model.badLine = line;
}

// The buffer holds what the model says.
QVX_NOT_STEERING bool BufferIsModel(const qvx::CodeBuffer& buffer, const Model& model)
{
    static const char kUpper[] = "0123456789ABCDEF";
    const char* high = buffer.CodeHigh.data();
    const char* low = buffer.CodeLow.data();
    const int16_t* expected = model.bytes.data();
    bool same = true;
    for (int32_t a = 0; a < qvx::kBufferSize; ++a) {
        const int e = expected[a] < 0 ? 0xFF : expected[a];
        same &= high[a] == kUpper[e >> 4] && low[a] == kUpper[e & 15];
    }
    return same;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    FuzzedDataProvider in(bytes, size);
    static const auto buffer = std::make_unique<qvx::CodeBuffer>();
    static const auto model = std::make_unique<Model>();
    std::memset(model->bytes.data(), 0xFF, sizeof model->bytes); // -1 everywhere
    model->end = 0;
    model->badLine = 0;
    model->stopped = false;

    const bool flipOne = in.ConsumeProbability<float>() < 0.1f;
    std::string text;
    // The line a record starts on, counted as the loader counts: CR LF, LF
    // and CR each end a line.
    int line = 1;
    size_t counted = 0;
    auto countLines = [&] {
        for (; counted < text.size(); ++counted) {
            const char c = text[counted];
            line += c == '\r' || (c == '\n' && (counted == 0 || text[counted - 1] != '\r'));
        }
    };
    uint64_t base = 0;
    bool endOfFile = false; // a character 26 was written: nothing after it counts
    static const char* const kBetween[] = {"", "", "", "\n", "\r\n", "; comment without a colon\n",
                                           "   \t\n", "Firmware v1\r\n"};
    static const char* const kLineEnds[] = {"\n", "\r\n", "\r", "  \n", "\t\r\n"};
    while (in.remaining_bytes() > 0 && text.size() < 64 * 1024) {
        text += kBetween[in.ConsumeIntegralInRange<size_t>(0, std::size(kBetween) - 1)];
        if (in.ConsumeProbability<float>() < 0.01f) {
            text += '\x1A';
            endOfFile = true;
        }
        countLines();
        if (endOfFile) {
            static const auto ignored = std::make_unique<Model>(); // what follows the mark is not read
            ignored->badLine = 0;
            ignored->stopped = false;
            uint64_t ignoredBase = 0;
            AddRecord(in, text, line, *ignored, ignoredBase);
        } else {
            AddRecord(in, text, line, *model, base);
        }
        const std::string end = kLineEnds[in.ConsumeIntegralInRange<size_t>(0, std::size(kLineEnds) - 1)];
        if (in.remaining_bytes() > 0 || in.ConsumeBool())
            text += end;
    }
    if (flipOne && !text.empty())
        text[text.size() - 1 - (size % text.size())] = static_cast<char>(bytes[0] ^ 0x5A);

    const qvx::HexResult result = qvx::LoadHexText(text, *buffer);

    if (!BufferSound(*buffer, !result.Ok()))
        std::abort();
    if (flipOne)
        return 0;

    if (model->badLine) {
        if (result.Status != qvx::HexStatus::Invalid || result.Line != model->badLine || result.Error.empty())
            std::abort();
        return 0;
    }
    if (!result.Ok() || result.EndAddress != model->end)
        std::abort();
    if (!BufferIsModel(*buffer, *model))
        std::abort();
    return 0;
}
