#include "ImageFile.h"
#include "Config.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {

ImageFormat FormatOfName(const std::string& path)
{
    static constexpr char kSuffix[] = ".bin";
    constexpr size_t n = sizeof kSuffix - 1;
    if (path.size() < n)
        return ImageFormat::IntelHex;
    for (size_t i = 0; i < n; ++i) {
        const char c = path[path.size() - n + i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != kSuffix[i])
            return ImageFormat::IntelHex;
    }
    return ImageFormat::Binary;
}

HexResult LoadImageFile(const std::string& path, CodeBuffer& buffer)
{
    if (FormatOfName(path) == ImageFormat::IntelHex)
        return LoadHexFromFile(path, buffer);

    ClearBuffer(buffer);
    HexResult result;
    std::string bytes;
    if (std::string error = ReadWholeFile(path, bytes); !error.empty()) {
        result.Status = HexStatus::CannotOpen;
        result.Error = std::move(error);
        return result;
    }
    if (bytes.size() > size_t(kBufferSize)) {
        result.Status = HexStatus::Invalid;
        result.Error = "it holds " + std::to_string(bytes.size()) + " bytes, the code memory " +
                       std::to_string(kBufferSize);
        return result;
    }
    for (size_t a = 0; a < bytes.size(); ++a) {
        const auto byte = static_cast<uint8_t>(bytes[a]);
        buffer.CodeHigh[a] = HexDigitChar(byte >> 4);
        buffer.CodeLow[a] = HexDigitChar(byte & 0x0F);
    }
    result.EndAddress = static_cast<int32_t>(bytes.size());
    return result;
}

uint8_t BufferByte(const CodeBuffer& buffer, int32_t address)
{
    if (address < 0 || address >= kBufferSize)
        return 0xFF; // no such byte: as erased
    const int32_t high = HexDigitValue(buffer.CodeHigh[address]);
    const int32_t low = HexDigitValue(buffer.CodeLow[address]);
    return static_cast<uint8_t>((high < 0 ? 0xF : high) << 4 | (low < 0 ? 0xF : low));
}

static int32_t Clamp(int32_t size) { return std::clamp(size, int32_t(0), kBufferSize); }

std::string BinaryImage(const CodeBuffer& buffer, int32_t size)
{
    std::string bytes(size_t(Clamp(size)), '\0');
    for (size_t a = 0; a < bytes.size(); ++a)
        bytes[a] = static_cast<char>(BufferByte(buffer, int32_t(a)));
    return bytes;
}

std::string HexImageText(const CodeBuffer& buffer, int32_t size)
{
    size = Clamp(size);
    std::string text;
    text.reserve(size_t(size / 16 + 2) * 44);
    char field[24]; // room for any two numbers, so no output is ever cut
    for (int32_t address = 0; address < size; address += 16) {
        const int32_t count = std::min<int32_t>(16, size - address);
        unsigned sum = unsigned(count) + unsigned(address >> 8) + unsigned(address & 0xFF);
        std::snprintf(field, sizeof field, "%02X%04X", unsigned(count), unsigned(address));
        text += ':';
        text += field;
        text += "00";
        for (int32_t i = 0; i < count; ++i) {
            const uint8_t byte = BufferByte(buffer, address + i);
            std::snprintf(field, sizeof field, "%02X", byte);
            text += field;
            sum += byte;
        }
        std::snprintf(field, sizeof field, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += field;
    }
    text += ":00000001FF\n";
    return text;
}

namespace {

// Writes all of `bytes` to `fd`; returns 0 or an errno value.
int WriteAll(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        done += size_t(n);
    }
    return 0;
}

// Creates a new file beside `path` under a name no other file has; returns
// its descriptor, or -1 with errno set.
int CreateTemporary(const std::string& path, std::string& temporary)
{
    static std::atomic<unsigned> serial{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = path + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

} // namespace

std::string ReplaceFile(const std::string& path, const std::string& bytes)
{
    std::string temporary;
    const int fd = CreateTemporary(path, temporary);
    if (fd < 0)
        return std::strerror(errno);

    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode))
        ::fchmod(fd, existing.st_mode & 07777);

    int error = WriteAll(fd, bytes);
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return std::strerror(error);
    }
    return {};
}

std::string WriteImageFile(const std::string& path, const CodeBuffer& buffer, int32_t size)
{
    return ReplaceFile(path, FormatOfName(path) == ImageFormat::Binary ? BinaryImage(buffer, size)
                                                                       : HexImageText(buffer, size));
}

} // namespace qvx
