#include "Config.h"
#include "CodeBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {

std::string ReadWholeFile(const std::string& path, std::string& text)
{
    text.clear();
    // Without blocking: a named pipe would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::strerror(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int err = errno;
        ::close(fd);
        return S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : info.st_mode ? "not a regular file (a pipe or a device)" : std::strerror(err);
    }
    if (uint64_t(info.st_size) > kLargestTextFile) {
        ::close(fd);
        return "it holds " + std::to_string(info.st_size) + " bytes, more than the " +
               std::to_string(kLargestTextFile >> 20) + " MB a text file of this program may have";
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            text.clear();
            return std::strerror(err);
        }
        if (n == 0)
            break;
        text.append(chunk, size_t(n));
        if (text.size() > kLargestTextFile) { // it grew while being read
            ::close(fd);
            text.clear();
            return "it grew beyond " + std::to_string(kLargestTextFile >> 20) + " MB while being read";
        }
    }
    ::close(fd);
    return {};
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
