// Keeps a simulated chip between runs: the code memory as a raw binary image
// exactly the part's size, and lock bits, user fuse and the data memory
// (AT89S8252, AT89S8253; only when it holds other bytes than FF) in a small
// text file beside it, named after the image plus ".txt".
//
// The two files are one pair: a save replaces both or neither, whenever the
// program or the machine stops. Saving writes the new image and text under
// unique temporary names ("chip.bin.new-Ab12Cd"), syncs them, and then
// commits by renaming a small record naming them into place
// ("chip.bin.commit"). Only then are they renamed over the old pair and the
// record removed. A load that finds a commit record finishes that save
// first; temporaries without a record are what a save left that never
// reached its commit, and are removed. So a load sees either the old pair or
// the new one, never new code with old lock bits.
//
// While a program uses the files it holds a lock on "chip.bin.lock", so a
// second program on the same chip is refused instead of overwriting it.
#pragma once

#include "Chip.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvx::sim {

// "chip.bin" -> "chip.bin.txt".
std::string StateTextPath(const std::string& imagePath);
// "chip.bin" -> "chip.bin.commit": present only while a save is put in place.
std::string StateCommitPath(const std::string& imagePath);
// "chip.bin" -> "chip.bin.lock".
std::string StateLockPath(const std::string& imagePath);

// The file-system steps that saving and finishing a save take, one call per
// step, so that a test can stop the program after any of them. The default
// implementation makes the system calls.
class StateFileSystem {
public:
    virtual ~StateFileSystem() = default;
    // Creates a file named `prefix` plus six unique characters, writes
    // `bytes` to it and closes it; `path` gets its name.
    virtual bool WriteNew(const std::string& prefix, const std::string& bytes, std::string& path,
                          std::string& error);
    // fsync(2) of a file's content.
    virtual bool SyncFile(const std::string& path, std::string& error);
    // rename(2): atomically replaces `to`.
    virtual bool Rename(const std::string& from, const std::string& to, std::string& error);
    // unlink(2); a file that is gone already is no error.
    virtual bool Remove(const std::string& path, std::string& error);
    // fsync(2) of a folder, which makes its renames and new names durable.
    virtual bool SyncDir(const std::string& dir, std::string& error);
    // The names in a folder (without "." and "..").
    virtual std::vector<std::string> ListDir(const std::string& dir);
};

// The system calls.
StateFileSystem& SystemStateFiles();

// Loads what the files hold into the chip, after finishing a save that was
// cut short. A file that does not exist yet leaves that part of the chip as
// it is (a fresh chip: erased, unlocked). A file that exists but does not
// fit the chip is an error, described in `error`, and the chip is left
// unchanged.
bool LoadState(Chip& chip, const std::string& imagePath, std::string& error,
               StateFileSystem& files = SystemStateFiles());

// Writes both files as one pair (see above).
bool SaveState(const Chip& chip, const std::string& imagePath, std::string& error,
               StateFileSystem& files = SystemStateFiles());

// Checks the content of the two files against the chip and puts it in:
// `image` and `text` are the files' bytes, nothing for a file that does not
// exist. `imagePath` names the files in messages. On an error the chip is
// left unchanged.
bool ParseState(Chip& chip, const std::optional<std::string>& image, const std::optional<std::string>& text,
                const std::string& imagePath, std::string& error);

// The text file's content for the chip as it is now.
std::string FormatStateText(const Chip& chip, const std::string& imagePath);

// The commit record of a save: which temporary becomes which file of the
// pair, with the size and FNV-1a hash of what it holds. Names are plain file
// names in the image's folder.
struct CommitEntry {
    std::string temporary; // "chip.bin.new-Ab12Cd"
    std::string target;    // "chip.bin"
    uint64_t size = 0;
    uint64_t hash = 0;
};
std::string FormatCommitRecord(const std::vector<CommitEntry>& entries);
// Accepts only entries whose target is the image or the text file of
// `imagePath` and whose temporary is that target's own temporary name.
bool ParseCommitRecord(std::string_view text, const std::string& imagePath, std::vector<CommitEntry>& entries,
                       std::string& error);

// FNV-1a, 64 bits.
uint64_t ContentHash(std::string_view bytes);

// The lock on a chip's state files; released when destroyed.
class StateLock {
public:
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    friend std::unique_ptr<StateLock> LockState(const std::string& imagePath, std::string& error);
    explicit StateLock(int fd) : fd_(fd) {}
    int fd_;
};

// Takes the lock, or returns null with a message naming the program that
// holds it.
std::unique_ptr<StateLock> LockState(const std::string& imagePath, std::string& error);

} // namespace qvx::sim
