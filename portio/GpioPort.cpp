#include "GpioPort.h"
#include "PortOptions.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iostream>

namespace qvx {

namespace {

const char* const kForm = "the form is gpio:CHIP,rst=N,mosi=N,sck=N,miso=N[,sense=N], e.g. "
                          "gpio:gpiochip0,rst=25,mosi=10,sck=11,miso=9";

} // namespace

GpioChipName ClassifyGpioChip(std::string_view chip)
{
    auto digits = [](std::string_view t) {
        return !t.empty() && t.size() <= 4 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    constexpr std::string_view dev = "/dev/gpiochip", name = "gpiochip";
    if (chip.substr(0, dev.size()) == dev)
        return digits(chip.substr(dev.size())) ? GpioChipName::Path : GpioChipName::Invalid;
    if (digits(chip))
        return GpioChipName::Number;
    if (chip.substr(0, name.size()) == name && digits(chip.substr(name.size())))
        return GpioChipName::Name;
    const bool label = !chip.empty() && chip.size() <= 64 && std::all_of(chip.begin(), chip.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':';
    });
    return label ? GpioChipName::Label : GpioChipName::Invalid;
}

bool ParseGpioOptions(std::string_view options, GpioSettings& settings, std::string& error)
{
    settings = {};
    error.clear();
    const std::vector<PortOption> parts = SplitPortOptions(options);
    if (parts[0].text.empty() || parts[0].hasValue) {
        error = std::string("name the GPIO chip first; ") + kForm;
        return false;
    }
    if (ClassifyGpioChip(parts[0].text) == GpioChipName::Invalid) {
        error = "\"" + std::string(parts[0].text) + "\" is no GPIO chip: name it gpiochipN, N, /dev/gpiochipN or by "
                "its label (gpiodetect lists them); " + kForm;
        return false;
    }
    settings.chip = std::string(parts[0].text);
    for (size_t i = 1; i < parts.size(); ++i) {
        const PortOption& o = parts[i];
        int* line = o.key == "rst" ? &settings.rst : o.key == "mosi" ? &settings.mosi : o.key == "sck" ? &settings.sck
                  : o.key == "miso" ? &settings.miso : o.key == "sense" ? &settings.sense : nullptr;
        if (!line || !o.hasValue) {
            error = (o.text.empty() ? std::string("empty option") : "unknown option \"" + std::string(o.text) + "\"") +
                    "; " + kForm;
            return false;
        }
        unsigned number = 0;
        if (!ParseInteger(o.value, number) || number > kGpioMaxLine) {
            error = OptionError(o, "a line is a number from 0 to " + std::to_string(kGpioMaxLine));
            return false;
        }
        if (*line >= 0) {
            error = OptionError(o, std::string(o.key) + " is named twice");
            return false;
        }
        *line = int(number);
    }
    const int lines[] = {settings.rst, settings.mosi, settings.sck, settings.miso, settings.sense};
    if (settings.rst < 0 || settings.mosi < 0 || settings.sck < 0 || settings.miso < 0) {
        error = std::string("rst, mosi, sck and miso each need a line; ") + kForm;
        return false;
    }
    for (int i = 0; i < 5; ++i)
        for (int j = i + 1; j < 5; ++j)
            if (lines[i] >= 0 && lines[i] == lines[j]) {
                error = "line " + std::to_string(lines[i]) + " is named twice; " + kForm;
                return false;
            }
    return true;
}

GpioPort::GpioPort(GpioSettings settings, std::unique_ptr<GpioSystem> system)
    : settings_(std::move(settings)), sys_(std::move(system))
{
}

GpioPort::~GpioPort()
{
    if (state_ != State::Open)
        return;
    // Run mode at exit, whatever the program did last: RST low, then every
    // line given back.
    sys_->Set(unsigned(settings_.rst), false);
    sys_->Release();
}

bool GpioPort::Ready()
{
    if (state_ != State::Closed)
        return state_ == State::Open;
    state_ = State::Unusable;
    int err = sys_->OpenChip(settings_.chip, name_);
    if (err) {
        openError_ = err;
        error_ = "Cannot open the GPIO chip " + settings_.chip + ": " + std::strerror(err);
        return false;
    }
    const struct {
        int line;
        const char* what;
        bool output;
        bool level;
    } lines[] = {
        {settings_.rst, "RST", true, bool((data_ >> cableline::Rst) & 1)},
        {settings_.mosi, "MOSI", true, bool((data_ >> cableline::Mosi) & 1)},
        {settings_.sck, "SCK", true, bool((data_ >> cableline::Sck) & 1)},
        {settings_.miso, "MISO", false, false},
        {settings_.sense, "sense", false, false},
    };
    for (const auto& l : lines) {
        if (l.line < 0)
            continue;
        err = l.output ? sys_->RequestOutput(unsigned(l.line), l.level) : sys_->RequestInput(unsigned(l.line));
        if (err) {
            openError_ = err;
            error_ = "Cannot request line " + std::to_string(l.line) + " of " + name_ + " for " + l.what + ": " +
                     std::strerror(err);
            sys_->Release();
            return false;
        }
    }
    state_ = State::Open;
    return true;
}

void GpioPort::Broken(const std::string& what, int err)
{
    failure_ = name_ + ": " + what + ": " + std::strerror(err);
    std::cerr << "QVX-ISP: " << failure_ << "; the GPIO lines are no longer used" << std::endl;
    sys_->Release();
    state_ = State::Unusable;
}

int GpioPort::LineOf(uint8_t dataBit) const
{
    return dataBit == cableline::Rst    ? settings_.rst
           : dataBit == cableline::Mosi ? settings_.mosi
           : dataBit == cableline::Sck  ? settings_.sck
                                        : -1;
}

void GpioPort::WriteDataBit(uint16_t port, uint8_t bit, bool value)
{
    if (!IsLptData(port) || bit > 7)
        return;
    data_ = value ? static_cast<uint8_t>(data_ | 1u << bit) : static_cast<uint8_t>(data_ & ~(1u << bit));
    const int line = LineOf(bit);
    if (line < 0 || !Ready())
        return;
    if (const int err = sys_->Set(unsigned(line), value))
        Broken("cannot set line " + std::to_string(line), err);
}

// For the crash path: each line of `set` and `clear` set once, nothing
// allocated or reported. libgpiod 1.6 sets a requested line with one ioctl
// on the line's descriptor, from a lookup in a map that only changes when
// lines are requested or released.
void GpioPort::SignalSafeWrite(uint16_t port, uint8_t set, uint8_t clear) noexcept
{
    if (state_ != State::Open || !IsLptData(port))
        return;
    for (uint8_t bit = 0; bit < 8; ++bit) {
        const bool high = (set >> bit) & 1, low = (clear >> bit) & 1;
        const int line = LineOf(bit);
        if (line >= 0 && (high || low))
            sys_->Set(unsigned(line), high && !low);
    }
}

void GpioPort::SetPortBit(uint16_t port, uint8_t bit) { WriteDataBit(port, bit, true); }

void GpioPort::ClrPortBit(uint16_t port, uint8_t bit) { WriteDataBit(port, bit, false); }

bool GpioPort::GetPortBit(uint16_t port, uint8_t bit)
{
    if (IsLptData(port))
        return (data_ >> (bit & 7)) & 1;
    if (!IsLptStatus(port) || !Ready())
        return false;
    int line = bit == cableline::Miso ? settings_.miso : bit == cableline::Sense ? settings_.sense : -1;
    if (bit == cableline::Sense && line < 0)
        return (data_ >> cableline::Rst) & 1; // no sense line: RST's own level
    if (line < 0)
        return false;
    bool value = false;
    if (const int err = sys_->Get(unsigned(line), value)) {
        Broken("cannot read line " + std::to_string(line), err);
        return false;
    }
    return value;
}

bool GpioPort::IsDriverInstalled() { return Ready(); }

std::string GpioPort::DriverDiagnosis()
{
    if (Ready())
        return {};
    switch (openError_) {
    case ENOENT:
    case ENODEV:
        return error_ + ".\nName a chip that exists: gpiodetect lists them (package gpiod).";
    case EACCES:
    case EPERM:
        return error_ + ".\nAllow yourself to use it: join the group that owns /dev/gpiochip* (ls -l /dev/gpiochip*; "
                        "on Raspberry Pi OS the group gpio: sudo usermod -aG gpio $USER), then log out and in again.";
    case EBUSY:
        return error_ + ".\nAnother driver or program holds the line: gpioinfo names it (package gpiod).";
    case EINVAL:
        return error_ + ".\nName lines the chip has: gpioinfo lists them (package gpiod).";
    default:
        return error_ + ".";
    }
}

} // namespace qvx
