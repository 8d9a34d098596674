// Intel HEX text for tests, written independently of the program's own
// HEX writer.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace qvx::test {

// One record with a correct checksum, upper-case digits, no line end.
inline std::string HexRecord(int type, uint16_t address, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> bytes = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address), uint8_t(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (uint8_t b : bytes)
        sum += b;
    bytes.push_back(uint8_t(-sum));
    std::string text = ":";
    char pair[3];
    for (uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    return text;
}

// Intel HEX text for data given as address -> bytes, 16 bytes a record.
inline std::string HexText(const std::map<int32_t, std::vector<uint8_t>>& data)
{
    std::string text;
    for (const auto& [address, bytes] : data)
        for (size_t i = 0; i < bytes.size(); i += 16)
            text += HexRecord(0, uint16_t(address + int32_t(i)),
                              {bytes.begin() + i, bytes.begin() + std::min(i + 16, bytes.size())}) + "\r\n";
    return text + HexRecord(1, 0, {}) + "\r\n";
}

} // namespace qvx::test

namespace qvx::test {

// The log's checksum line for `image`, worked out here bit by bit: the
// 16-bit sum and the reflected CRC-32 (polynomial EDB88320).
inline std::string ChecksumText(const std::string& device, const std::string& image)
{
    unsigned sum = 0;
    uint32_t crc = 0xFFFFFFFFu;
    for (const char c : image) {
        sum += uint8_t(c);
        crc ^= uint8_t(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    char text[96];
    std::snprintf(text, sizeof text, " image 0000-%04X: sum %04X, CRC-32 %08X", unsigned(image.size() - 1),
                  sum & 0xFFFFu, ~crc);
    return "Checksum " + device + text;
}

} // namespace qvx::test
