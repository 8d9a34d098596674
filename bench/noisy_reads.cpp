// Reads that noise cannot fool, seeded: READ CHIP and VERIFY CODE of a full
// chip through the command layer (as qvx-isp-cli runs them) on the simulated
// chip with a noisy MISO line, `noise=P,seed=N`, for many seeds at each P.
// Counts how each run ended; a read that succeeded with a byte the chip does
// not hold, or a verify that passed a chip one bit away from the buffer, is
// a wrong success, and there must be none (exit status 1 otherwise).
//
//   noisy_reads [--device=NAME] [--runs=N] [P...]
//
// Defaults: AT89S52, 100 runs, P = 0.001 0.005 0.01 0.02. A check, not a
// timing program: it counts outcomes and reads, never time.
#include "Commands.h"
#include "SimPort.h"

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace qvx;

namespace {

// A front end that shows nothing and keeps the last status text.
class QuietView : public CommandView {
public:
    void ShowStatus(const std::string& text) override { status = text; }
    void ShowMessage(const std::string&) override {}
    void WriteLog(const std::string&) override {}
    std::string status;
};

struct Tally {
    int exact = 0, noisy = 0, wrong = 0;             // reads
    int caught = 0, noisyCheck = 0, fooled = 0;      // verifies of a chip one bit off
    int passed = 0, failedRight = 0;                 // verifies of the right chip
    uint64_t pageReads = 0, byteReads = 0, runs = 0; // what the reads cost
};

void Load(CodeBuffer& buffer, const std::vector<uint8_t>& image)
{
    for (size_t a = 0; a < image.size(); ++a) {
        buffer.CodeHigh[a] = HexDigitChar(image[a] >> 4);
        buffer.CodeLow[a] = HexDigitChar(image[a] & 15);
    }
}

bool Holds(const CodeBuffer& buffer, const std::vector<uint8_t>& image)
{
    for (size_t a = 0; a < image.size(); ++a)
        if (HexByteValue(buffer.CodeHigh[a], buffer.CodeLow[a]) != image[a])
            return false;
    return true;
}

void Run(const std::string& device, double p, uint64_t seed, Tally& t)
{
    std::string error;
    const std::unique_ptr<SimPort> sim =
        MakeSimPort(device + ",timing=instant,noise=" + std::to_string(p) + ",seed=" + std::to_string(seed), error);
    if (!sim) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(2);
    }
    std::mt19937_64 random(seed * 7919 + 17);
    std::vector<uint8_t> image(sim->Chip().Code().size());
    for (uint8_t& b : image)
        b = uint8_t(random());
    sim->Chip().PresetCode(image);

    LinkState link;
    link.Port = sim.get();
    auto buffer = std::make_unique<CodeBuffer>();
    Selection selection;
    selection.DeviceCode = DeviceCodeByName(device);
    selection.AutoReload = false;
    QuietView view;
    Commands commands(link, *buffer, selection, view);
    commands.PowerUp(kLpt1Data);

    const sim::ChipCounters before = sim->Chip().Counters();
    const Outcome read = commands.ReadChip();
    t.pageReads += sim->Chip().Counters().pageReads - before.pageReads;
    t.byteReads += sim->Chip().Counters().codeReads - before.codeReads;
    ++t.runs;
    if (read == Outcome::Succeeded)
        (Holds(*buffer, image) ? t.exact : t.wrong) += 1;
    else if (view.status == kNoisyLine)
        ++t.noisy;
    else
        ++t.wrong; // failed for another reason: counted against the program

    // The buffer one bit away from the chip at a random address.
    std::vector<uint8_t> oneBitOff = image;
    oneBitOff[random() % image.size()] ^= uint8_t(1u << (random() % 8));
    Load(*buffer, oneBitOff);
    const Outcome off = commands.Verify();
    if (off == Outcome::Succeeded)
        ++t.fooled;
    else
        (view.status == kNoisyLine ? t.noisyCheck : t.caught) += 1;

    Load(*buffer, image);
    (commands.Verify() == Outcome::Succeeded ? t.passed : t.failedRight) += 1;
}

} // namespace

int main(int argc, char** argv)
{
    std::string device = "AT89S52";
    int runs = 100;
    std::vector<double> noise;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--device=", 0) == 0)
            device = arg.substr(9);
        else if (arg.rfind("--runs=", 0) == 0)
            runs = std::stoi(arg.substr(7));
        else
            noise.push_back(std::stod(arg));
    }
    if (noise.empty())
        noise = {0.001, 0.005, 0.01, 0.02};
    if (!sim::FindDevice(device) || runs < 1) {
        std::fprintf(stderr, "usage: %s [--device=NAME] [--runs=N] [P...]\n", argv[0]);
        return 2;
    }

    std::printf("%s, READ CHIP and VERIFY CODE of the full chip holding random data, noise=P,seed=1..%d\n\n",
                device.c_str(), runs);
    std::printf("| P | reads exact | reads failed: line too noisy | reads wrong | verifies of a chip one bit off: "
                "failed | ... line too noisy | ... passed (wrong) | verifies of the right chip: passed | ... failed | "
                "reads per byte |\n");
    std::printf("|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    int wrong = 0;
    for (double p : noise) {
        Tally t;
        for (int seed = 1; seed <= runs; ++seed)
            Run(device, p, uint64_t(seed), t);
        const double size = double(sim::FindDevice(device)->codeSize);
        const uint32_t page = sim::FindDevice(device)->page.readBytes;
        const double perByte = (double(t.pageReads) * page + double(t.byteReads)) / size / double(t.runs);
        std::printf("| %g | %d | %d | %d | %d | %d | %d | %d | %d | %.1f |\n", p, t.exact, t.noisy, t.wrong, t.caught,
                    t.noisyCheck, t.fooled, t.passed, t.failedRight, perByte);
        std::fflush(stdout);
        wrong += t.wrong + t.fooled;
    }
    std::printf("\nwrong successes: %d\n", wrong);
    return wrong ? 1 : 0;
}
