// The state files as one pair that survives a stop at any moment, and the
// lock that keeps a second program off them.
#include "SimTest.h"

#include "StateFile.h"

#include <algorithm>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/wait.h>

namespace qvx::test {
namespace {

namespace fs = std::filesystem;

// The real file system, with every step written to a log; from step
// `stopAfter` on the program is "dead": the step does not happen (a file
// being written is left half written) and neither does anything after it.
class StoppingFiles : public sim::StateFileSystem {
public:
    explicit StoppingFiles(int stopAfter = 1 << 30) : stopAfter_(stopAfter) {}

    bool WriteNew(const std::string& prefix, const std::string& bytes, std::string& path,
                  std::string& error) override
    {
        if (Stopped("write", prefix, error)) {
            // The stop came in the middle of the write.
            std::string half;
            sim::StateFileSystem::WriteNew(prefix, bytes.substr(0, bytes.size() / 2), half, error);
            return false;
        }
        const bool ok = sim::StateFileSystem::WriteNew(prefix, bytes, path, error);
        log.back() += " " + path;
        return ok;
    }
    bool SyncFile(const std::string& path, std::string& error) override
    {
        return !Stopped("sync", path, error) && sim::StateFileSystem::SyncFile(path, error);
    }
    bool Rename(const std::string& from, const std::string& to, std::string& error) override
    {
        return !Stopped("rename", from + " " + to, error) && sim::StateFileSystem::Rename(from, to, error);
    }
    bool Remove(const std::string& path, std::string& error) override
    {
        return !Stopped("remove", path, error) && sim::StateFileSystem::Remove(path, error);
    }
    bool SyncDir(const std::string& dir, std::string& error) override
    {
        return !Stopped("syncdir", dir, error) && sim::StateFileSystem::SyncDir(dir, error);
    }

