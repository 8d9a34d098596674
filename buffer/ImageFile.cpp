#include "ImageFile.h"
#include "Config.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace qvx {

namespace {

// Standard input as read the first time, or why it could not be.
struct StandardInput {
    bool read = false;
    std::string bytes;
    std::string error;
};

// Reads all of standard input once, at most kLargestTextFile bytes.
const StandardInput& ReadStandardInput()
{
    static StandardInput input;
    if (input.read)
        return input;
    input.read = true;
    if (::isatty(STDIN_FILENO) == 1) {
        input.error = "standard input is a terminal: send the file in through a pipe or with < FILE, or give "
                      "its name";
        return input;
    }
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            input.error = std::strerror(errno);
            break;
        }
        if (n == 0)
            break;
        input.bytes.append(chunk, size_t(n));
        if (input.bytes.size() > kLargestTextFile) {
            input.error = "standard input brings more than the " + std::to_string(kLargestTextFile >> 20) +
                          " MB a code file of this program may have";
            break;
        }
    }
    if (!input.error.empty())
        input.bytes.clear();
    return input;
}

} // namespace

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

HexResult LoadImageFile(const std::string& path, CodeBuffer& buffer, std::optional<ImageFormat> format,
                        const MemoryArea& area)
{
    ClearBuffer(buffer);
    HexResult result;
    std::string bytes;
    std::string error;
    if (path == kStandardStream) {
        const StandardInput& input = ReadStandardInput();
        bytes = input.bytes;
        error = input.error;
    } else {
        error = ReadWholeFile(path, bytes);
    }
    if (!error.empty()) {
        result.Status = HexStatus::CannotOpen;
        result.Error = std::move(error);
        return result;
    }
    if (format.value_or(FormatOfName(path)) == ImageFormat::IntelHex)
        return LoadHexText(bytes, buffer, area);
    if (bytes.size() > size_t(std::min(area.Size, kBufferSize))) {
        result.Status = HexStatus::Invalid;
        result.Error = "it holds " + std::to_string(bytes.size()) + " bytes, the " + area.Name + " " +
                       std::to_string(area.Size);
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

int32_t LastCodeAddress(const CodeBuffer& buffer)
{
    for (int32_t a = kBufferSize - 1; a >= 0; --a)
        if (BufferByte(buffer, a) != 0xFF)
            return a;
    return -1;
}

ImageChecksum ChecksumOf(const CodeBuffer& buffer, int32_t size)
{
    const std::string bytes = BinaryImage(buffer, size);
    ImageChecksum checksum;
    for (const char byte : bytes)
        checksum.Sum = static_cast<uint16_t>(checksum.Sum + static_cast<uint8_t>(byte));
    // zlib's CRC-32, the one zip, gzip and PNG use.
    const uLong crc = ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.data()),
                              static_cast<uInt>(bytes.size()));
    checksum.Crc32 = static_cast<uint32_t>(crc);
    return checksum;
}

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

// The descriptor of this process that `path` names (/dev/fd/N,
// /proc/self/fd/N or /proc/PID/fd/N with this process's PID), or -1.
static int DescriptorNamed(const std::string& path)
{
    const std::string prefixes[] = {"/dev/fd/", "/proc/self/fd/", "/proc/" + std::to_string(::getpid()) + "/fd/"};
    for (const std::string& prefix : prefixes) {
        if (path.size() <= prefix.size() || path.size() > prefix.size() + 9 || path.rfind(prefix, 0) != 0)
            continue;
        const std::string digits = path.substr(prefix.size());
        if (digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const int fd = std::stoi(digits);
        return ::fcntl(fd, F_GETFD) == -1 ? -1 : fd;
    }
    return -1;
}

// Writes all of `bytes` to `fd`, which stays open; an empty string or the
// system's error text.
static std::string WriteToDescriptor(int fd, const std::string& bytes)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags == -1)
        return std::strerror(errno);
    if ((flags & O_ACCMODE) == O_RDONLY)
        return "it is open for reading only";
    const int error = WriteAll(fd, bytes);
    return error == 0 ? std::string() : std::strerror(error);
}

// Writes to what is no regular file: a terminal, a pipe, a character device.
static std::string WriteInPlace(const std::string& path, const std::string& bytes)
{
    // Without blocking: a named pipe nobody reads would wait for a reader.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENXIO ? "no program reads from this named pipe" : std::strerror(errno);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::string error = WriteToDescriptor(fd, bytes);
    if (::close(fd) != 0 && error.empty())
        error = std::strerror(errno);
    return error;
}

// Replaces the regular file (or makes the new one) at `path` through a
// temporary file beside it.
static std::string ReplaceRegularFile(const std::string& path, const std::string& bytes)
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

std::string ReplaceFile(const std::string& path, const std::string& bytes)
{
    // Through the links to what they name at last, as the kernel would.
    std::string target = path;
    for (int hops = 0;; ++hops) {
        if (const int fd = DescriptorNamed(target); fd >= 0)
            return WriteToDescriptor(fd, bytes);
        struct stat info {};
        if (::lstat(target.c_str(), &info) != 0) {
            if (errno == ENOENT)
                break; // a new file, or a link to one still to be made
            return std::strerror(errno);
        }
        if (S_ISDIR(info.st_mode))
            return std::strerror(EISDIR);
        if (S_ISBLK(info.st_mode))
            return "it is a block device (a disk or a partition), not a file";
        if (!S_ISLNK(info.st_mode)) {
            if (!S_ISREG(info.st_mode))
                return WriteInPlace(target, bytes);
            break;
        }
        if (hops == 40)
            return std::strerror(ELOOP);
        char link[4096];
        const ssize_t n = ::readlink(target.c_str(), link, sizeof link);
        if (n < 0 || size_t(n) >= sizeof link)
            return std::strerror(n < 0 ? errno : ENAMETOOLONG);
        const std::filesystem::path named(std::string(link, size_t(n)));
        target = named.is_absolute() ? named.string() : (std::filesystem::path(target).parent_path() / named).string();
    }
    return ReplaceRegularFile(target, bytes);
}

std::string WriteImageFile(const std::string& path, const CodeBuffer& buffer, int32_t size,
                           std::optional<ImageFormat> format)
{
    const std::string bytes = format.value_or(FormatOfName(path)) == ImageFormat::Binary ? BinaryImage(buffer, size)
                                                                                          : HexImageText(buffer, size);
    if (path == kStandardStream)
        return WriteToDescriptor(STDOUT_FILENO, bytes);
    return ReplaceFile(path, bytes);
}

} // namespace qvx
