// A noisy MISO line on each cable (the parallel port, GPIO lines, the
// FT232R): READ CHIP brings the chip's bytes back or says the line is too
// noisy, and VERIFY CODE never passes a chip one bit away from the buffer.
#include "CommandBench.h"
#include "FtdiPort.h"
#include "GpioPort.h"
#include "SimPort.h"
#include "VirtualFt232r.h"
#include "VirtualGpioChip.h"

#include <gtest/gtest.h>

namespace qvx {
namespace {

enum class Cable { ParallelPort, GpioLines, Ft232r };

// An AT89S52 on `cable` whose MISO bits arrive flipped with chance `noise`.
struct NoisyBench : test::CommandBench {
    NoisyBench(Cable cable, double noise, uint64_t seed)
    {
        sim::ChipOptions options;
        options.timing = sim::Timing::Instant, options.misoNoise = noise, options.noiseSeed = seed;
        const sim::Device& device = *sim::FindDevice("AT89S52");
        if (cable == Cable::Ft232r) {
            auto system = std::make_unique<VirtualFt232r>(device, options, VirtualFt232rOptions{});
            chip = &system->Chip();
            port = std::make_unique<FtdiPort>(FtdiSettings{}, std::move(system));
        } else {
            sim = std::make_unique<SimPort>(device, SimCableOptions{}, options);
            chip = &sim->Chip();
            const GpioSettings wiring{"gpiochip0", 25, 10, 11, 9};
            if (cable == Cable::GpioLines)
                port = std::make_unique<GpioPort>(wiring, std::make_unique<VirtualGpioChip>(*sim, wiring));
        }
        link.Port = port ? port.get() : sim.get();
        selection.DeviceCode = DeviceCodeByName("AT89S52");
        commands.PowerUp(kLpt1Data);
    }

    std::unique_ptr<SimPort> sim;
    std::unique_ptr<PortAccess> port;
    sim::Chip* chip = nullptr;
};

TEST(NoisyLine, NoCableLetsAWrongByteThrough)
{
    const std::vector<uint8_t> image = test::RandomBytes(0x2000, 5);
    std::vector<uint8_t> oneBitOff = image;
    oneBitOff[0x1357] ^= 0x04;
    for (const Cable cable : {Cable::ParallelPort, Cable::GpioLines, Cable::Ft232r}) {
        for (const auto& [noise, seed] : {std::pair{0.01, 1}, std::pair{0.02, 2}}) {
            SCOPED_TRACE(::testing::Message() << "cable " << int(cable) << ", noise " << noise);
            NoisyBench bench(cable, noise, uint64_t(seed));
            bench.chip->PresetCode(image);
            const Outcome read = bench.commands.ReadChip();
            if (read == Outcome::Succeeded) {
                for (size_t a = 0; a < image.size(); ++a)
                    ASSERT_EQ(bench.Byte(int32_t(a)), image[a]) << a;
            } else {
                EXPECT_EQ(bench.view.statuses.back(), kNoisyLine);
            }
            bench.Load(oneBitOff);
            EXPECT_EQ(bench.commands.Verify(), Outcome::ChipFailed);
            if (bench.view.statuses.back() != kNoisyLine) {
                EXPECT_EQ(bench.view.LogTexts().end()[-2].substr(0, 21), "Verify failed at 1357");
            }
            EXPECT_GT(bench.chip->Counters().flippedMiso, 0u);
        }
    }
}

} // namespace
} // namespace qvx
