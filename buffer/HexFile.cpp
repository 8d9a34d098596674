#include "HexFile.h"
#include "Config.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qvx {

namespace {

// Character of code 26: the end-of-file mark of text files.
constexpr char kEndOfFile = 26;

int DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

std::string Hex(uint64_t value, int digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
    return text;
}

std::string Describe(char c)
{
    const auto code = static_cast<unsigned char>(c);
    if (code > 32 && code < 127)
        return std::string("'") + c + "'";
    return "a character of code " + std::to_string(code);
}

HexResult Refuse(int line, std::string what)
{
    HexResult result;
    result.Status = HexStatus::Invalid;
    result.Line = line;
    result.Error = std::move(what);
    return result;
}

// Checks one record (the text after its ":", line end excluded) and
// decodes its bytes. Returns an empty string when the record is sound.
std::string DecodeRecord(std::string_view digits, std::vector<uint8_t>& bytes)
{
    while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t'))
        digits.remove_suffix(1);
    for (char c : digits)
        if (DigitValue(c) < 0)
            return "the record holds " + Describe(c) + ", which is no hex digit";
    if (digits.size() < 10)
        return "the record is cut short: it has " + std::to_string(digits.size()) +
               " digits, a record needs at least 10";
    const int count = DigitValue(digits[0]) * 16 + DigitValue(digits[1]);
    const size_t needed = 10 + 2 * size_t(count);
    if (digits.size() != needed)
        return "the byte count " + Hex(count, 2) + " announces " + std::to_string(count) +
               " data bytes, which take " + std::to_string(needed) + " digits, but the record has " +
               std::to_string(digits.size());
    bytes.clear();
    unsigned sum = 0;
    for (size_t i = 0; i < digits.size(); i += 2) {
        const auto byte = static_cast<uint8_t>(DigitValue(digits[i]) * 16 + DigitValue(digits[i + 1]));
        bytes.push_back(byte);
        sum += byte;
    }
    if ((sum & 0xFF) != 0) {
        const uint8_t given = bytes.back();
        const auto right = static_cast<uint8_t>(given - sum);
        return "the checksum is " + Hex(given, 2) + ", the record's bytes need " + Hex(right, 2);
    }
    return {};
}

} // namespace

std::string MemoryText(const MemoryArea& area)
{
    return "the " + std::to_string(area.Size / 1024) + " KB " + area.Name;
}

HexResult LoadHexText(std::string_view text, CodeBuffer& buffer, const MemoryArea& area)
{
    ClearBuffer(buffer);
    const size_t end = std::min(text.find(kEndOfFile), text.size());
    text = text.substr(0, end);

    HexResult result;
    // Every address is worked out in 64 bits, so that no base and record
    // address can add up past 2^32 and come out small again.
    uint64_t base = 0; // from the extended address records
    int line = 1;
    size_t pos = 0;
    std::vector<uint8_t> bytes;
    auto fail = [&](int at, std::string what) {
        ClearBuffer(buffer);
        return Refuse(at, std::move(what));
    };

    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && pos < text.size() && text[pos] == '\n')
                ++pos;
            ++line;
            continue;
        }
        if (c != ':')
            continue;

        const size_t stop = std::min(text.find_first_of("\r\n", pos), text.size());
        const std::string_view digits = text.substr(pos, stop - pos);
        pos = stop;
        if (std::string problem = DecodeRecord(digits, bytes); !problem.empty())
            return fail(line, std::move(problem));

        const int count = bytes[0];
        const uint64_t address = uint64_t(bytes[1]) << 8 | bytes[2];
        const int type = bytes[3];
        const uint8_t* data = bytes.data() + 4;

        switch (type) {
        case 0x00: {
            const uint64_t first = base + address;
            const uint64_t end = first + uint64_t(count); // one past the last byte
            if (end > uint64_t(std::min(area.Size, kBufferSize)))
                return fail(line, "data at address " + Hex(first, 4) + " to " + Hex(end - (count > 0), 4) +
                                      " lies beyond " + MemoryText(area) + " (0000 to " + Hex(area.Size - 1, 4) +
                                      ")");
            for (int j = 0; j < count; ++j) {
                const size_t at = static_cast<size_t>(first) + size_t(j);
                buffer.CodeHigh[at] = HexDigitChar(data[j] >> 4);
                buffer.CodeLow[at] = HexDigitChar(data[j] & 0x0F);
            }
            result.EndAddress = std::max(result.EndAddress, static_cast<int32_t>(end));
            break;
        }
        case 0x01: // end of file: its own address counts like a data record's
            if (count != 0)
                return fail(line, "an end-of-file record holds no data, this one has " + std::to_string(count) +
                                      " bytes");
            result.EndAddress = std::max(result.EndAddress, static_cast<int32_t>(address));
            return result;
        case 0x02:
        case 0x04:
            if (count != 2)
                return fail(line, std::string(type == 2 ? "an extended segment" : "an extended linear") +
                                      " address record needs 2 data bytes, this one has " +
                                      std::to_string(count));
            base = (uint64_t(data[0]) << 8 | data[1]) << (type == 2 ? 4 : 16);
            break;
        case 0x03:
        case 0x05: // start address: nothing to store for a chip programmer
            if (count != 4)
                return fail(line, std::string(type == 3 ? "a start segment" : "a start linear") +
                                      " address record needs 4 data bytes, this one has " +
                                      std::to_string(count));
            break;
        default:
            return fail(line, "the record type " + Hex(type, 2) + " is unknown (types 00 to 05 exist)");
        }
    }
    return result;
}

HexResult LoadHexFromFile(const std::string& path, CodeBuffer& buffer, const MemoryArea& area)
{
    ClearBuffer(buffer);
    std::string text;
    if (std::string error = ReadWholeFile(path, text); !error.empty()) {
        HexResult result;
        result.Status = HexStatus::CannotOpen;
        result.Error = std::move(error);
        return result;
    }
    return LoadHexText(text, buffer, area);
}

} // namespace qvx
