// The cost of loading a HEX file and of redrawing the hex view.
//
//   build/bench/bench_hexview
//
// Runs on Qt's offscreen platform unless QT_QPA_PLATFORM names another.
#include "CodeBuffer.h"
#include "Config.h"
#include "HexFile.h"
#include "ISP_S8252.h"
#include "RecordingPort.h"

#include <QApplication>
#include <QTest>

#include <benchmark/benchmark.h>

#include <memory>

namespace {

std::string ExampleText(const char* file)
{
    std::string text;
    const std::string error = qvx::ReadWholeFile(std::string(QVX_SOURCE_DIR) + "/examples/" + file, text);
    if (!error.empty())
        throw std::runtime_error(error);
    return text;
}

// Parsing the 12 KB self test (758 records) into a cleared buffer.
void BM_LoadHexText(benchmark::State& state)
{
    const std::string text = ExampleText("selftest_12k.hex");
    auto buffer = std::make_unique<qvx::CodeBuffer>();
    for (auto _ : state) {
        const qvx::HexResult result = qvx::LoadHexText(text, *buffer);
        benchmark::DoNotOptimize(result.EndAddress);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(BM_LoadHexText)->Unit(benchmark::kMicrosecond);

qvx::TfrmMain::Hooks QuietHooks()
{
    qvx::TfrmMain::Hooks hooks;
    hooks.Message = [](const QString&) {};
    hooks.Clock = [] {
        static long reads = 0;
        return std::to_string(reads++ / 1000);
    };
    return hooks;
}

// ShowBuffer: the copy of the buffer into the view's model, the change
// notice and the one round of message processing; `visible` also paints the
// rows on screen.
void BM_ShowBuffer(benchmark::State& state)
{
    qvx::RecordingPort port;
    qvx::TfrmMain window(port, QuietHooks());
    if (state.range(0)) {
        window.show();
        (void)QTest::qWaitForWindowExposed(&window);
    }
    for (auto _ : state)
        window.ShowBuffer();
}
BENCHMARK(BM_ShowBuffer)->Arg(0)->Arg(1)->ArgName("visible")->Unit(benchmark::kMicrosecond);

// A whole Load Code of the 12 KB self test: clear, read, parse, redraw.
void BM_LoadCode(benchmark::State& state)
{
    qvx::RecordingPort port;
    qvx::TfrmMain::Hooks hooks = QuietHooks();
    const QString path = QStringLiteral(QVX_SOURCE_DIR "/examples/selftest_12k.hex");
    hooks.OpenFile = [path]() -> std::optional<QString> { return path; };
    qvx::TfrmMain window(port, hooks);
    window.show();
    (void)QTest::qWaitForWindowExposed(&window);
    for (auto _ : state)
        window.Load1Click();
}
BENCHMARK(BM_LoadCode)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
