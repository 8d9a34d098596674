#include "PpdevPort.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/ioctl.h>
#include <unistd.h>

#include <linux/parport.h>
#include <linux/ppdev.h>

namespace qvx {

int PpdevSystem::Open(const std::string& path, int flags) { return ::open(path.c_str(), flags); }

int PpdevSystem::Ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }

void PpdevSystem::Close(int fd) { ::close(fd); }

std::optional<std::string> PpdevSystem::ReadText(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> PpdevSystem::ListDir(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(dir);
    }
    return names;
}

namespace {

const std::string kParportRoot = "/proc/sys/dev/parport/";

struct Parport {
    std::string name; // "parport0"
    long base;
};

// The parallel ports the kernel knows, with their base addresses.
std::vector<Parport> ListParports(PpdevSystem& sys)
{
    std::vector<Parport> ports;
    for (const std::string& name : sys.ListDir(kParportRoot)) {
        if (name.rfind("parport", 0) != 0)
            continue;
        std::optional<std::string> text = sys.ReadText(kParportRoot + name + "/base-addr");
        if (!text)
            continue;
        // "888\t1912": the first number is the base address in decimal.
        std::istringstream in(*text);
        long value = -1;
        if (in >> value)
            ports.push_back({name, value});
    }
    std::sort(ports.begin(), ports.end(), [](const Parport& a, const Parport& b) { return a.name < b.name; });
    return ports;
}

std::string HexAddress(long value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%lX", value);
    return text;
}

std::string LptName(uint16_t base) { return base == kLpt1Data ? "LPT1" : "LPT2"; }

} // namespace

PpdevPort::PpdevPort(std::unique_ptr<PpdevSystem> system) : sys_(std::move(system)) {}

PpdevPort::~PpdevPort()
{
    for (Lpt& lpt : lpts_) {
        if (lpt.fd >= 0) {
            if (sys_->Ioctl(lpt.fd, PPRELEASE, nullptr) < 0) {
                const int err = errno;
                std::cerr << "QVX-ISP: " << LptName(lpt.base) << ": cannot release the port: " << std::strerror(err)
                          << std::endl;
            }
            sys_->Close(lpt.fd);
        }
    }
}


std::optional<std::string> PpdevPort::DeviceFor(uint16_t base)
{
    for (const Parport& p : ListParports(*sys_))
        if (p.base == base)
            return "/dev/" + p.name;
    return std::nullopt;
}

std::string PpdevPort::PortsFound()
{
    std::string text;
    for (const Parport& p : ListParports(*sys_))
        text += (text.empty() ? "" : ", ") + p.name + " at " + HexAddress(p.base);
    return text;
}

PpdevPort::Lpt* PpdevPort::LptFor(uint16_t port)
{
    for (Lpt& lpt : lpts_)
        if (port == lpt.base || port == lpt.base + 1)
            return &lpt;
    return nullptr;
}

void PpdevPort::Fail(Lpt& lpt, Problem problem, const std::string& what, int err)
{
    lpt.problem = problem;
    lpt.error = err ? what + ": " + std::strerror(err) : what;
}

void PpdevPort::Broken(Lpt& lpt, const std::string& what, int err)
{
    Fail(lpt, Problem::Failed, LptName(lpt.base) + ": " + what, err);
    std::cerr << "QVX-ISP: " << lpt.error << "; the port is no longer used" << std::endl;
    sys_->Ioctl(lpt.fd, PPRELEASE, nullptr);
    sys_->Close(lpt.fd);
    lpt.fd = -1;
}

std::string PpdevPort::LastError() const
{
    std::string text;
    for (const Lpt& lpt : lpts_)
        if (!lpt.error.empty())
            text += (text.empty() ? "" : "; ") + lpt.error;
    return text;
}

bool PpdevPort::Ready(Lpt& lpt)
{
    if (lpt.tried)
        return lpt.fd >= 0;
    lpt.tried = true;
    std::optional<std::string> device = DeviceFor(lpt.base);
    if (!device) {
        Fail(lpt, Problem::NoPort, "no parallel port at address " + HexAddress(lpt.base), 0);
        return false;
    }
    const int fd = sys_->Open(*device, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        const Problem problem = err == ENOENT || err == ENODEV || err == ENXIO ? Problem::NoDevice
                                : err == EACCES || err == EPERM                ? Problem::Denied
                                : err == EBUSY                                 ? Problem::Busy
                                                                               : Problem::Failed;
        Fail(lpt, problem, "cannot open " + *device, err);
        return false;
    }
    // Each failure's errno is taken at once, before any message is built.
    int err = 0;
    auto refuse = [&](Problem problem, const std::string& what) {
        Fail(lpt, problem, what, err);
        sys_->Close(fd);
        return false;
    };
    // Exclusive: no other driver (the printer driver lp) may share the port
    // while the cable is driven. A claim that cannot be exclusive fails.
    if (sys_->Ioctl(fd, PPEXCL, nullptr) < 0) {
        err = errno;
        return refuse(err == EBUSY ? Problem::Busy : Problem::Failed, "cannot get " + *device + " for this program alone");
    }
    if (sys_->Ioctl(fd, PPCLAIM, nullptr) < 0) {
        err = errno;
        return refuse(err == EBUSY || err == ENXIO ? Problem::Busy : Problem::Failed, "cannot claim " + *device);
    }
    int forward = 0; // the data lines drive the cable
    unsigned char data = 0;
    const bool output = sys_->Ioctl(fd, PPDATADIR, &forward) == 0;
    if (!output || sys_->Ioctl(fd, PPRDATA, &data) < 0) {
        err = errno;
        sys_->Ioctl(fd, PPRELEASE, nullptr);
        return refuse(Problem::Failed, output ? "cannot read the data register of " + *device
                                              : "cannot set the data lines of " + *device + " to output");
    }
    lpt.data = data;
    lpt.fd = fd;
    return true;
}

