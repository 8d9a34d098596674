// The real parallel port on Linux, through the ppdev driver (/dev/parportN).
// LPT1 (0x378) and LPT2 (0x278) are the parport devices whose base address,
// as /proc/sys/dev/parport/parportN/base-addr gives it, matches.
#pragma once

#include "PortAccess.h"

#include <optional>
#include <vector>

namespace qvx {

// The system calls the backend makes, behind a seam so tests can replace
// them. The default implementation calls the operating system.
class PpdevSystem {
public:
    virtual ~PpdevSystem() = default;
    // open(2); returns a descriptor or -1 with errno set.
    virtual int Open(const std::string& path, int flags);
    // ioctl(2); returns -1 with errno set on failure.
    virtual int Ioctl(int fd, unsigned long request, void* arg);
    virtual void Close(int fd);
    // The whole content of a small text file, or nothing when unreadable.
    virtual std::optional<std::string> ReadText(const std::string& path);
    // Names of the entries of a directory (without "." and "..").
    virtual std::vector<std::string> ListDir(const std::string& path);
};

class PpdevPort : public PortAccess {
public:
    explicit PpdevPort(std::unique_ptr<PpdevSystem> system = std::make_unique<PpdevSystem>());
    ~PpdevPort() override;

    void SetPortBit(uint16_t port, uint8_t bit) override;
    void ClrPortBit(uint16_t port, uint8_t bit) override;
    bool GetPortBit(uint16_t port, uint8_t bit) override;
    bool IsDriverInstalled() override;

    // What went wrong with each port that failed to open, claim or answer;
    // empty when nothing failed.
    std::string LastError() const;

    // The /dev/parportN path whose base address is `base`, if any.
    std::optional<std::string> DeviceFor(uint16_t base);

private:
    struct Lpt {
        uint16_t base;
        int fd = -1;
        bool tried = false;
        std::string error;
    };
    // The LPT whose data or status register is `port`; null for any other.
    Lpt* LptFor(uint16_t port);
    // Opens and claims the port once; true when it is usable.
    bool Ready(Lpt& lpt);
    static void Fail(Lpt& lpt, const std::string& what);
    void WriteDataBit(Lpt& lpt, uint8_t bit, bool value);

    std::unique_ptr<PpdevSystem> sys_;
    Lpt lpts_[2] = {Lpt{kLpt1Data, -1, false, {}}, Lpt{kLpt2Data, -1, false, {}}};
};

} // namespace qvx
