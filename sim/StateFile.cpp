#include "StateFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

namespace qvx::sim {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string Trim(const std::string& s)
{
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const size_t last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

// Writes `bytes` to `path` through "path.tmp", renamed into place once complete.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, std::string& error)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            error = "cannot write " + temporary + ": " + std::strerror(errno);
            return false;
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        error = "cannot replace " + path + ": " + ec.message();
        return false;
    }
    return true;
}

// Reads a whole file. Returns false with `missing` set when it does not exist.
bool ReadFile(const std::string& path, std::string& bytes, bool& missing, std::string& error)
{
    missing = false;
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        missing = true;
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    return true;
}

struct TextState {
    bool lockBits[3] = {false, false, false};
    bool haveFuse = false;
    uint8_t fuse = 0x0F;
    bool haveData = false;
    std::vector<uint8_t> data;
};

bool ParseText(const std::string& text, const Chip& chip, const std::string& path, TextState& state,
               std::string& error)
{
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        line = Trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = path + " line " + std::to_string(number) + ": ";
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            error = where + "expected key=value, found \"" + line + "\"";
            return false;
        }
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (key == "device") {
            if (!FindDevice(value) || FindDevice(value) != &chip.Model()) {
                error = where + "saved from " + value + ", not from an " + std::string(chip.Name());
                return false;
            }
        } else if (key == "lockbits") {
            std::istringstream words(value);
            std::string word;
            bool none = false, any = false;
            while (words >> word) {
                if (word == "none") {
                    none = true;
                } else if (word == "LB1" || word == "LB2" || word == "LB3") {
                    state.lockBits[word[2] - '1'] = true;
                    any = true;
                } else {
                    error = where + "lock bits are LB1, LB2, LB3 or none, not \"" + word + "\"";
                    return false;
                }
            }
            if (none == any) {
                error = where + "lockbits needs LB1, LB2, LB3 or none";
                return false;
            }
        } else if (key == "fuse") {
            if (!chip.Model().userFuse) {
                error = where + "an " + std::string(chip.Name()) + " has no user fuse";
                return false;
            }
            const int v = value.size() == 1 ? HexValue(value[0]) : value.size() == 2 && value[0] == '0' ? HexValue(value[1]) : -1;
            if (v < 0) {
                error = where + "fuse must be one hex digit 0 to F (bits 3..0), not \"" + value + "\"";
                return false;
            }
            state.haveFuse = true;
            state.fuse = static_cast<uint8_t>(v);
        } else if (key == "data") {
            const size_t size = chip.Data().size();
            if (size == 0 || value.size() != 2 * size) {
                error = where + "data must be " + std::to_string(size) + " bytes in hex for an " +
                        std::string(chip.Name());
                return false;
            }
            state.data.resize(size);
            for (size_t i = 0; i < size; ++i) {
                const int hi = HexValue(value[2 * i]), lo = HexValue(value[2 * i + 1]);
                if (hi < 0 || lo < 0) {
                    error = where + "data holds a character that is not a hex digit";
                    return false;
                }
                state.data[i] = static_cast<uint8_t>(hi << 4 | lo);
            }
            state.haveData = true;
        } else {
            error = where + "unknown key \"" + key + "\" (device, lockbits, fuse, data)";
            return false;
        }
    }
    return true;
}

} // namespace

std::string StateTextPath(const std::string& imagePath)
{
    return imagePath + ".txt";
}

bool LoadState(Chip& chip, const std::string& imagePath, std::string& error)
{
    std::string image, text;
    bool missingImage = false, missingText = false;
    if (!ReadFile(imagePath, image, missingImage, error) && !missingImage)
        return false;
    const std::string textPath = StateTextPath(imagePath);
    if (!ReadFile(textPath, text, missingText, error) && !missingText)
        return false;

    if (!missingImage && image.size() != chip.Code().size()) {
        error = imagePath + " holds " + std::to_string(image.size()) + " bytes; the code memory of an " +
                std::string(chip.Name()) + " is exactly " + std::to_string(chip.Code().size()) + " bytes";
        return false;
    }
    TextState state;
    if (!missingText && !ParseText(text, chip, textPath, state, error))
        return false;

    if (!missingImage)
        chip.PresetCode(std::span(reinterpret_cast<const uint8_t*>(image.data()), image.size()));
    if (!missingText) {
        chip.PresetLockBits(state.lockBits[0], state.lockBits[1], state.lockBits[2]);
        if (state.haveFuse)
            chip.PresetUserFuse(state.fuse);
        if (state.haveData)
            chip.PresetData(state.data);
    }
    return true;
}

bool SaveState(const Chip& chip, const std::string& imagePath, std::string& error)
{
    const std::vector<uint8_t>& code = chip.Code();
    if (!WriteFileAtomically(imagePath, std::string(code.begin(), code.end()), error))
        return false;

    std::string text = "# Simulated " + std::string(chip.Name()) + " chip: lock bits and user fuse.\n"
                       "# Its code memory is the raw image " + std::filesystem::path(imagePath).filename().string() +
                       ".\n";
    text += "device=" + std::string(chip.Name()) + "\n";
    std::string locks;
    for (int n = 1; n <= 3; ++n)
        if (chip.LockBit(n))
            locks += (locks.empty() ? "LB" : " LB") + std::to_string(n);
    text += "lockbits=" + (locks.empty() ? std::string("none") : locks) + "\n";
    if (chip.Model().userFuse) {
        text += "# fuse bits 3..0, 1 = not programmed; bit 1 = 0 turns the x2 clock on\n";
        text += std::string("fuse=") + kDigits[chip.UserFuse() & 0x0F] + "\n";
    }
    const std::vector<uint8_t>& data = chip.Data();
    bool blankData = true;
    for (uint8_t b : data)
        blankData = blankData && b == 0xFF;
    if (!blankData) {
        text += "data=";
        for (uint8_t b : data) {
            text += kDigits[b >> 4];
            text += kDigits[b & 0x0F];
        }
        text += "\n";
    }
    return WriteFileAtomically(StateTextPath(imagePath), text, error);
}

} // namespace qvx::sim
