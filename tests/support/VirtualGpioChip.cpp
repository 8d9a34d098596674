#include "VirtualGpioChip.h"

#include <cerrno>

namespace qvx {

VirtualGpioChip::VirtualGpioChip(SimPort& cable, GpioSettings wiring, VirtualGpioOptions options)
    : cable_(cable), wiring_(std::move(wiring)), options_(std::move(options))
{
}

int VirtualGpioChip::OpenChip(const std::string& chip, std::string& name)
{
    const size_t digits = options_.name.find_first_of("0123456789");
    const bool byNumber = digits != std::string::npos && chip == options_.name.substr(digits);
    if (chip != options_.name && chip != "/dev/" + options_.name && !byNumber && chip != options_.label)
        return ENOENT;
    if (options_.denied)
        return EACCES;
    open_ = true;
    name = options_.name;
    return 0;
}

int VirtualGpioChip::DataBit(unsigned line) const
{
    return int(line) == wiring_.rst ? 4 : int(line) == wiring_.mosi ? 5 : int(line) == wiring_.sck ? 6 : -1;
}

int VirtualGpioChip::StatusBit(unsigned line) const
{
    return int(line) == wiring_.miso ? 6 : int(line) == wiring_.sense ? 4 : -1;
}

int VirtualGpioChip::RequestOutput(unsigned line, bool value)
{
    if (!open_ || line >= options_.lines)
        return EINVAL;
    if (options_.busy.count(line) || Requested(line))
        return EBUSY;
    outputs_.insert(line);
    return Set(line, value);
}

int VirtualGpioChip::RequestInput(unsigned line)
{
    if (!open_ || line >= options_.lines)
        return EINVAL;
    if (options_.busy.count(line) || Requested(line))
        return EBUSY;
    inputs_.insert(line);
    return 0;
}

bool VirtualGpioChip::Failing()
{
    return options_.failAfterAccesses >= 0 && int64_t(accesses_) >= options_.failAfterAccesses;
}

int VirtualGpioChip::Set(unsigned line, bool value)
{
    if (!outputs_.count(line))
        return EPERM;
    if (Failing())
        return ENODEV;
    ++accesses_;
    const int bit = DataBit(line);
    if (bit >= 0) {
        if (value)
            cable_.SetPortBit(cable_.CableDataPort(), uint8_t(bit));
        else
            cable_.ClrPortBit(cable_.CableDataPort(), uint8_t(bit));
    }
    return 0;
}

int VirtualGpioChip::Get(unsigned line, bool& value)
{
    if (!inputs_.count(line))
        return EPERM;
    if (Failing())
        return ENODEV;
    ++accesses_;
    const int bit = StatusBit(line);
    value = bit < 0 || cable_.GetPortBit(uint16_t(cable_.CableDataPort() + 1), uint8_t(bit));
    return 0;
}

void VirtualGpioChip::Release()
{
    outputs_.clear();
    inputs_.clear();
    open_ = false;
}

namespace {

class LentGpioChip : public GpioSystem {
public:
    explicit LentGpioChip(VirtualGpioChip& chip) : chip_(chip) {}
    int OpenChip(const std::string& chip, std::string& name) override { return chip_.OpenChip(chip, name); }
    int RequestOutput(unsigned line, bool value) override { return chip_.RequestOutput(line, value); }
    int RequestInput(unsigned line) override { return chip_.RequestInput(line); }
    int Set(unsigned line, bool value) override { return chip_.Set(line, value); }
    int Get(unsigned line, bool& value) override { return chip_.Get(line, value); }
    void Release() override { chip_.Release(); }
    std::chrono::nanoseconds Now() override { return chip_.Now(); }
    void SleepUntil(std::chrono::nanoseconds deadline) override { chip_.SleepUntil(deadline); }

private:
    VirtualGpioChip& chip_;
};

} // namespace

std::unique_ptr<GpioSystem> Lend(VirtualGpioChip& chip) { return std::make_unique<LentGpioChip>(chip); }

} // namespace qvx
