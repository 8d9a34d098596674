#include "StateFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx::sim {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
// A temporary's name: the file it becomes, this, and six characters.
constexpr char kNewInfix[] = ".new-";
constexpr size_t kUniqueLength = 6;
// The text file is a few lines; anything much larger is no state file.
constexpr uint64_t kTextLimit = 1u << 20;

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

// A piece of a file quoted in a message: printable, and not too long.
std::string Quote(std::string_view text)
{
    std::string shown = "\"";
    for (char c : text.substr(0, 40))
        shown += static_cast<unsigned char>(c) >= 32 && static_cast<unsigned char>(c) < 127 ? c : '?';
    return shown + (text.size() > 40 ? "...\"" : "\"");
}

std::string SystemError(const std::string& what, int err) { return what + ": " + std::strerror(err); }

std::string Folder(const std::string& path)
{
    const std::string parent = std::filesystem::path(path).parent_path().string();
    return parent.empty() ? "." : parent;
}

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

std::string InFolder(const std::string& dir, const std::string& name) { return (std::filesystem::path(dir) / name).string(); }

enum class Read { Ok, Missing, Failed };

// Reads a whole file of at most `limit` bytes; `size` gets its size either
// way, so that a file too large is described without being read.
Read ReadFile(const std::string& path, uint64_t limit, std::string& bytes, uint64_t& size, std::string& error)
{
    bytes.clear();
    size = 0;
    // Without blocking: a named pipe would otherwise wait for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        if (err == ENOENT)
            return Read::Missing;
        error = SystemError("cannot read " + path, err);
        return Read::Failed;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int err = errno;
        ::close(fd);
        error = info.st_mode ? "cannot read " + path + ": it is not a regular file" : SystemError("cannot read " + path, err);
        return Read::Failed;
    }
    size = static_cast<uint64_t>(info.st_size);
    if (size > limit) {
        ::close(fd);
        return Read::Ok;
    }
    bytes.resize(size);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : 0;
            ::close(fd);
            error = err ? SystemError("cannot read " + path, err) : "cannot read " + path + ": it became shorter";
            return Read::Failed;
        }
        done += size_t(n);
    }
    ::close(fd);
    return Read::Ok;
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
            error = where + "expected key=value, found " + Quote(line);
            return false;
        }
        const std::string key = Trim(line.substr(0, eq));
        const std::string value = Trim(line.substr(eq + 1));
        if (key == "device") {
            if (!FindDevice(value) || FindDevice(value) != &chip.Model()) {
                error = where + "saved from " + (FindDevice(value) ? value : Quote(value)) + ", not from an " +
                        std::string(chip.Name());
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
                    error = where + "lock bits are LB1, LB2, LB3 or none, not " + Quote(word);
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
                error = where + "fuse must be one hex digit 0 to F (bits 3..0), not " + Quote(value);
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
            error = where + "unknown key " + Quote(key) + " (device, lockbits, fuse, data)";
            return false;
        }
    }
    return true;
}


