// The choices a user makes once and keeps between runs, in one file that
// both programs read: qvx-isp.conf in the user's configuration folder
// ($XDG_CONFIG_HOME/qvx-isp, beside the user's CONFIG.QVX).
//
// The file holds "key=value" lines below a "[General]" line, the form the
// window used to write, so a file of an older version reads as it stands.
// Lines the program does not know (comments, keys of a newer version) are
// kept as they are when it writes the file again.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qvx {

// The keys.
inline constexpr char kCrystalKey[] = "TargetCrystalHz"; // the target's crystal in hertz
inline constexpr char kPortKey[] = "Port";               // the cable, in the form QVX_PORT takes
inline constexpr char kLptKey[] = "Lpt";                 // the parallel port: 1 or 2
inline constexpr char kDeviceKey[] = "Device";           // the device chosen last, by name ("AT89S52")
inline constexpr char kLastFolderKey[] = "LastFolder";   // the folder of the code file loaded or saved last
inline constexpr char kRecentFileKey[] = "RecentFile";   // RecentFile1 (the newest) to RecentFile8
inline constexpr size_t kMaxRecentFiles = 8;

class SettingsFile {
public:
    // The file in the user's configuration folder; empty when there is none
    // (neither XDG_CONFIG_HOME nor HOME is an absolute path).
    static std::string DefaultPath();

    explicit SettingsFile(std::string path = DefaultPath()) : path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    // Reads the file again. A file that does not exist holds nothing and is
    // no error. Returns an empty string, or what went wrong (nothing is then
    // remembered).
    std::string Load();

    // The value of `key`, as written after its "=" with the blanks around it
    // taken off; nothing when the file does not give it.
    std::optional<std::string> Get(const std::string& key) const;
    // Sets `key` (a value with a line break is not stored). Save writes it.
    void Set(const std::string& key, const std::string& value);
    void Remove(const std::string& key);

    // Writes the file through a temporary file and a rename, making the
    // folder when it is missing. Returns an empty string or the system's
    // error text.
    std::string Save() const;

    // Reads the file as it is now (the other program may have written it
    // meanwhile), sets `key` and writes it. Returns what Load or Save says.
    std::string Update(const std::string& key, const std::string& value);

private:
    std::string path_;
    std::vector<std::string> lines_; // the file's lines, known keys changed in place
};

// The crystal the user chose last, when the file holds one in range.
std::optional<uint32_t> RememberedCrystal(const SettingsFile& settings);

// The device the user chose last, as a device code; nothing when the file
// names none or no device of the catalogue.
std::optional<int32_t> RememberedDevice(const SettingsFile& settings);

// The parallel port chosen last, 1 or 2 (1 when the file says nothing).
int RememberedLpt(const SettingsFile& settings);

// The recent code files, newest first.
std::vector<std::string> RecentFiles(const SettingsFile& settings);
// Sets the recent files to `files` (at most kMaxRecentFiles, newest first).
void SetRecentFiles(SettingsFile& settings, const std::vector<std::string>& files);
// `files` with `path` at the front, once, and no more than kMaxRecentFiles.
std::vector<std::string> WithRecentFile(std::vector<std::string> files, const std::string& path);

// The cable a run uses and where that choice came from.
struct PortChoice {
    std::string Spec;   // a QVX_PORT form; empty for the parallel port
    std::string Source; // what set it, for messages: the option as typed
                        // ("--port"), "QVX_PORT", the settings file's
                        // path, or empty for the default

    // Where it came from as a message says it: the option, "QVX_PORT",
    // "remembered in PATH" or "the default".
    std::string Where() const;
};

// The one place that decides the cable: `given` (an option of this run,
// named `optionName`), else the QVX_PORT environment variable, else the
// cable remembered in `settings`, else the parallel port.
PortChoice ChoosePort(const std::optional<std::string>& given, const std::string& optionName,
                      const SettingsFile& settings);

} // namespace qvx
