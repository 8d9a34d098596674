#include "Config.h"
#include "CodeBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
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

std::vector<std::string> ConfigFields(const std::string& text)
{
    std::vector<std::string> fields;
    // A code 26 ends the file as if nothing followed it; a read beyond the
    // end yields that character.
    const size_t end = std::min(text.find(kEndOfFile), text.size());
    size_t pos = 0;
    auto read = [&]() -> char { return pos < end ? text[pos++] : (pos++, kEndOfFile); };
    while (pos < end) {
        if (read() != '[')
            continue;
        std::string field(4, kEndOfFile);
        for (char& c : field)
            c = read();
        fields.push_back(field);
    }
    return fields;
}

void ParseConfig(const std::string& text, int32_t (&values)[5])
{
    for (int32_t& v : values)
        v = 0;
    const std::vector<std::string> fields = ConfigFields(text);
    for (size_t k = 0; k < fields.size() && k < 5; ++k)
        values[k] = HexWordValue(fields[k][0], fields[k][1], fields[k][2], fields[k][3]);
}

std::vector<std::string> ConfigProblems(const std::string& text)
{
    static const char* const kNames[] = {"value 1 (the timing factor)", "value 2 (the serial clock delay)"};
    const std::vector<std::string> fields = ConfigFields(text);
    std::vector<std::string> problems;
    for (size_t k = 0; k < 2; ++k) {
        if (k >= fields.size()) {
            problems.push_back(std::string(kNames[k]) + " is missing: it is 0");
            continue;
        }
        const std::string& f = fields[k];
        if (std::all_of(f.begin(), f.end(), [](char c) { return HexDigitValue(c) >= 0; }))
            continue;
        std::string shown;
        for (char c : f) {
            if (c >= ' ' && c <= '~') {
                shown += c;
            } else {
                char code[8];
                std::snprintf(code, sizeof code, "\\x%02X", unsigned(static_cast<unsigned char>(c)));
                shown += code;
            }
        }
        problems.push_back(std::string(kNames[k]) + " \"" + shown +
                           "\" is not four upper-case hex digits: it counts as " +
                           std::to_string(HexWordValue(f[0], f[1], f[2], f[3])));
    }
    return problems;
}

std::string ReadConfigFile(const std::string& path, int32_t (&values)[5], std::vector<std::string>* problems)
{
    for (int32_t& v : values)
        v = 0;
    std::string text;
    if (const std::string error = ReadWholeFile(path, text); !error.empty())
        return "Cannot read the configuration file " + path + ": " + error;
    ParseConfig(text, values);
    if (problems)
        for (const std::string& problem : ConfigProblems(text))
            problems->push_back(path + ": " + problem);
    return {};
}

std::string ReadConfig(int32_t& value1, int32_t& value2, int32_t& value3, int32_t& value4,
                       int32_t& value5, const std::string& fileName)
{
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::current_path(ec) / fileName;
    int32_t values[5];
    const std::string error = ReadConfigFile(path.string(), values);
    value1 = values[0];
    value2 = values[1];
    value3 = values[2];
    value4 = values[3];
    value5 = values[4];
    return error;
}

std::string InstalledConfigFolder() { return QVX_DATA_FOLDER; }

namespace {

// An environment variable that holds an absolute path, else nothing.
std::filesystem::path AbsoluteFromEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    if (!value || value[0] != '/')
        return {};
    return value;
}

} // namespace

std::string UserConfigFolder()
{
    // The XDG base directory rules: a relative XDG_CONFIG_HOME is ignored.
    std::filesystem::path folder = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
    if (folder.empty()) {
        if (const std::filesystem::path home = AbsoluteFromEnvironment("HOME"); !home.empty())
            folder = home / ".config";
    }
    return folder.empty() ? std::string() : (folder / kConfigFolderName).string();
}

std::vector<std::string> ConfigSearchPlaces(const std::string& dataFolder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> places;

    std::error_code ec;
    places.push_back((fs::current_path(ec) / kConfigFileName).string());

    if (const std::string userFolder = UserConfigFolder(); !userFolder.empty())
        places.push_back((fs::path(userFolder) / kConfigFileName).string());

    places.push_back((fs::path(dataFolder) / kConfigFileName).string());
    return places;
}

std::string FindConfig(const std::vector<std::string>& places)
{
    for (const std::string& place : places) {
        std::error_code ec;
        if (std::filesystem::exists(std::filesystem::symlink_status(place, ec)))
            return place;
    }
    return {};
}

std::string ReadFirstConfig(const std::vector<std::string>& places, int32_t (&values)[5],
                            std::string& found, std::vector<std::string>* problems)
{
    found = FindConfig(places);
    if (found.empty()) {
        for (int32_t& v : values)
            v = 0;
        std::string message = std::string("Cannot find the configuration file ") + kConfigFileName +
                              ". Looked for:";
        for (const std::string& place : places)
            message += "\n" + place;
        return message;
    }
    return ReadConfigFile(found, values, problems);
}

} // namespace qvx