void PpdevPort::WriteDataBit(Lpt& lpt, uint8_t bit, bool value)
{
    const unsigned char mask = static_cast<unsigned char>(1u << (bit & 7));
    unsigned char data = value ? static_cast<unsigned char>(lpt.data | mask) : static_cast<unsigned char>(lpt.data & ~mask);
    if (sys_->Ioctl(lpt.fd, PPWDATA, &data) < 0) {
        const int err = errno;
        Broken(lpt, "cannot write the data register", err);
        return;
    }
    lpt.data = data;
}

void PpdevPort::SetPortBit(uint16_t port, uint8_t bit)
{
    Lpt* lpt = LptFor(port);
    // The status register is read-only: a write to it does nothing.
    if (lpt && port == lpt->base && Ready(*lpt))
        WriteDataBit(*lpt, bit, true);
}

void PpdevPort::ClrPortBit(uint16_t port, uint8_t bit)
{
    Lpt* lpt = LptFor(port);
    if (lpt && port == lpt->base && Ready(*lpt))
        WriteDataBit(*lpt, bit, false);
}

bool PpdevPort::GetPortBit(uint16_t port, uint8_t bit)
{
    Lpt* lpt = LptFor(port);
    if (!lpt || !Ready(*lpt))
        return false;
    unsigned char value = lpt->data;
    if (port != lpt->base && sys_->Ioctl(lpt->fd, PPRSTATUS, &value) < 0) {
        const int err = errno;
        Broken(*lpt, "cannot read the status register", err);
        return false;
    }
    return (value >> (bit & 7)) & 1u;
}

// Nothing here may allocate or report: it runs in a signal handler. The
// descriptor and the copy of the register were prepared while the port was
// in use.
void PpdevPort::SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept
{
    for (Lpt& lpt : lpts_) {
        if (lpt.base != port || lpt.fd < 0)
            continue;
        unsigned char data = static_cast<unsigned char>((lpt.data | set) & ~clear);
        sys_->Ioctl(lpt.fd, PPWDATA, &data);
    }
}

bool PpdevPort::IsDriverInstalled()
{
    bool any = false;
    for (Lpt& lpt : lpts_)
        any = Ready(lpt) || any;
    return any;
}

PpdevPort::Advice PpdevPort::AdviceFor(const Lpt& lpt)
{
    const std::string loadDrivers = "Load the parallel port drivers: sudo modprobe parport_pc ppdev";
    switch (lpt.problem) {
    case Problem::None:
    case Problem::Failed:
        break;
    case Problem::NoPort: {
        const std::string found = PortsFound();
        return {found.empty() ? "The kernel lists no parallel port at all (no /dev/parport*)."
                              : "Ports found: " + found + ".",
                loadDrivers};
    }
    case Problem::NoDevice:
        return {"The ppdev driver is not loaded.", loadDrivers};
    case Problem::Denied:
        return {"", "Join the group lp, which owns /dev/parport*: sudo usermod -aG lp $USER, then log out and in again."};
    case Problem::Busy:
        return {"The printer driver lp or another program holds the port.",
                "Unload the printer driver (sudo rmmod lp) or end the other program."};
    }
    return {};
}

std::string PpdevPort::DriverDiagnosis()
{
    if (IsDriverInstalled())
        return {};
    std::vector<std::string> reasons, remedies;
    auto add = [](std::vector<std::string>& lines, const std::string& line) {
        if (!line.empty() && std::find(lines.begin(), lines.end(), line) == lines.end())
            lines.push_back(line);
    };
    // A port that is not there is worth a word only when neither is: a
    // port that is there but cannot be used is the user's problem.
    const bool neither = std::all_of(std::begin(lpts_), std::end(lpts_),
                                     [](const Lpt& lpt) { return lpt.problem == Problem::NoPort; });
    for (const Lpt& lpt : lpts_) {
        if (lpt.problem == Problem::None || (lpt.problem == Problem::NoPort && !neither))
            continue;
        const Advice advice = AdviceFor(lpt);
        if (lpt.problem == Problem::NoPort)
            add(reasons, "No parallel port at 0x378 (LPT1) or 0x278 (LPT2). " + advice.why);
        else
            add(reasons, LptName(lpt.base) + " (" + HexAddress(lpt.base) + "): " + lpt.error + "." +
                             (advice.why.empty() ? "" : " " + advice.why));
        add(remedies, advice.remedy);
    }
    std::string text;
    for (const std::vector<std::string>* lines : {&reasons, &remedies})
        for (const std::string& line : *lines)
            text += (text.empty() ? "" : "\n") + line;
    return text;
}

std::string PpdevPort::Unusable(uint16_t base)
{
    Lpt* lpt = LptFor(base);
    if (!lpt)
        return "no parallel port at address " + HexAddress(base);
    if (Ready(*lpt))
        return {};
    const Advice advice = AdviceFor(*lpt);
    std::string text = lpt->error;
    if (!advice.why.empty())
        text += ". " + advice.why;
    if (!advice.remedy.empty())
        text += "\n" + advice.remedy;
    return text;
}

} // namespace qvx
