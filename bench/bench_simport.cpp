// Speed of the simulated cable and chip: raw port accesses, and complete
// four-byte read instructions clocked the way a programmer clocks them (MOSI,
// status bit 6, SCK up, sample, SCK down: five port calls per bit).
#include "SimPort.h"

#include <benchmark/benchmark.h>

#include <stdexcept>

namespace {

std::unique_ptr<qvx::SimPort> Open(const char* options)
{
    std::string error;
    auto port = qvx::MakeSimPort(options, error);
    if (!port)
        throw std::runtime_error(error);
    return port;
}

uint8_t Transfer(qvx::PortAccess& port, uint8_t out)
{
    uint8_t in = 0;
    for (int i = 7; i >= 0; --i) {
        (out >> i) & 1 ? port.SetPortBit(0x378, 5) : port.ClrPortBit(0x378, 5);
        port.SetPortBit(0x379, 6);
        port.SetPortBit(0x378, 6);
        in = static_cast<uint8_t>(in << 1 | (port.GetPortBit(0x379, 6) ? 1 : 0));
        port.ClrPortBit(0x378, 6);
    }
    return in;
}

void PortAccesses(benchmark::State& state, const char* options)
{
    auto port = Open(options);
    port->SetPortBit(0x378, 4);
    for (auto _ : state)
        benchmark::DoNotOptimize(port->GetPortBit(0x379, 6));
    state.SetItemsProcessed(state.iterations());
}

void ReadInstructions(benchmark::State& state, const char* options)
{
    auto port = Open(options);
    port->SetPortBit(0x378, 4);
    for (uint8_t b : {0xAC, 0x53, 0x55, 0x55})
        Transfer(*port, b);
    uint16_t address = 0;
    for (auto _ : state) {
        Transfer(*port, 0x20);
        Transfer(*port, static_cast<uint8_t>(address >> 8 & 0x1F));
        Transfer(*port, static_cast<uint8_t>(address));
        benchmark::DoNotOptimize(Transfer(*port, 0x00));
        ++address;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["port_calls_per_s"] =
        benchmark::Counter(double(port->Accesses()), benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK_CAPTURE(PortAccesses, instant, "AT89S52,timing=instant");
BENCHMARK_CAPTURE(PortAccesses, realistic, "AT89S52,timing=realistic");
BENCHMARK_CAPTURE(PortAccesses, realistic_iodelay, "AT89S52,timing=realistic,iodelay");
BENCHMARK_CAPTURE(ReadInstructions, instant, "AT89S52,timing=instant");
BENCHMARK_CAPTURE(ReadInstructions, virtual_clock, "AT89S52,timing=virtual");
BENCHMARK_CAPTURE(ReadInstructions, realistic_iodelay, "AT89S52,timing=realistic,iodelay");
BENCHMARK_CAPTURE(ReadInstructions, instant_trace, "AT89S52,timing=instant,trace=/dev/null");

BENCHMARK_MAIN();