// Whether `name` is a temporary of the file named `target`.
bool IsTemporaryOf(std::string_view name, const std::string& target)
{
    const std::string prefix = target + kNewInfix;
    if (name.size() != prefix.size() + kUniqueLength || name.substr(0, prefix.size()) != prefix)
        return false;
    return std::all_of(name.begin() + long(prefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// Finishes a save that reached its commit record, then removes what saves
// that never reached theirs left behind. Every step is one that may be
// repeated: a stop in the middle of this is finished by the next load.
bool FinishInterruptedSave(const std::string& imagePath, StateFileSystem& files, std::string& error)
{
    const std::string dir = Folder(imagePath);
    const std::string commitPath = StateCommitPath(imagePath);
    std::string record;
    uint64_t size = 0;
    switch (ReadFile(commitPath, kTextLimit, record, size, error)) {
    case Read::Failed: return false;
    case Read::Missing: break;
    case Read::Ok: {
        std::vector<CommitEntry> entries;
        if (size > kTextLimit || !ParseCommitRecord(record, imagePath, entries, error)) {
            error = "the unfinished save recorded in " + commitPath + " cannot be finished: " +
                    (size > kTextLimit ? "the record is far too large" : error) +
                    "; move that file away to load the state files as they are";
            return false;
        }
        for (const CommitEntry& e : entries) {
            const std::string temporary = InFolder(dir, e.temporary);
            if (::access(temporary.c_str(), F_OK) == 0 && !files.Rename(temporary, InFolder(dir, e.target), error))
                return false;
        }
        for (const CommitEntry& e : entries) {
            std::string bytes;
            uint64_t held = 0;
            const std::string target = InFolder(dir, e.target);
            if (ReadFile(target, e.size, bytes, held, error) == Read::Failed)
                return false;
            if (held != e.size || ContentHash(bytes) != e.hash) {
                error = target + " does not hold what the save recorded in " + commitPath +
                        " wrote; move that file away to load the state files as they are";
                return false;
            }
        }
        if (!files.SyncDir(dir, error) || !files.Remove(commitPath, error) || !files.SyncDir(dir, error))
            return false;
        break;
    }
    }
    const std::string image = FileName(imagePath), text = FileName(StateTextPath(imagePath)),
                      commit = FileName(commitPath);
    for (const std::string& name : files.ListDir(dir))
        if (IsTemporaryOf(name, image) || IsTemporaryOf(name, text) || IsTemporaryOf(name, commit))
            if (!files.Remove(InFolder(dir, name), error))
                return false;
    return true;
}

} // namespace

// --- The system calls --------------------------------------------------------

bool StateFileSystem::WriteNew(const std::string& prefix, const std::string& bytes, std::string& path,
                               std::string& error)
{
    static const char kNameChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static std::mt19937_64 random{std::random_device{}() ^ uint64_t(::getpid()) << 32};
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        path = prefix;
        for (size_t i = 0; i < kUniqueLength; ++i)
            path += kNameChars[random() % (sizeof kNameChars - 1)];
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            error = SystemError("cannot write " + path, errno);
            return false;
        }
    }
    if (fd < 0) {
        error = "cannot find a free name for " + prefix + "XXXXXX";
        return false;
    }
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = SystemError("cannot write " + path, errno);
            ::close(fd);
            ::unlink(path.c_str());
            return false;
        }
        done += size_t(n);
    }
    if (::close(fd) != 0) {
        error = SystemError("cannot write " + path, errno);
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

static bool SyncPath(const std::string& path, int flags, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | flags);
    if (fd < 0) {
        error = SystemError("cannot sync " + path, errno);
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    const int err = errno;
    ::close(fd);
    if (!synced)
        error = SystemError("cannot sync " + path, err);
    return synced;
}

bool StateFileSystem::SyncFile(const std::string& path, std::string& error) { return SyncPath(path, 0, error); }

bool StateFileSystem::SyncDir(const std::string& dir, std::string& error)
{
    return SyncPath(dir, O_DIRECTORY, error);
}

bool StateFileSystem::Rename(const std::string& from, const std::string& to, std::string& error)
{
    if (::rename(from.c_str(), to.c_str()) == 0)
        return true;
    error = SystemError("cannot replace " + to, errno);
    return false;
}

bool StateFileSystem::Remove(const std::string& path, std::string& error)
{
    if (::unlink(path.c_str()) == 0 || errno == ENOENT)
        return true;
    error = SystemError("cannot remove " + path, errno);
    return false;
}

std::vector<std::string> StateFileSystem::ListDir(const std::string& dir)
{
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(d);
    }
    return names;
}

StateFileSystem& SystemStateFiles()
{
    static StateFileSystem files;
    return files;
}

// --- Names, records, hashes -------------------------------------------------

std::string StateTextPath(const std::string& imagePath) { return imagePath + ".txt"; }

std::string StateCommitPath(const std::string& imagePath) { return imagePath + ".commit"; }

std::string StateLockPath(const std::string& imagePath) { return imagePath + ".lock"; }