    // Whether the program ran to its end without being stopped.
    bool Finished() const { return !stopped_; }
    std::vector<std::string> log;

private:
    bool Stopped(const std::string& step, const std::string& what, std::string& error)
    {
        if (steps_++ >= stopAfter_) {
            stopped_ = true;
            error = "stopped";
            return true;
        }
        log.push_back(step + " " + what);
        return false;
    }
    int stopAfter_;
    int steps_ = 0;
    bool stopped_ = false;
};

// "….new-" and six letters or digits.
bool IsTemporaryName(const std::string& path)
{
    const size_t at = path.rfind(".new-");
    return at != std::string::npos && path.size() == at + 5 + 6 &&
           std::all_of(path.begin() + long(at + 5), path.end(), [](char c) { return std::isalnum(uint8_t(c)) != 0; });
}

const sim::Device& S8253() { return *sim::FindDevice("AT89S8253"); }

// What a load found: code, lock bits, fuse.
struct Pair {
    std::vector<uint8_t> code;
    bool locks[3];
    uint8_t fuse;
    bool operator==(const Pair& o) const
    {
        return code == o.code && std::equal(locks, locks + 3, o.locks) && fuse == o.fuse;
    }
};

Pair PairOf(const sim::Chip& chip)
{
    return {chip.Code(), {chip.LockBit(1), chip.LockBit(2), chip.LockBit(3)}, chip.UserFuse()};
}

std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class StateSafetyTest : public ::testing::Test {
protected:
    StateSafetyTest() : oldChip(S8253()), newChip(S8253())
    {
        oldChip.PresetCode(0x0000, 0x11);
        newChip.PresetCode(0x0000, 0x22);
        newChip.PresetCode(0x2FFF, 0x33);
        newChip.PresetLockBits(true, true, false);
        newChip.PresetX2Clock(true);
    }

    // The old pair, and nothing else, in the folder.
    void PutOldPair()
    {
        for (const std::string& name : Names(dir / ""))
            fs::remove(dir / name);
        std::string error;
        ASSERT_TRUE(sim::SaveState(oldChip, image, error)) << error;
    }
    Pair LoadPair(std::string& error, sim::StateFileSystem& files = sim::SystemStateFiles())
    {
        sim::Chip chip(S8253());
        EXPECT_TRUE(sim::LoadState(chip, image, error, files)) << error;
        return PairOf(chip);
    }

    TempDir dir;
    std::string image = dir / "chip.bin";
    sim::Chip oldChip, newChip;
};

TEST_F(StateSafetyTest, AStopAfterAnyStepOfASaveLeavesTheOldPairOrTheNew)
{
    const Pair oldPair = PairOf(oldChip), newPair = PairOf(newChip);
    ASSERT_FALSE(oldPair == newPair);
    int stops = 0;
    bool committed = false;
    for (int n = 0;; ++n) {
        PutOldPair();
        StoppingFiles files(n);
        std::string error;
        const bool saved = sim::SaveState(newChip, image, error, files);
        committed = committed || std::any_of(files.log.begin(), files.log.end(), [&](const std::string& s) {
                        return s.rfind("rename", 0) == 0 && s.find(" " + sim::StateCommitPath(image)) != std::string::npos;
                    });
        if (files.Finished()) {
            ASSERT_TRUE(saved) << error;
        } else {
            EXPECT_FALSE(saved) << "step " << n;
            ++stops;
        }

        // The next start of the program.
        const Pair loaded = LoadPair(error);
        if (committed)
            EXPECT_TRUE(loaded == newPair) << "stopped after step " << n << ", past the commit";
        else
            EXPECT_TRUE(loaded == oldPair) << "stopped after step " << n << ", before the commit";
        // Nothing is left over but the pair, and a second load agrees.
        EXPECT_EQ(Names(dir / ""), (std::vector<std::string>{"chip.bin", "chip.bin.txt"})) << "step " << n;
        EXPECT_TRUE(LoadPair(error) == loaded);
        if (files.Finished())
            break;
    }
    EXPECT_TRUE(committed);
    EXPECT_GE(stops, 12) << "every step of the save was tried";
}

TEST_F(StateSafetyTest, AStopWhileFinishingASaveIsFinishedByTheNextLoad)
{
    const Pair newPair = PairOf(newChip);
    // A save stopped just after its commit record went into place, and each
    // later stop of the load that finishes it.
    int commitStep = -1;
    {
        PutOldPair();
        StoppingFiles probe;
        std::string error;
        ASSERT_TRUE(sim::SaveState(newChip, image, error, probe)) << error;
        for (size_t i = 0; i < probe.log.size() && commitStep < 0; ++i)
            if (probe.log[i].find(" " + sim::StateCommitPath(image)) != std::string::npos &&
                probe.log[i].rfind("rename", 0) == 0)
                commitStep = int(i) + 1;
        ASSERT_GT(commitStep, 0);
    }
    for (int n = 0;; ++n) {
        PutOldPair();
        StoppingFiles save(commitStep);
        std::string error;
        EXPECT_FALSE(sim::SaveState(newChip, image, error, save));
        ASSERT_TRUE(fs::exists(sim::StateCommitPath(image)));

        StoppingFiles load(n);
        sim::Chip chip(S8253());
        const bool loaded = sim::LoadState(chip, image, error, load);
        if (load.Finished()) {
            ASSERT_TRUE(loaded) << error;
            EXPECT_TRUE(PairOf(chip) == newPair);
            break;
        }
        EXPECT_FALSE(loaded);
        EXPECT_TRUE(LoadPair(error) == newPair) << "load stopped after step " << n;
        EXPECT_FALSE(fs::exists(sim::StateCommitPath(image)));
    }
}

TEST_F(StateSafetyTest, EachTemporaryIsSyncedBeforeItsRenameAndTheFolderAfter)
{
    PutOldPair();
    StoppingFiles files;
    std::string error;
    ASSERT_TRUE(sim::SaveState(newChip, image, error, files)) << error;
    const std::vector<std::string>& log = files.log;
    auto at = [&](const std::string& line) {
        return std::find(log.begin(), log.end(), line) - log.begin();
    };
    std::vector<std::string> temporaries;
    for (const std::string& line : log)
        if (line.rfind("write ", 0) == 0)
            temporaries.push_back(line.substr(line.rfind(' ') + 1));
    ASSERT_EQ(temporaries.size(), 3u) << "image, text, commit record";
    const std::string folder = dir / "";
    const auto commitAt = at("rename " + temporaries[2] + " " + sim::StateCommitPath(image));
    const auto imageAt = at("rename " + temporaries[0] + " " + image);
    const auto textAt = at("rename " + temporaries[1] + " " + sim::StateTextPath(image));
    const auto removeAt = at("remove " + sim::StateCommitPath(image));
    ASSERT_LT(removeAt, long(log.size())) << ::testing::PrintToString(log);
    for (const std::string& t : temporaries) {
        EXPECT_TRUE(IsTemporaryName(t)) << t;
        EXPECT_LT(at("sync " + t), commitAt) << t << " is on the disk before the commit";
    }
    auto folderSyncBetween = [&](long from, long to) {
        for (long i = from + 1; i < to; ++i)
            if (log[size_t(i)].rfind("syncdir ", 0) == 0)
                return true;
        return false;
    };
    EXPECT_TRUE(folderSyncBetween(at("sync " + temporaries[2]), commitAt)) << "the names are durable first";
    EXPECT_TRUE(folderSyncBetween(commitAt, std::min(imageAt, textAt))) << "the commit is durable first";
    EXPECT_TRUE(folderSyncBetween(std::max(imageAt, textAt), removeAt)) << "the pair is durable first";
    EXPECT_EQ(log.back().rfind("syncdir ", 0), 0u);

    // Another save picks other names.
    StoppingFiles again;
    ASSERT_TRUE(sim::SaveState(newChip, image, error, again)) << error;
    EXPECT_EQ(std::find(again.log.begin(), again.log.end(), log[0]), again.log.end());
}

TEST_F(StateSafetyTest, ACommitRecordThatDoesNotFitIsRefusedAndNothingIsTouched)
{
    PutOldPair();
    const std::string commit = sim::StateCommitPath(image);
    const std::string hashOfNothing = "cbf29ce484222325";
    const struct {
        std::string record;
        const char* says;
    } cases[] = {
        {"../chip.bin.new-abcdef ../chip.bin 0 " + hashOfNothing + "\n", "no file of this chip"},
        {"victim.new-abcdef victim 0 " + hashOfNothing + "\n", "no file of this chip"},
        {"chip.bin.txt.new-abcdef chip.bin 0 " + hashOfNothing + "\n", "no temporary of chip.bin"},
        {"chip.bin.new-abc/ef chip.bin 0 " + hashOfNothing + "\n", "no temporary"},
        {"chip.bin.new-abcdef chip.bin -1 " + hashOfNothing + "\n", "decimal number"},
        {"chip.bin.new-abcdef chip.bin 0 xyz\n", "16 hex digits"},
        {"chip.bin.new-abcdef chip.bin 0\n", "expected a temporary name"},
        {"chip.bin.new-abcdef chip.bin 0 " + hashOfNothing + " more\n", "expected a temporary name"},
        {"chip.bin.new-abcdef chip.bin 0 " + hashOfNothing + "\nchip.bin.new-abcdeg chip.bin 0 " +
             hashOfNothing + "\n",
         "comes twice"},
        {"# nothing\n", "names no file"},
        // Well formed, but the image in place is not what it names.
        {"chip.bin.new-abcdef chip.bin 12288 0123456789abcdef\n", "does not hold what the save"},
    };
    for (const auto& c : cases) {
        WriteAll(commit, c.record);
        std::string error;
        sim::Chip chip(S8253());
        EXPECT_FALSE(sim::LoadState(chip, image, error)) << c.record;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.record << error;
        EXPECT_NE(error.find("move that file away"), std::string::npos) << error;
        EXPECT_EQ(chip.CodeByte(0), 0xFF) << "the chip is left as it was";
        EXPECT_EQ(ReadAll(commit), c.record);
        EXPECT_EQ(uint8_t(ReadAll(image)[0]), 0x11);
    }
}

TEST_F(StateSafetyTest, FilesOfEarlierVersionsStillLoad)
{
    // A pair written before saves were committed, with the fixed-name
    // temporary of those versions still lying about.
    std::string code(12288, '\xFF');
    code[5] = '\x42';
    WriteAll(image, code);
    WriteAll(image + ".txt", "device=AT89S8253\nlockbits=LB1\nfuse=D\n");
    WriteAll(image + ".tmp", "half a file");
    std::string error;
    sim::Chip chip(S8253());
    ASSERT_TRUE(sim::LoadState(chip, image, error)) << error;
    EXPECT_EQ(chip.CodeByte(5), 0x42);
    EXPECT_TRUE(chip.LockBit(1));
    EXPECT_TRUE(chip.X2Clock());
    EXPECT_EQ(ReadAll(image + ".tmp"), "half a file") << "not a file of ours to remove";
}

TEST_F(StateSafetyTest, AnOversizedImageIsDescribedWithoutBeingRead)
{
    {
        std::ofstream(image, std::ios::binary); // create
    }
    fs::resize_file(image, uint64_t(1) << 32); // sparse: 4 GiB that take no room
    WriteAll(image + ".txt", std::string(2 << 20, '#'));
    std::string error;
    sim::Chip chip(S8253());
    EXPECT_FALSE(sim::LoadState(chip, image, error));
    EXPECT_NE(error.find("holds 4294967296 bytes"), std::string::npos) << error;
    fs::resize_file(image, 12288);
    EXPECT_FALSE(sim::LoadState(chip, image, error));
    EXPECT_NE(error.find("far more than a state file"), std::string::npos) << error;
    EXPECT_EQ(fs::file_size(image), 12288u) << "left as it was";
}

TEST_F(StateSafetyTest, AFolderOrAPipeInsteadOfAFileIsRefusedAtOnce)
{
    fs::create_directory(image);
    std::string error;
    sim::Chip chip(S8253());
    EXPECT_FALSE(sim::LoadState(chip, image, error));
    EXPECT_NE(error.find(image + ": it is not a regular file"), std::string::npos) << error;
    fs::remove(image);
    ASSERT_EQ(::mkfifo(sim::StateTextPath(image).c_str(), 0600), 0);
    EXPECT_FALSE(sim::LoadState(chip, image, error)) << "no wait for a writer";
    EXPECT_NE(error.find(".txt: it is not a regular file"), std::string::npos) << error;
}

TEST(SimStateLock, ASecondProgramOnTheSameStateFileIsRefused)
{
    TempDir dir;
    const std::string image = dir / "s52.bin";
    auto first = OpenSim("AT89S52,timing=instant,state=" + image);
    ASSERT_NE(first, nullptr);
    first->Chip().PresetCode(0x0010, 0x5A);

    // Another program: a child process, which finds the lock held.
    const pid_t child = ::fork();
    if (child == 0) {
        std::string error;
        auto second = MakeSimPort("AT89S52,timing=instant,state=" + image, error);
        const bool refused = !second && error.find("in use by another QVX-ISP (process " +
                                                   std::to_string(::getppid()) + ")") != std::string::npos;
        if (!refused)
            std::fprintf(stderr, "second program: %s\n", error.c_str());
        std::_Exit(refused ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other program was refused, naming us";

    // In this process too, and it says so clearly without touching the files.
    std::string error;
    EXPECT_EQ(MakeSimPort("AT89S52,timing=instant,state=" + image, error), nullptr);
    EXPECT_NE(error.find("state file: " + image + " is in use by another QVX-ISP"), std::string::npos) << error;
    EXPECT_NE(error.find("state file of its own"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(image)) << "nothing saved over it yet";

    // Once the first program has ended (and saved), the next one may start.
    first.reset();
    auto next = OpenSim("AT89S52,timing=instant,state=" + image);
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(next->Chip().CodeByte(0x0010), 0x5A);

    // A state that fails to load leaves no lock behind.
    next.reset();
    WriteAll(image, "short");
    EXPECT_EQ(MakeSimPort("AT89S52,state=" + image, error), nullptr);
    WriteAll(image, std::string(8192, '\xFF'));
    EXPECT_NE(OpenSim("AT89S52,timing=instant,state=" + image), nullptr);
}

} // namespace
} // namespace qvx::test
