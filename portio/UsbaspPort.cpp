#include "UsbaspPort.h"
#include "PortOptions.h"

#include <algorithm>
#include <cstdio>

namespace qvx {

namespace {

std::string Release(uint16_t bcd)
{
    char text[32];
    std::snprintf(text, sizeof text, "%x.%02x (device release %04X)", unsigned(bcd >> 8), unsigned(bcd & 0xFF),
                  unsigned(bcd));
    return text;
}

const char* const kRule = "SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"16c0\", ATTRS{idProduct}==\"05dc\", "
                          "MODE=\"0660\", GROUP=\"plugdev\"";

} // namespace

bool ParseUsbaspOptions(std::string_view options, UsbaspSettings& settings, std::string& error)
{
    settings = {};
    error.clear();
    if (options.empty())
        return true;
    for (const PortOption& o : SplitPortOptions(options)) {
        if (o.key != "serial" || !o.hasValue) {
            error = (o.text.empty() ? std::string("empty option") : "unknown option \"" + std::string(o.text) + "\"") +
                    "; the form is usbasp[:serial=SERIAL]";
            return false;
        }
        const bool printable = std::all_of(o.value.begin(), o.value.end(), [](char c) { return c > ' ' && c < 127; });
        if (o.value.empty() || !printable || o.value.size() > kUsbaspMaxSerial) {
            error = OptionError(o, "a serial number is 1 to " + std::to_string(kUsbaspMaxSerial) +
                                       " printable characters without spaces (lsusb -v shows it as iSerial)");
            return false;
        }
        settings.serial = std::string(o.value);
    }
    return true;
}

UsbaspPort::UsbaspPort(UsbaspSettings settings, std::unique_ptr<UsbaspSystem> system)
    : settings_(std::move(settings)), sys_(std::move(system))
{
}

UsbaspPort::~UsbaspPort()
{
    if (state_ == State::Open)
        sys_->Close(); // a USBasp left connected keeps the target in reset (--no-run)
}

bool UsbaspPort::Ready()
{
    if (state_ == State::Closed) {
        state_ = State::Unusable;
        opened_ = sys_->Open(settings_.serial, name_, release_);
        if (!opened_.ok())
            return false;
        if (release_ < kUsbaspAt89Release) {
            sys_->Close();
            return false;
        }
        state_ = State::Open;
    }
    return state_ == State::Open && Failure().empty();
}

std::string UsbaspPort::DriverDiagnosis()
{
    if (Ready() || !Failure().empty())
        return Failure();
    const std::string detail = opened_.detail.empty() ? "" : " (" + opened_.detail + ")";
    if (opened_.ok()) // opened, and refused for its firmware
        return "The " + name_ + "'s firmware is version " + Release(release_) +
               ", which cannot program AT89S chips: it drives RST for AVR chips only.\nLoad firmware version "
               "1.11 or later (device release 0111), which enters the AT89S programming mode itself, into the "
               "USBasp (through its own ISP header from a second programmer, its JP2 jumper closed).";
    switch (opened_.status) {
    case UsbaspSystem::Status::NotFound:
        return (settings_.serial.empty() ? std::string("No USBasp (USB ID 16C0:05DC, \"www.fischl.de\" \"USBasp\") is "
                                                       "connected")
                                         : "No USBasp with serial number " + settings_.serial + " is connected") +
               detail +
               ".\nPlug it in; lsusb lists it as 16c0:05dc. With several, choose one with "
               "QVX_PORT=usbasp:serial=SERIAL.";
    case UsbaspSystem::Status::Denied:
        return "The USBasp cannot be opened: permission denied" + detail +
               ".\nThe qvx-isp package's udev rule gives the group plugdev the USBasp: sudo usermod -aG plugdev "
               "$USER, log out and in again and plug the USBasp in again. Without the package: echo '" +
               std::string(kRule) +
               "' | sudo tee /etc/udev/rules.d/60-qvx-usbasp.rules, then sudo udevadm control --reload.";
    default:
        return "The USBasp cannot be used" + detail + ".";
    }
}

bool UsbaspPort::Ask(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, size_t length, const char* what)
{
    uint8_t none[4];
    size_t got = 0;
    const UsbaspSystem::Result r = sys_->Request(request, value, index, length ? data : none, length, got);
    if (!r.ok()) {
        Fail(name_ + ": " + what + " failed: " + r.detail +
             (r.status == UsbaspSystem::Status::Lost ? "; the USBasp was unplugged or lost" : ""));
        return false;
    }
    if (got != length) {
        Fail(name_ + ": " + what + " answered " + std::to_string(got) + " of " + std::to_string(length) +
             " bytes; the USBasp's firmware or its USB connection is not working");
        return false;
    }
    return true;
}

bool UsbaspPort::EnterProgramming(const SerialClock& clock, std::span<const uint8_t> enable,
                                  std::span<uint8_t> answer)
{
    (void)enable;
    // The fastest code whose half period the chip takes: 1.5 MHz at code
    // 12, half as fast for each code below.
    const int64_t phase = std::max(clock.minHighNs, clock.minLowNs);
    uint8_t code = usbasp::FastestSck;
    for (int64_t half = 334; code > usbasp::SlowestSck && half < phase; half *= 2)
        --code;
    uint8_t status = 0xFF;
    if (!Ask(usbasp::SetIspSck, code, 0, &status, 1, "SETISPSCK") || !Ask(usbasp::Connect, 0, 0, nullptr, 0, "CONNECT"))
        return false;
    sck_ = code;
    if (status != 0) {
        Fail(name_ + ": the firmware refused the SCK code " + std::to_string(code));
        return false;
    }
    if (!Ask(usbasp::EnableProg, 0, 0, &status, 1, "ENABLEPROG"))
        return false;
    // The firmware has compared the chip's answer to its enable with 69h.
    answer[answer.size() - 1] = status == 0 ? 0x69 : 0x00;
    return true;
}

bool UsbaspPort::LeaveProgramming() { return Ask(usbasp::Disconnect, 0, 0, nullptr, 0, "DISCONNECT"); }

bool UsbaspPort::Transmit(std::span<const uint8_t> out, std::span<uint8_t> in, std::span<const ExchangePause> pauses)
{
    size_t p = 0;
    std::chrono::nanoseconds done{0};
    for (size_t at = 0; at + 4 <= out.size(); at += 4) {
        int64_t pause = 0;
        for (; p < pauses.size() && pauses[p].before < at + 4; ++p)
            pause = std::max(pause, pauses[p].ns);
        if (pause > 0)
            sys_->SleepUntil(done + std::chrono::nanoseconds(pause));
        const uint8_t* b = &out[at];
        if (!Ask(usbasp::Transmit, uint16_t(b[0] | b[1] << 8), uint16_t(b[2] | b[3] << 8), &in[at], 4, "TRANSMIT"))
            return false;
        done = sys_->Now(); // the instruction has been clocked
    }
    return true;
}

} // namespace qvx
