#include "Settings.h"
#include "Config.h"
#include "ImageFile.h"
#include "Catalogue.h"
#include "Link.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace qvx {

namespace {

constexpr char kSettingsFileName[] = "qvx-isp.conf";
constexpr char kSection[] = "[General]";

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The key of a "key=value" line; empty for any other line.
std::string KeyOf(const std::string& line)
{
    const size_t equals = line.find('=');
    if (equals == std::string::npos || line.empty() || line[0] == '[' || line[0] == '#' || line[0] == ';')
        return {};
    return Trimmed(line.substr(0, equals));
}

} // namespace

std::string SettingsFile::DefaultPath()
{
    const std::string folder = UserConfigFolder();
    return folder.empty() ? std::string() : (std::filesystem::path(folder) / kSettingsFileName).string();
}

std::string SettingsFile::Load()
{
    lines_.clear();
    if (path_.empty())
        return "There is no configuration folder to keep settings in (neither XDG_CONFIG_HOME nor HOME is set).";
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path_, ec)))
        return {};
    std::string text;
    if (const std::string error = ReadWholeFile(path_, text); !error.empty())
        return "Cannot read the settings file " + path_ + ": " + error;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines_.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return {};
}

std::optional<std::string> SettingsFile::Get(const std::string& key) const
{
    for (const std::string& line : lines_)
        if (KeyOf(line) == key)
            return Trimmed(line.substr(line.find('=') + 1));
    return std::nullopt;
}

void SettingsFile::Set(const std::string& key, const std::string& value)
{
    if (value.find_first_of("\r\n") != std::string::npos)
        return;
    const std::string line = key + "=" + value;
    for (std::string& existing : lines_)
        if (KeyOf(existing) == key) {
            existing = line;
            return;
        }
    // New keys go below the section line, which an empty file gets first.
    bool hasSection = false;
    for (const std::string& existing : lines_)
        hasSection = hasSection || Trimmed(existing) == kSection;
    if (!hasSection)
        lines_.insert(lines_.begin(), kSection);
    lines_.push_back(line);
}

void SettingsFile::Remove(const std::string& key)
{
    std::erase_if(lines_, [&](const std::string& line) { return KeyOf(line) == key; });
}

std::string SettingsFile::Save() const
{
    if (path_.empty())
        return "there is no configuration folder (neither XDG_CONFIG_HOME nor HOME is set)";
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
    if (ec)
        return ec.message();
    std::string text;
    for (const std::string& line : lines_)
        text += line + "\n";
    return ReplaceFile(path_, text);
}

std::string SettingsFile::Update(const std::string& key, const std::string& value)
{
    if (std::string error = Load(); !error.empty())
        return error;
    Set(key, value);
    if (std::string error = Save(); !error.empty())
        return "Cannot write the settings file " + path_ + ": " + error;
    return {};
}

std::optional<uint32_t> RememberedCrystal(const SettingsFile& settings)
{
    const std::optional<std::string> text = settings.Get(kCrystalKey);
    if (!text || text->empty() || text->size() > 9 || text->find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const uint32_t hz = uint32_t(std::stoul(*text));
    if (hz < kMinCrystalHz || hz > kMaxCrystalHz)
        return std::nullopt;
    return hz;
}

std::string PortChoice::Where() const
{
    if (Source.empty())
        return "the default";
    if (Source.front() == '/')
        return "remembered in " + Source;
    return Source;
}

std::optional<int32_t> RememberedDevice(const SettingsFile& settings)
{
    const std::optional<std::string> name = settings.Get(kDeviceKey);
    if (!name)
        return std::nullopt;
    const int32_t code = DeviceCodeByName(*name);
    return FindDevice(code) ? std::optional<int32_t>(code) : std::nullopt;
}

int RememberedLpt(const SettingsFile& settings) { return settings.Get(kLptKey) == "2" ? 2 : 1; }

std::vector<std::string> RecentFiles(const SettingsFile& settings)
{
    std::vector<std::string> files;
    for (size_t n = 1; n <= kMaxRecentFiles; ++n)
        if (std::optional<std::string> file = settings.Get(kRecentFileKey + std::to_string(n)); file && !file->empty())
            files.push_back(*file);
    return files;
}

void SetRecentFiles(SettingsFile& settings, const std::vector<std::string>& files)
{
    for (size_t n = 1; n <= kMaxRecentFiles; ++n) {
        const std::string key = kRecentFileKey + std::to_string(n);
        if (n <= files.size())
            settings.Set(key, files[n - 1]);
        else
            settings.Remove(key);
    }
}

std::vector<std::string> WithRecentFile(std::vector<std::string> files, const std::string& path)
{
    std::erase(files, path);
    files.insert(files.begin(), path);
    if (files.size() > kMaxRecentFiles)
        files.resize(kMaxRecentFiles);
    return files;
}

PortChoice ChoosePort(const std::optional<std::string>& given, const std::string& optionName,
                      const SettingsFile& settings)
{
    if (given)
        return {*given, optionName};
    if (const char* environment = std::getenv("QVX_PORT"))
        return {environment, "QVX_PORT"};
    if (std::optional<std::string> remembered = settings.Get(kPortKey))
        return {*remembered, settings.Path()};
    return {};
}

} // namespace qvx
