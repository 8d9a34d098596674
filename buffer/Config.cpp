#include "Config.h"
#include "CodeBuffer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

std::string ReadConfigFile(const std::string& path, int32_t (&values)[5])
{
    for (int32_t& v : values)
        v = 0;
    std::string text;
    if (const std::string error = ReadWholeFile(path, text); !error.empty())
        return "Cannot read the configuration file " + path + ": " + error;
    ParseConfig(text, values);
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

std::vector<std::string> ConfigSearchPlaces(const std::string& dataFolder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> places;

    std::error_code ec;
    places.push_back((fs::current_path(ec) / kConfigFileName).string());

    // The XDG base directory rules: a relative XDG_CONFIG_HOME is ignored.
    fs::path userFolder = AbsoluteFromEnvironment("XDG_CONFIG_HOME");
    if (userFolder.empty()) {
        if (const fs::path home = AbsoluteFromEnvironment("HOME"); !home.empty())
            userFolder = home / ".config";
    }
    if (!userFolder.empty())
        places.push_back((userFolder / kConfigFolderName / kConfigFileName).string());

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
                            std::string& found)
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
    return ReadConfigFile(found, values);
}

} // namespace qvx
