// The ppdev backend with its system calls replaced: which device each LPT
// maps to, which ioctls each bit function makes, and the driver check.
#include "PpdevPort.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <algorithm>
#include <map>

namespace qvx {
namespace {

struct FakeParport {
    std::string baseAddr; // content of base-addr
    unsigned char data = 0;
    unsigned char status = 0;
    int openErrno = 0;    // non-zero: open fails with it
    bool claimFails = false;
    bool claimed = false;
};

class FakeSystem : public PpdevSystem {
public:
    ~FakeSystem() override
    {
        if (logAfterDestruction)
            *logAfterDestruction = log;
    }
    int Open(const std::string& path, int flags) override
    {
        log.push_back("open " + path);
        EXPECT_EQ(flags & O_ACCMODE, O_RDWR);
        for (auto& [name, p] : ports) {
            if ("/dev/" + name != path)
                continue;
            if (p.openErrno) {
                errno = p.openErrno;
                return -1;
            }
            fds[next] = &p;
            return next++;
        }
        errno = ENOENT;
        return -1;
    }
    int Ioctl(int fd, unsigned long request, void* arg) override
    {
        FakeParport& p = *fds.at(fd);
        auto* byte = static_cast<unsigned char*>(arg);
        switch (request) {
        case PPCLAIM:
            log.push_back("claim");
            if (p.claimFails) {
                errno = EBUSY;
                return -1;
            }
            p.claimed = true;
            return 0;
        case PPRELEASE: log.push_back("release"); return 0;
        case PPDATADIR: log.push_back("datadir " + std::to_string(*static_cast<int*>(arg))); return 0;
        case PPRDATA: log.push_back("rdata"); *byte = p.data; break;
        case PPWDATA: log.push_back("wdata " + std::to_string(*byte)); p.data = *byte; break;
        case PPRSTATUS: log.push_back("rstatus"); *byte = p.status; break;
        default: ADD_FAILURE() << "unexpected ioctl " << request; return -1;
        }
        EXPECT_TRUE(p.claimed) << "register access before PPCLAIM";
        return 0;
    }
    void Close(int) override { log.push_back("close"); }
    std::optional<std::string> ReadText(const std::string& path) override
    {
        for (auto& [name, p] : ports)
            if (path == "/proc/sys/dev/parport/" + name + "/base-addr")
                return p.baseAddr;
        return std::nullopt;
    }
    std::vector<std::string> ListDir(const std::string& path) override
    {
        EXPECT_EQ(path, "/proc/sys/dev/parport/");
        std::vector<std::string> names = {"default"};
        for (auto& [name, p] : ports)
            names.push_back(name);
        return names;
    }

    std::map<std::string, FakeParport> ports;
    std::map<int, FakeParport*> fds;
    std::vector<std::string> log;
    std::vector<std::string>* logAfterDestruction = nullptr;
    int next = 5;
};

class PpdevTest : public ::testing::Test {
protected:
    PpdevTest()
    {
        auto fake = std::make_unique<FakeSystem>();
        sys = fake.get();
        // parport0 is an add-in card at 0x278, parport1 the motherboard port.
        sys->ports["parport0"].baseAddr = "632\t1656\n";
        sys->ports["parport1"].baseAddr = "888\t1912\n";
        port = std::make_unique<PpdevPort>(std::move(fake));
    }
    FakeSystem* sys;
    std::unique_ptr<PpdevPort> port;
};

TEST_F(PpdevTest, MapsEachLptToTheParportWithItsBaseAddress)
{
    EXPECT_EQ(port->DeviceFor(0x378), "/dev/parport1");
    EXPECT_EQ(port->DeviceFor(0x278), "/dev/parport0");
    EXPECT_EQ(port->DeviceFor(0x3BC), std::nullopt);
}

TEST_F(PpdevTest, DataBitsAreReadModifyWrittenOnTheRightDevice)
{
    sys->ports["parport1"].data = 0x0F;
    port->SetPortBit(0x378, 4);
    port->ClrPortBit(0x378, 0);
    EXPECT_EQ(sys->ports["parport1"].data, 0x1E);
    EXPECT_EQ(sys->ports["parport0"].data, 0x00);
    EXPECT_EQ(sys->log, (std::vector<std::string>{"open /dev/parport1", "claim", "datadir 0", "rdata",
                                                  "wdata 31", "rdata", "wdata 30"}));

    port->SetPortBit(0x278, 7);
    EXPECT_EQ(sys->ports["parport0"].data, 0x80);
    EXPECT_TRUE(port->GetPortBit(0x378, 4)); // the data register reads back
}

TEST_F(PpdevTest, StatusIsReadAndNeverWritten)
{
    sys->ports["parport1"].status = 0x50; // MISO and sense high
    EXPECT_TRUE(port->GetPortBit(0x379, 6));
    EXPECT_TRUE(port->GetPortBit(0x379, 4));
    EXPECT_FALSE(port->GetPortBit(0x379, 5));
    const size_t before = sys->log.size();
    port->SetPortBit(0x379, 6);
    port->ClrPortBit(0x379, 6);
    EXPECT_EQ(sys->log.size(), before);
    EXPECT_EQ(sys->log.back(), "rstatus");
}

TEST_F(PpdevTest, OtherAddressesTouchNothing)
{
    port->SetPortBit(0x3BC, 1);
    EXPECT_FALSE(port->GetPortBit(0x37A, 1));
    EXPECT_TRUE(sys->log.empty());
}

TEST_F(PpdevTest, DriverInstalledWhenAPortCanBeClaimed)
{
    EXPECT_TRUE(port->IsDriverInstalled());
    std::vector<std::string> log;
    sys->logAfterDestruction = &log;
    port.reset(); // releases and closes what it claimed
    EXPECT_EQ(std::count(log.begin(), log.end(), "release"), 2);
    EXPECT_EQ(std::count(log.begin(), log.end(), "close"), 2);
}

TEST_F(PpdevTest, NoDriverWhenNothingOpensOrClaims)
{
    sys->ports["parport0"].openErrno = EACCES;
    sys->ports["parport1"].claimFails = true;
    EXPECT_FALSE(port->IsDriverInstalled());
    EXPECT_NE(port->LastError().find("/dev/parport"), std::string::npos) << port->LastError();
    // A port that failed is not tried again on every bit.
    const size_t before = sys->log.size();
    port->SetPortBit(0x378, 4);
    EXPECT_FALSE(port->GetPortBit(0x279, 4));
    EXPECT_EQ(sys->log.size(), before);
}

TEST_F(PpdevTest, NoDriverWithoutParportDevices)
{
    sys->ports.clear();
    EXPECT_FALSE(port->IsDriverInstalled());
    EXPECT_NE(port->LastError().find("0x378"), std::string::npos) << port->LastError();
}

TEST(PortSelection, AcceptsPpdevAndNamesTheFormsForAnythingElse)
{
    std::string error;
    EXPECT_NE(dynamic_cast<PpdevPort*>(OpenPortAccess("ppdev", error).get()), nullptr);
    EXPECT_NE(dynamic_cast<PpdevPort*>(OpenPortAccess("", error).get()), nullptr);
    EXPECT_EQ(OpenPortAccess("lpt1", error), nullptr);
    EXPECT_NE(error.find("\"lpt1\""), std::string::npos) << error;
    EXPECT_NE(error.find("ppdev"), std::string::npos) << error;
    EXPECT_NE(error.find("sim:DEVICE"), std::string::npos) << error;
}

} // namespace
} // namespace qvx
