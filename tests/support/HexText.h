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

// Intel HEX text for data given as address -> bytes, 16 bytes a record.
inline std::string HexText(const std::map<int32_t, std::vector<uint8_t>>& data)
{
    std::string text;
    auto record = [&](int32_t address, int type, const uint8_t* bytes, size_t n) {
        char line[64];
        unsigned sum = unsigned(n) + (address >> 8) + (address & 0xFF) + type;
        std::snprintf(line, sizeof line, ":%02X%04X%02X", unsigned(n), unsigned(address), type);
        text += line;
        for (size_t i = 0; i < n; ++i) {
            std::snprintf(line, sizeof line, "%02X", bytes[i]);
            text += line;
            sum += bytes[i];
        }
        std::snprintf(line, sizeof line, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += line;
    };
    for (const auto& [address, bytes] : data)
        for (size_t i = 0; i < bytes.size(); i += 16)
            record(address + int32_t(i), 0, bytes.data() + i, std::min<size_t>(16, bytes.size() - i));
    record(0, 1, nullptr, 0);
    return text;
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
