#include "Config.h"
#include "CodeBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <cstdio>

namespace qvx {

std::string ReadWholeFile(const std::string& path, std::string& text)
{
    text.clear();
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return std::strerror(errno);
    char chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        text.append(chunk, n);
    const int err = std::ferror(file) ? errno : 0;
    std::fclose(file);
    return err ? std::strerror(err) : std::string();
}

// Character of code 26: the end-of-file mark of text files.
static constexpr char kEndOfFile = 26;

void ParseConfig(const std::string& text, int32_t (&values)[5])
{
    for (int32_t& v : values)
        v = 0;
    // A code 26 ends the file as if nothing followed it; a read beyond the
    // end yields that character.
    const size_t end = std::min(text.find(kEndOfFile), text.size());
    size_t pos = 0;
    auto read = [&]() -> char { return pos < end ? text[pos++] : (pos++, kEndOfFile); };
    int field = 1;
    while (pos < end) {
        if (read() != '[')
            continue;
        const char d1 = read(), d2 = read(), d3 = read(), d4 = read();
        if (field <= 5)
            values[field - 1] = HexWordValue(d1, d2, d3, d4);
        ++field;
    }
}

std::string ReadConfig(int32_t& value1, int32_t& value2, int32_t& value3, int32_t& value4,
                       int32_t& value5, const std::string& fileName)
{
    value1 = value2 = value3 = value4 = value5 = 0;

    std::error_code ec;
    const std::filesystem::path path = std::filesystem::current_path(ec) / fileName;
    std::string text;
    if (const std::string error = ReadWholeFile(path.string(), text); !error.empty())
        return "Cannot read the configuration file " + path.string() + ": " + error;

    int32_t values[5] = {};
    ParseConfig(text, values);
    value1 = values[0];
    value2 = values[1];
    value3 = values[2];
    value4 = values[3];
    value5 = values[4];
    return {};
}

} // namespace qvx
