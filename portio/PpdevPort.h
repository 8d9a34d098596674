// The real parallel port on Linux, through the ppdev driver (/dev/parportN).
// LPT1 (0x378) and LPT2 (0x278) are the parport devices whose base address,
// as /proc/sys/dev/parport/parportN/base-addr gives it, matches.
//
// A port is opened (close-on-exec) and claimed for this program alone the
// first time it is used, its data lines set to drive the cable, and its data
// register read once into a shadow. From then on a data line change is one
// register write and never a read-back, a data register read is answered
// from the shadow, a status read is one register read, and a status write
// (the status lines are inputs) sends nothing. Any failed system call is
// reported on standard error with its reason and the port is given up: its
// inputs then read 0, so the program-mode sense refuses every transfer.
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
    std::string DriverDiagnosis() override;
    // One PPWDATA from the copy of the data register, on a port that is open.
    void SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept override;

    // What went wrong with each port that failed to open, claim or answer;
    // empty when nothing failed.
    std::string LastError() const;

    // The /dev/parportN path whose base address is `base`, if any.
    std::optional<std::string> DeviceFor(uint16_t base);

    // Opens and claims the port whose data register is `base`. Empty when
    // it can be used; otherwise why not, then on the next line what the user
    // can do about it, as DriverDiagnosis says it for both ports.
    std::string Unusable(uint16_t base);

private:
    // Why a port cannot be used.
    enum class Problem { None, NoPort, NoDevice, Denied, Busy, Failed };
    struct Lpt {
        explicit Lpt(uint16_t address) : base(address) {}
        uint16_t base;
        int fd = -1;
        bool tried = false;
        unsigned char data = 0; // the data register as last written
        Problem problem = Problem::None;
        std::string error;
    };
    // The LPT whose data or status register is `port`; null for any other.
    Lpt* LptFor(uint16_t port);
    // Opens and claims the port once; true when it is usable.
    bool Ready(Lpt& lpt);
    // Records why `lpt` cannot be used; `err` is the errno of the failed call.
    static void Fail(Lpt& lpt, Problem problem, const std::string& what, int err);
    // A register access failed on a claimed port: reported, and the port given up.
    void Broken(Lpt& lpt, const std::string& what, int err);
    void WriteDataBit(Lpt& lpt, uint8_t bit, bool value);
    // "parport0 at 0x3BC, parport1 at 0x378", or empty.
    std::string PortsFound();
    // What the user is told beyond a port's error text: why, in a
    // sentence, and the remedy; either may be empty.
    struct Advice {
        std::string why;
        std::string remedy;
    };
    Advice AdviceFor(const Lpt& lpt);

    std::unique_ptr<PpdevSystem> sys_;
    Lpt lpts_[2] = {Lpt(kLpt1Data), Lpt(kLpt2Data)};
};

} // namespace qvx
