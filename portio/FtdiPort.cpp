#include "FtdiPort.h"
#include "PortOptions.h"

#include <algorithm>
#include <cctype>
#include <iostream>

namespace qvx {

namespace {

const char* const kPinNames[8] = {"txd", "rxd", "rts", "cts", "dtr", "dsr", "dcd", "ri"};

const char* const kAcceptedOptions =
    "accepted options: serial=SERIAL, pins=MOSI/MISO/SCK/RST[/SENSE] with pin names txd, rxd, rts, cts, dtr, "
    "dsr, dcd, ri or d0 to d7 (default txd/rxd/rts/dtr, no sense line), rate=BYTES_PER_SECOND (1000 to 1000000)";

// A pin by its serial-port or bit-bang name, in either letter case.
int PinNamed(std::string_view name)
{
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    for (int i = 0; i < 8; ++i)
        if (lower == kPinNames[i])
            return i;
    if (lower.size() == 2 && lower[0] == 'd' && lower[1] >= '0' && lower[1] <= '7')
        return lower[1] - '0';
    return -1;
}


} // namespace

bool ParseFtdiOptions(std::string_view options, FtdiSettings& settings, std::string& error)
{
    settings = {};
    error.clear();
    if (options.empty())
        return true; // plain "ftdi": the only cable, the default pins and rate
    for (const PortOption& o : SplitPortOptions(options)) {
        auto bad = [&](const std::string& what) {
            error = OptionError(o, what);
            return false;
        };
        if (o.key != "serial" && o.key != "pins" && o.key != "rate") {
            error = (o.text.empty() ? std::string("empty option") : "unknown option \"" + std::string(o.text) + "\"") +
                    "; " + kAcceptedOptions;
            return false;
        }
        const std::string_view value = o.value;
        if (value.empty())
            return bad("give it a value, as in " + std::string(o.key) + "=...; " + kAcceptedOptions);
        if (o.key == "serial") {
            // The serial number as the cable's USB string gives it: FTDI's
            // are eight letters and digits.
            const bool printable = std::all_of(value.begin(), value.end(), [](char c) { return c > ' ' && c < 127; });
            if (!printable || value.size() > kFtdiMaxSerial)
                return bad("a serial number is 1 to " + std::to_string(kFtdiMaxSerial) +
                           " printable characters without spaces (lsusb -v shows it as iSerial)");
            settings.serial = std::string(value);
        } else if (o.key == "pins") {
            int pins[5] = {-1, -1, -1, -1, -1};
            size_t count = 0;
            for (std::string_view rest = value;;) {
                const size_t slash = rest.find('/');
                const std::string_view name = rest.substr(0, slash);
                if (count == 5)
                    return bad("name four or five pins: MOSI/MISO/SCK/RST[/SENSE]");
                if ((pins[count++] = PinNamed(name)) < 0)
                    return bad("\"" + std::string(name) +
                               "\" is no FT232R pin; the pins are txd, rxd, rts, cts, dtr, dsr, dcd, ri (or d0 to d7)");
                if (slash == std::string_view::npos)
                    break;
                rest = rest.substr(slash + 1);
            }
            if (count < 4)
                return bad("name four or five pins: MOSI/MISO/SCK/RST[/SENSE]");
            for (size_t i = 0; i < count; ++i)
                for (size_t j = i + 1; j < count; ++j)
                    if (pins[i] == pins[j])
                        return bad(std::string("pin ") + kPinNames[pins[i]] + " is named twice");
            settings.pins = {pins[0], pins[1], pins[2], pins[3], count == 5 ? pins[4] : -1};
        } else { // rate
            uint32_t rate = 0;
            if (!ParseInteger(value, rate) || rate < kFtdiMinRate || rate > kFtdiMaxRate)
                return bad("the rate is a whole number of bytes per second from " + std::to_string(kFtdiMinRate) +
                           " to " + std::to_string(kFtdiMaxRate));
            settings.rate = rate;
        }
    }
    return true;
}

FtdiPort::FtdiPort(FtdiSettings settings, std::unique_ptr<FtdiSystem> system)
    : settings_(std::move(settings)), sys_(std::move(system)), byteNs_((1'000'000'000 + settings_.rate - 1) / settings_.rate)
{
}

FtdiPort::~FtdiPort()
{
    if (state_ != State::Open)
        return;
    Flush();
    if (state_ == State::Open)
        sys_->Close();
}

bool FtdiPort::Ready()
{
    if (state_ == State::Closed) {
        state_ = State::Unusable;
        FtdiSystem::Result r = sys_->Open(settings_.serial, name_);
        if (r.ok()) {
            const FtdiPins& p = settings_.pins;
            const uint8_t outputs = static_cast<uint8_t>(1u << p.rst | 1u << p.mosi | 1u << p.sck);
            r = sys_->StartBitBang(outputs, Levels(), settings_.rate);
            if (!r.ok())
                sys_->Close();
        }
        if (r.ok()) {
            state_ = State::Open;
        } else {
            problem_ = r.status;
            error_ = r.detail;
        }
    }
    return state_ == State::Open;
}

uint8_t FtdiPort::PinByte(bool rst, bool mosi, bool sck) const
{
    const FtdiPins& p = settings_.pins;
    return static_cast<uint8_t>((rst ? 1u << p.rst : 0u) | (mosi ? 1u << p.mosi : 0u) | (sck ? 1u << p.sck : 0u));
}

uint8_t FtdiPort::Levels() const
{
    return PinByte((data_ >> cableline::Rst) & 1, (data_ >> cableline::Mosi) & 1, (data_ >> cableline::Sck) & 1);
}

int64_t FtdiPort::PhaseBytes(int64_t ns) const { return std::max<int64_t>(1, (ns + byteNs_ - 1) / byteNs_); }

void FtdiPort::Lost(const std::string& what, const FtdiSystem::Result& result)
{
    failure_ = name_ + ": " + what + ": " + result.detail +
               (result.status == FtdiSystem::Status::Lost ? "; the USB cable was unplugged or lost" : "");
    std::cerr << "QVX-ISP: " << failure_ << "; the cable is no longer used" << std::endl;
    state_ = State::Unusable;
    queue_.clear();
    sys_->Close();
}

bool FtdiPort::Transfer(const std::vector<uint8_t>& bytes, std::vector<uint8_t>& samples, bool stream)
{
    samples.resize(bytes.size());
    const size_t most = stream ? kFtdiMaxStream : kFtdiMaxTransfer;
    for (size_t at = 0; at < bytes.size(); at += most) {
        const size_t n = std::min(most, bytes.size() - at);
        if (stream) {
            const FtdiSystem::Result r = sys_->Stream(bytes.data() + at, samples.data() + at, n);
            if (!r.ok()) {
                Lost("the stream to the cable failed", r);
                return false;
            }
            continue;
        }
        FtdiSystem::Result r = sys_->Write(bytes.data() + at, n);
        if (!r.ok()) {
            Lost("cannot write to the cable", r);
            return false;
        }
        r = sys_->Read(samples.data() + at, n);
        if (!r.ok()) {
            Lost("no answer from the cable", r);
            return false;
        }
    }
    return true;
}

void FtdiPort::Flush()
{
    if (queue_.empty() || state_ != State::Open)
        return;
    std::vector<uint8_t> bytes, samples;
    bytes.swap(queue_);
    Transfer(bytes, samples);
}

void FtdiPort::WriteDataBit(uint16_t port, uint8_t bit, bool value)
{
    if (!IsLptData(port) || bit > 7)
        return; // status lines are inputs; other addresses are no port
    const uint8_t before = Levels();
    data_ = value ? static_cast<uint8_t>(data_ | 1u << bit) : static_cast<uint8_t>(data_ & ~(1u << bit));
    if (Levels() == before || !Ready())
        return;
    queue_.push_back(Levels());
    if (queue_.size() >= kFtdiMaxTransfer)
        Flush();
}

void FtdiPort::SetPortBit(uint16_t port, uint8_t bit) { WriteDataBit(port, bit, true); }

void FtdiPort::ClrPortBit(uint16_t port, uint8_t bit) { WriteDataBit(port, bit, false); }

bool FtdiPort::GetPortBit(uint16_t port, uint8_t bit)
{
    if (IsLptData(port))
        return (data_ >> (bit & 7)) & 1;
    if (!IsLptStatus(port) || !Ready())
        return false;
    // One more byte of the present levels: its sample is the pins now.
    std::vector<uint8_t> bytes, samples;
    bytes.swap(queue_);
    bytes.push_back(Levels());
    if (!Transfer(bytes, samples))
        return false;
    const uint8_t sample = samples.back();
    const FtdiPins& p = settings_.pins;
    if (bit == cableline::Miso)
        return Bit(p.miso, sample);
    if (bit == cableline::Sense)
        return p.sense >= 0 ? Bit(p.sense, sample) : Bit(p.rst, sample);
    return false;
}

bool FtdiPort::IsDriverInstalled() { return Ready(); }

std::string FtdiPort::DriverDiagnosis()
{
    if (Ready())
        return {};
    const std::string which = settings_.serial.empty() ? "No FT232R USB cable (USB ID 0403:6001) is connected"
                                                       : "No FT232R USB cable with serial number " + settings_.serial +
                                                             " is connected";
    const std::string detail = error_.empty() ? "" : " (" + error_ + ")";
    switch (problem_) {
    case FtdiSystem::Status::NotFound:
        return which + detail + ".\nPlug the cable in; lsusb lists it as 0403:6001 Future Technology Devices "
                                "International. With several cables, choose one with QVX_PORT=ftdi:serial=SERIAL.";
    case FtdiSystem::Status::Denied:
        return "The FT232R USB cable cannot be opened: permission denied" + detail +
               ".\nAllow the group plugdev to use it: echo 'SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", "
               "ATTRS{idProduct}==\"6001\", MODE=\"0660\", GROUP=\"plugdev\"' | sudo tee "
               "/etc/udev/rules.d/60-qvx-ft232r.rules, then sudo udevadm control --reload, sudo usermod -aG plugdev "
               "$USER, log out and in again and plug the cable in again.";
    case FtdiSystem::Status::Busy:
        return "The FT232R USB cable is in use by another program" + detail +
               ".\nEnd the other program (a serial terminal on /dev/ttyUSB0, say, or another programmer).";
    default:
        return "The FT232R USB cable cannot be used" + detail + ".";
    }
}

std::chrono::nanoseconds FtdiPort::Now()
{
    return sys_->Now() + std::chrono::nanoseconds(byteNs_ * int64_t(queue_.size()));
}

void FtdiPort::WaitUntil(std::chrono::nanoseconds deadline)
{
    const std::chrono::nanoseconds now = Now();
    if (deadline <= now)
        return;
    if (!queue_.empty()) {
        const int64_t idle = ((deadline - now).count() + byteNs_ - 1) / byteNs_;
        if (queue_.size() + size_t(idle) <= kFtdiMaxTransfer) {
            queue_.insert(queue_.end(), size_t(idle), Levels());
            return;
        }
        Flush();
    }
    sys_->SleepUntil(deadline);
}

int FtdiPort::InstructionsPerExchange(const SerialClock& clock, size_t length, int64_t pauseNs) const
{
    const int64_t perBit = PhaseBytes(clock.minLowNs) + PhaseBytes(clock.minHighNs);
    const int64_t perInstruction = int64_t(length) * 8 * perBit + IdleBytes(std::max<int64_t>(0, pauseNs));
    return int(std::clamp<int64_t>(int64_t(kFtdiMaxStream - 1) / perInstruction, 1, 1 << 20));
}

ExchangeResult FtdiPort::ExchangeInstructions(uint16_t dataPort, const SerialClock& clock,
                                              std::span<const uint8_t> out, std::span<uint8_t> in,
                                              std::span<const ExchangePause> pauses)
{
    (void)dataPort; // the cable answers on either LPT address
    if (!Ready())
        return {true, true}; // no cable: refused
    // The lines queued so far, then SCK low until the floor allows it up.
    std::vector<uint8_t> bytes;
    bytes.swap(queue_);
    const std::chrono::nanoseconds start = sys_->Now() + std::chrono::nanoseconds(byteNs_ * int64_t(bytes.size()));
    const bool rst = (data_ >> cableline::Rst) & 1;
    bool mosi = (data_ >> cableline::Mosi) & 1;
    if (clock.lowUntil > start)
        bytes.insert(bytes.end(), size_t(PhaseBytes((clock.lowUntil - start).count())), PinByte(rst, mosi, false));
    const size_t first = bytes.size();
    const int64_t low = PhaseBytes(clock.minLowNs), high = PhaseBytes(clock.minHighNs);
    std::vector<size_t> sampleAt; // the sample of each bit: the last moment SCK is high
    sampleAt.reserve(out.size() * 8);
    size_t pause = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        for (; pause < pauses.size() && pauses[pause].before <= i; ++pause)
            if (pauses[pause].before == i && pauses[pause].ns > 0) // SCK low meanwhile
                bytes.insert(bytes.end(), size_t(IdleBytes(pauses[pause].ns)), PinByte(rst, mosi, false));
        const uint8_t value = out[i];
        for (int b = 7; b >= 0; --b) {
            mosi = (value >> b) & 1;
            bytes.insert(bytes.end(), size_t(low), PinByte(rst, mosi, false));
            bytes.insert(bytes.end(), size_t(high), PinByte(rst, mosi, true));
            sampleAt.push_back(bytes.size()); // taken before the next byte applies
        }
    }
    bytes.push_back(PinByte(rst, mosi, false)); // SCK falls after the last bit
    data_ = static_cast<uint8_t>((data_ & ~(1u << cableline::Sck | 1u << cableline::Mosi)) |
                                 (mosi ? 1u << cableline::Mosi : 0u));

    std::vector<uint8_t> samples;
    if (!Transfer(bytes, samples, true))
        return {true, true};
    const FtdiPins& p = settings_.pins;
    bool senseLow = false;
    for (size_t k = first + 1; k < samples.size(); ++k)
        senseLow = senseLow || !(p.sense >= 0 ? Bit(p.sense, samples[k]) : Bit(p.rst, samples[k]));
    for (size_t i = 0; i < out.size() && i < in.size(); ++i) {
        unsigned value = 0;
        for (int b = 0; b < 8; ++b)
            value = value << 1 | (Bit(p.miso, samples[sampleAt[i * 8 + b]]) ? 1u : 0u);
        in[i] = static_cast<uint8_t>(value);
    }
    return {true, senseLow};
}

} // namespace qvx
