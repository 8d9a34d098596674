#include "PpdevPort.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
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

PpdevPort::PpdevPort(std::unique_ptr<PpdevSystem> system) : sys_(std::move(system)) {}

PpdevPort::~PpdevPort()
{
    for (Lpt& lpt : lpts_) {
        if (lpt.fd >= 0) {
            sys_->Ioctl(lpt.fd, PPRELEASE, nullptr);
            sys_->Close(lpt.fd);
        }
    }
}

std::optional<std::string> PpdevPort::DeviceFor(uint16_t base)
{
    static const std::string root = "/proc/sys/dev/parport/";
    for (const std::string& name : sys_->ListDir(root)) {
        if (name.rfind("parport", 0) != 0)
            continue;
        std::optional<std::string> text = sys_->ReadText(root + name + "/base-addr");
        if (!text)
            continue;
        // "888\t1912": the first number is the base address in decimal.
        std::istringstream in(*text);
        long value = -1;
        if (in >> value && value == base)
            return "/dev/" + name;
    }
    return std::nullopt;
}

PpdevPort::Lpt* PpdevPort::LptFor(uint16_t port)
{
    for (Lpt& lpt : lpts_)
        if (port == lpt.base || port == lpt.base + 1)
            return &lpt;
    return nullptr;
}

void PpdevPort::Fail(Lpt& lpt, const std::string& what) { lpt.error = what + ": " + std::strerror(errno); }

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
        char address[8];
        std::snprintf(address, sizeof address, "%X", lpt.base);
        lpt.error = std::string("no parallel port at address 0x") + address;
        return false;
    }
    int fd = sys_->Open(*device, O_RDWR);
    if (fd < 0) {
        Fail(lpt, "cannot open " + *device);
        return false;
    }
    if (sys_->Ioctl(fd, PPCLAIM, nullptr) < 0) {
        Fail(lpt, "cannot claim " + *device);
        sys_->Close(fd);
        return false;
    }
    int forward = 0;
    sys_->Ioctl(fd, PPDATADIR, &forward); // data lines drive the cable
    lpt.fd = fd;
    return true;
}

void PpdevPort::WriteDataBit(Lpt& lpt, uint8_t bit, bool value)
{
    unsigned char data = 0;
    if (sys_->Ioctl(lpt.fd, PPRDATA, &data) < 0) {
        Fail(lpt, "cannot read the data register");
        return;
    }
    const unsigned char mask = static_cast<unsigned char>(1u << (bit & 7));
    data = value ? static_cast<unsigned char>(data | mask) : static_cast<unsigned char>(data & ~mask);
    if (sys_->Ioctl(lpt.fd, PPWDATA, &data) < 0)
        Fail(lpt, "cannot write the data register");
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
    unsigned char value = 0;
    const unsigned long request = port == lpt->base ? PPRDATA : PPRSTATUS;
    if (sys_->Ioctl(lpt->fd, request, &value) < 0) {
        Fail(*lpt, port == lpt->base ? "cannot read the data register" : "cannot read the status register");
        return false;
    }
    return (value >> (bit & 7)) & 1u;
}

bool PpdevPort::IsDriverInstalled()
{
    bool any = false;
    for (Lpt& lpt : lpts_)
        any = Ready(lpt) || any;
    return any;
}

} // namespace qvx
