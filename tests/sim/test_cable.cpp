// The simulated cable: which port bits reach the chip's pins, what the status
// register reads, the two ports, and the option string.
#include "SimTest.h"

namespace qvx::test {
namespace {

TEST(SimCable, SenseReadsOneOnlyWhileResetIsHigh)
{
    auto port = OpenSim("AT89S52,timing=instant");
    Wire wire(*port);
    EXPECT_FALSE(wire.Sense()) << "RST starts low";
    wire.Rst(true);
    EXPECT_TRUE(wire.Sense());
    EXPECT_EQ(port->Register(0x379) & 0x10, 0x10);
    wire.Rst(false);
    EXPECT_FALSE(wire.Sense());
    EXPECT_TRUE(wire.Miso()) << "with RST low the chip runs and MISO is a pulled-up port pin";
    EXPECT_TRUE(port->IsDriverInstalled());
}

TEST(SimCable, DataBitsFourFiveSixAreResetMosiAndClock)
{
    auto port = OpenSim("AT89S52,timing=instant");
    port->Chip().RecordTrace(true);
    Wire wire(*port);
    wire.ResetPulse();
    EXPECT_EQ(wire.Enable4(), 0x69);
    EXPECT_TRUE(port->Chip().ProgrammingEnabled());
    EXPECT_EQ(port->Chip().TraceLines(), (std::vector<std::string>{"AC 53 55 55 -> 00 00 00 69"}));

    // The run-mode lines and the unused data bits do not touch the chip.
    for (uint8_t bit : {0, 1, 2, 3, 7})
        port->SetPortBit(0x378, bit);
    EXPECT_EQ(port->Register(0x378), 0xBF) << "RST high, MOSI left at the last bit sent, SCK low";
    EXPECT_TRUE(port->Chip().ProgrammingEnabled());
    EXPECT_EQ(port->Chip().TraceLines().size(), 1u);
}

TEST(SimCable, RegistersKeepWhatWasWrittenAndStatusWritesChangeNothing)
{
    auto port = OpenSim("AT89S52,timing=instant");
    port->SetPortBit(0x378, 0);
    port->SetPortBit(0x378, 3);
    port->ClrPortBit(0x378, 0);
    EXPECT_EQ(port->Register(0x378), 0x08);
    EXPECT_TRUE(port->GetPortBit(0x378, 3));
    EXPECT_FALSE(port->GetPortBit(0x378, 0));
    port->SetPortBit(0x37A, 2);
    EXPECT_TRUE(port->GetPortBit(0x37A, 2));

    // With RST high the enabled chip drives MISO low; setting the status bit
    // (as the programmer does before every sample) cannot override it.
    Wire wire(*port);
    wire.ResetPulse();
    ASSERT_FALSE(wire.Miso());
    port->SetPortBit(0x379, 6);
    EXPECT_FALSE(wire.Miso());
    port->ClrPortBit(0x379, 4);
    EXPECT_TRUE(wire.Sense());

    // No port is decoded at other addresses: reads float high, writes vanish.
    port->ClrPortBit(0x3BC, 0);
    EXPECT_TRUE(port->GetPortBit(0x3BC, 0));
    EXPECT_EQ(port->Register(0x3BC), 0xFF);
    EXPECT_FALSE(port->GetPortBit(0x378, 9)) << "bit numbers above 7 read nothing";
}

TEST(SimCable, CableOnLpt2LeavesLpt1Empty)
{
    auto port = OpenSim("AT89S52,lpt2,timing=instant");
    EXPECT_EQ(port->CableDataPort(), 0x278);
    Wire lpt1(*port, 0x378);
    lpt1.ResetPulse();
    EXPECT_FALSE(lpt1.Sense());
    EXPECT_EQ(lpt1.Enable4(), 0xFF) << "nothing attached: MISO floats high";
    EXPECT_FALSE(port->Chip().ProgrammingEnabled());
    EXPECT_TRUE(port->GetPortBit(0x378, 4)) << "the data register still keeps its value";

    Wire lpt2(*port, 0x278);
    lpt2.ResetPulse();
    EXPECT_TRUE(lpt2.Sense());
    EXPECT_EQ(lpt2.Enable4(), 0x69);
    EXPECT_FALSE(lpt1.Sense());

    auto first = OpenSim("AT89S52,lpt2,lpt1,timing=instant");
    EXPECT_EQ(first->CableDataPort(), 0x378);
}

TEST(SimCable, PortSelectionOpensTheSimulatedCable)
{
    std::string error;
    std::unique_ptr<PortAccess> port = OpenPortAccess("sim:at89s8253,timing=instant", error);
    ASSERT_NE(port, nullptr) << error;
    auto* sim = dynamic_cast<SimPort*>(port.get());
    ASSERT_NE(sim, nullptr);
    EXPECT_EQ(sim->Chip().Name(), "AT89S8253");
    EXPECT_EQ(sim->Chip().Code().size(), 12288u);
}

TEST(SimCable, EveryDeviceHasItsSizeAndInstructionSet)
{
    const struct {
        const char* name;
        size_t size;
        bool threeByte;
    } parts[] = {{"AT89S51", 4096, false},   {"AT89S52", 8192, false},   {"AT89S53", 12288, true},
                 {"AT89S8252", 8192, true},  {"AT89S8253", 12288, false}, {"AT89S2051", 2048, false},
                 {"AT89S4051", 4096, false}};
    for (const auto& part : parts) {
        SCOPED_TRACE(part.name);
        Session s(std::string(part.name) + ",timing=instant");
        EXPECT_EQ(s.chip().Code().size(), part.size);
        const uint16_t last = static_cast<uint16_t>(part.size - 1);
        if (part.threeByte) {
            s.wire.Enable3();
            s.wire.Write3(last, 0x5A);
            EXPECT_EQ(s.wire.Read3(last), 0x5A);
        } else {
            EXPECT_EQ(s.wire.Enable4(), 0x69);
            s.wire.Write4(last, 0x5A);
            EXPECT_EQ(s.wire.Read4(last), 0x5A);
        }
        EXPECT_EQ(s.chip().CodeByte(last), 0x5A);
        EXPECT_EQ(s.chip().Counters().codeWrites, 1u);
    }
}

TEST(SimCable, OptionErrorsNameWhatIsAccepted)
{
    std::string error;
    EXPECT_EQ(MakeSimPort("AT89S99", error), nullptr);
    EXPECT_NE(error.find("unknown device \"AT89S99\""), std::string::npos) << error;
    EXPECT_NE(error.find("AT89S51, AT89S52, AT89S53, AT89S8252, AT89S8253, AT89S2051, AT89S4051"), std::string::npos);

    EXPECT_EQ(MakeSimPort("", error), nullptr);
    EXPECT_NE(error.find("name the chip"), std::string::npos) << error;

    EXPECT_EQ(MakeSimPort("AT89S52,turbo", error), nullptr);
    EXPECT_NE(error.find("unknown option \"turbo\""), std::string::npos) << error;
    for (const char* accepted : {"lpt2", "timing=realistic|virtual|instant", "xtal=HZ", "iodelay[=NS]",
                                 "fault=nocable|nochip|noenable|busy", "noise=P", "seed=N", "weak=ADDR",
                                 "state=PATH", "trace=PATH", "lines=PATH"})
        EXPECT_NE(error.find(accepted), std::string::npos) << accepted;

    const char* bad[] = {"AT89S52,timing=fast", "AT89S52,xtal=0",     "AT89S52,xtal=12MHz", "AT89S52,noise=1.5",
                         "AT89S52,noise=x",     "AT89S52,seed=-1",    "AT89S52,fault=fire", "AT89S2051,weak=0x800",
                         "AT89S52,weak=zz",     "AT89S52,iodelay=-5", "AT89S52,,lpt2",      "AT89S52,state=",
                         "AT89S52,lpt2=1",      "AT89S52,trace",      "AT89S52,lines="};
    for (const char* options : bad) {
        error.clear();
        EXPECT_EQ(MakeSimPort(options, error), nullptr) << options;
        EXPECT_FALSE(error.empty()) << options;
    }

    // Through the port selection the error names the whole setting.
    EXPECT_EQ(OpenPortAccess("sim:AT89S52,timing=fast", error), nullptr);
    EXPECT_EQ(error.rfind("QVX_PORT=sim:AT89S52,timing=fast: ", 0), 0u) << error;
}

TEST(SimCable, OptionsReachTheChip)
{
    auto port = OpenSim("AT89S2051,timing=virtual,xtal=24000000,iodelay=250,fault=noenable,fault=busy,"
                        "noise=0.25,seed=99,weak=7FFh");
    const sim::ChipOptions& o = port->Chip().Options();
    EXPECT_EQ(o.timing, sim::Timing::Virtual);
    EXPECT_EQ(o.xtalHz, 24000000u);
    EXPECT_TRUE(o.neverEnables);
    EXPECT_TRUE(o.endlessWrite);
    EXPECT_DOUBLE_EQ(o.misoNoise, 0.25);
    EXPECT_EQ(o.noiseSeed, 99u);
    EXPECT_EQ(o.weakCell, 0x7FFu);
    EXPECT_EQ(port->Cable().ioDelayNs, 250);

    // The virtual clock moves by the I/O delay on every port access.
    const int64_t before = port->Chip().NowNs();
    port->GetPortBit(0x379, 6);
    port->SetPortBit(0x378, 0);
    EXPECT_EQ(port->Chip().NowNs() - before, 500);

    auto defaults = OpenSim("AT89S52");
    EXPECT_EQ(defaults->Chip().Options().timing, sim::Timing::Realistic);
    EXPECT_EQ(defaults->Chip().Options().xtalHz, 12000000u);
    EXPECT_EQ(OpenSim("AT89S52,weak=0x1FFF")->Chip().Options().weakCell, 0x1FFFu);
    EXPECT_EQ(OpenSim("AT89S52,weak=300")->Chip().Options().weakCell, 300u);
}

TEST(SimCable, TheLinesFileShowsResetAndTheRunModeLinesOfTheCablesPort)
{
    TempDir dir;
    const std::string lines = dir / "lines.txt";
    auto port = OpenSim("AT89S52,lpt2,lines=" + lines);
    EXPECT_EQ(ReadAll(lines), "RST=0 D3=0 D7=0\n");
    port->SetPortBit(0x278, 4);
    EXPECT_EQ(ReadAll(lines), "RST=1 D3=0 D7=0\n");
    port->SetPortBit(0x278, 7);
    port->SetPortBit(0x278, 3);
    EXPECT_EQ(ReadAll(lines), "RST=1 D3=1 D7=1\n");
    port->ClrPortBit(0x278, 4);
    EXPECT_EQ(ReadAll(lines), "RST=0 D3=1 D7=1\n");
    // Another port, or another line, is not shown.
    WriteAll(lines, "untouched\n");
    port->SetPortBit(0x378, 4);
    port->SetPortBit(0x278, 6);
    port->ClrPortBit(0x278, 5);
    port->SetPortBit(0x278, 7); // no change
    EXPECT_EQ(ReadAll(lines), "untouched\n");

    // The write a dying program makes from its signal handler.
    port->SetPortBit(0x278, 4);
    port->ClrPortBit(0x278, 3);
    port->SignalSafeWrite(0x278, 0x88, 0x10);
    EXPECT_EQ(ReadAll(lines), "RST=0 D3=1 D7=1\n");
    EXPECT_EQ(port->Register(0x278), 0xC8);

    std::string error;
    EXPECT_EQ(MakeSimPort("AT89S52,lines=" + (dir / "no/such/folder"), error), nullptr);
    EXPECT_NE(error.find("cannot write the lines file"), std::string::npos) << error;
}

TEST(SimCable, IoDelayMakesEachAccessCostAMicrosecondOfRealTime)
{
    auto port = OpenSim("AT89S52,timing=realistic,iodelay");
    EXPECT_EQ(port->Cable().ioDelayNs, 1000);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 200; ++i)
        port->GetPortBit(0x379, 6);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::microseconds(200));
}

} // namespace
} // namespace qvx::test