uint64_t ContentHash(std::string_view bytes)
{
    uint64_t hash = 14695981039346656037ull;
    for (char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

std::string FormatCommitRecord(const std::vector<CommitEntry>& entries)
{
    std::string text = "# A save of the simulated chip being put in place; the next start finishes it.\n";
    for (const CommitEntry& e : entries) {
        char numbers[64];
        std::snprintf(numbers, sizeof numbers, " %llu %016llx\n", static_cast<unsigned long long>(e.size),
                      static_cast<unsigned long long>(e.hash));
        text += e.temporary + " " + e.target + numbers;
    }
    return text;
}

bool ParseCommitRecord(std::string_view text, const std::string& imagePath, std::vector<CommitEntry>& entries,
                       std::string& error)
{
    entries.clear();
    const std::string image = FileName(imagePath), textFile = FileName(StateTextPath(imagePath));
    std::istringstream lines{std::string(text)};
    std::string line;
    int number = 0;
    bool seen[2] = {false, false};
    while (std::getline(lines, line)) {
        ++number;
        if (Trim(line).empty() || line[0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        std::istringstream words(line);
        CommitEntry e;
        std::string size, hash, more;
        if (!(words >> e.temporary >> e.target >> size >> hash) || (words >> more)) {
            error = where + "expected a temporary name, a file name, a size and a hash, found " + Quote(line);
            return false;
        }
        const int which = e.target == image ? 0 : e.target == textFile ? 1 : -1;
        if (which < 0 || seen[which]) {
            error = where + (which < 0 ? "names " + Quote(e.target) + ", which is no file of this chip"
                                       : Quote(e.target) + " comes twice");
            return false;
        }
        if (!IsTemporaryOf(e.temporary, e.target)) {
            error = where + Quote(e.temporary) + " is no temporary of " + e.target;
            return false;
        }
        const bool sizeOk = !size.empty() && size.size() <= 19 &&
                            std::all_of(size.begin(), size.end(), [](char c) { return c >= '0' && c <= '9'; });
        const bool hashOk = hash.size() == 16 && std::all_of(hash.begin(), hash.end(), [](char c) {
                                return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
                            });
        if (!sizeOk || !hashOk) {
            error = where + "the size is a decimal number and the hash 16 hex digits, found " + Quote(line);
            return false;
        }
        e.size = std::stoull(size);
        e.hash = std::stoull(hash, nullptr, 16);
        seen[which] = true;
        entries.push_back(std::move(e));
    }
    if (entries.empty()) {
        error = "the record names no file";
        return false;
    }
    return true;
}

std::string FormatStateText(const Chip& chip, const std::string& imagePath)
{
    std::string text = "# Simulated " + std::string(chip.Name()) + " chip: lock bits and user fuse.\n"
                       "# Its code memory is the raw image " + FileName(imagePath) + ".\n";
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
    if (std::any_of(data.begin(), data.end(), [](uint8_t b) { return b != 0xFF; })) {
        text += "data=";
        for (uint8_t b : data) {
            text += kDigits[b >> 4];
            text += kDigits[b & 0x0F];
        }
        text += "\n";
    }
    return text;
}

// --- Loading and saving -----------------------------------------------------

static std::string ImageSizeError(const Chip& chip, const std::string& imagePath, uint64_t size)
{
    return imagePath + " holds " + std::to_string(size) + " bytes; the code memory of an " +
           std::string(chip.Name()) + " is exactly " + std::to_string(chip.Code().size()) + " bytes";
}

bool ParseState(Chip& chip, const std::optional<std::string>& image, const std::optional<std::string>& text,
                const std::string& imagePath, std::string& error)
{
    if (image && image->size() != chip.Code().size()) {
        error = ImageSizeError(chip, imagePath, image->size());
        return false;
    }
    TextState state;
    if (text && !ParseText(*text, chip, StateTextPath(imagePath), state, error))
        return false;

    if (image)
        chip.PresetCode(std::span(reinterpret_cast<const uint8_t*>(image->data()), image->size()));
    if (text) {
        chip.PresetLockBits(state.lockBits[0], state.lockBits[1], state.lockBits[2]);
        if (state.haveFuse)
            chip.PresetUserFuse(state.fuse);
        if (state.haveData)
            chip.PresetData(state.data);
    }
    return true;
}

bool LoadState(Chip& chip, const std::string& imagePath, std::string& error, StateFileSystem& files)
{
    if (!FinishInterruptedSave(imagePath, files, error))
        return false;

    std::optional<std::string> image, text;
    std::string bytes;
    uint64_t size = 0;
    switch (ReadFile(imagePath, chip.Code().size(), bytes, size, error)) {
    case Read::Failed: return false;
    case Read::Missing: break;
    case Read::Ok:
        if (size != chip.Code().size()) {
            error = ImageSizeError(chip, imagePath, size);
            return false;
        }
        image = std::move(bytes);
        break;
    }
    const std::string textPath = StateTextPath(imagePath);
    switch (ReadFile(textPath, kTextLimit, bytes, size, error)) {
    case Read::Failed: return false;
    case Read::Missing: break;
    case Read::Ok:
        if (size > kTextLimit) {
            error = textPath + " holds " + std::to_string(size) + " bytes, far more than a state file";
            return false;
        }
        text = std::move(bytes);
        break;
    }
    return ParseState(chip, image, text, imagePath, error);
}

bool SaveState(const Chip& chip, const std::string& imagePath, std::string& error, StateFileSystem& files)
{
    // A save that an earlier stop cut short is put in place first, so that
    // this one starts from a whole pair.
    if (!FinishInterruptedSave(imagePath, files, error))
        return false;

    const std::string dir = Folder(imagePath);
    const std::string textPath = StateTextPath(imagePath), commitPath = StateCommitPath(imagePath);
    const std::vector<uint8_t>& code = chip.Code();
    const std::string image(code.begin(), code.end());
    const std::string text = FormatStateText(chip, imagePath);

    std::string imageNew, textNew, commitNew;
    auto abandon = [&] {
        std::string ignored;
        for (const std::string* path : {&imageNew, &textNew, &commitNew})
            if (!path->empty())
                files.Remove(*path, ignored);
        return false;
    };
    // The new pair under temporary names, its content on the disk.
    if (!files.WriteNew(imagePath + kNewInfix, image, imageNew, error) || !files.SyncFile(imageNew, error) ||
        !files.WriteNew(textPath + kNewInfix, text, textNew, error) || !files.SyncFile(textNew, error))
        return abandon();
    const std::string record =
        FormatCommitRecord({{FileName(imageNew), FileName(imagePath), image.size(), ContentHash(image)},
                            {FileName(textNew), FileName(textPath), text.size(), ContentHash(text)}});
    if (!files.WriteNew(commitPath + kNewInfix, record, commitNew, error) || !files.SyncFile(commitNew, error) ||
        !files.SyncDir(dir, error))
        return abandon();
    // The commit: from here on the new pair is the state.
    if (!files.Rename(commitNew, commitPath, error))
        return abandon();
    if (!files.SyncDir(dir, error) || !files.Rename(imageNew, imagePath, error) ||
        !files.Rename(textNew, textPath, error) || !files.SyncDir(dir, error) ||
        !files.Remove(commitPath, error) || !files.SyncDir(dir, error)) {
        error += " (the next start of the simulated chip finishes the save)";
        return false;
    }
    return true;
}

// --- The lock -------------------------------------------------------------

StateLock::~StateLock() { ::close(fd_); }

std::unique_ptr<StateLock> LockState(const std::string& imagePath, std::string& error)
{
    const std::string path = StateLockPath(imagePath);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = SystemError("cannot create the lock file " + path, errno);
        return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        char holder[32] = {};
        const ssize_t n = ::pread(fd, holder, sizeof holder - 1, 0);
        ::close(fd);
        if (err != EWOULDBLOCK) {
            error = SystemError("cannot lock " + path, err);
            return nullptr;
        }
        // The holder's process number, as it wrote it: digits and a line end.
        std::string pid(holder, size_t(std::max<ssize_t>(n, 0)));
        pid = pid.substr(0, pid.find('\n'));
        if (pid.empty() || pid.size() > 10 ||
            !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; }))
            pid.clear();
        error = imagePath + " is in use by another QVX-ISP" + (pid.empty() ? "" : " (process " + pid + ")") +
                ": two programs on one simulated chip would overwrite each other's saves. Close the other "
                "program, or give this one a state file of its own";
        return nullptr;
    }
    // Who holds it, for the message of a second program.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, pid.data(), pid.size(), 0) != ssize_t(pid.size())) {
        // The lock holds without the note.
    }
    return std::unique_ptr<StateLock>(new StateLock(fd));
}

} // namespace qvx::sim
