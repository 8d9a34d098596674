#include "VirtualFt232r.h"

#include <thread>

namespace qvx {

VirtualFt232r::VirtualFt232r(const sim::Device& device, sim::ChipOptions chip, VirtualFt232rOptions options)
    : chip_(device, [&] {
          chip.timing = sim::Timing::Virtual; // the cable's byte clock is the chip's clock
          return chip;
      }()),
      options_(std::move(options)),
      wallStart_(std::chrono::steady_clock::now())
{
}

FtdiSystem::Result VirtualFt232r::Open(const std::string& serial, std::string& name)
{
    if (!options_.present || (!serial.empty() && serial != options_.serial))
        return {Status::NotFound, ""};
    if (options_.denied)
        return {Status::Denied, "/dev/bus/usb/001/004: Permission denied"};
    if (options_.busy)
        return {Status::Busy, "cannot claim the USB device: unable to claim usb device"};
    open_ = true;
    name = "FT232R " + options_.serial;
    return {};
}

FtdiSystem::Result VirtualFt232r::StartBitBang(uint8_t outputs, uint8_t levels, uint32_t rate)
{
    if (!open_ || rate == 0)
        return {Status::Failed, "not open"};
    outputs_ = outputs;
    byteNs_ = (1'000'000'000 + rate - 1) / rate;
    pins_ = levels & outputs;
    started_ = true;
    const FtdiPins& w = options_.wiring;
    chip_.SetPins((pins_ >> w.rst) & 1, (pins_ >> w.sck) & 1, (pins_ >> w.mosi) & 1);
    virtualStart_ = chip_.NowNs();
    wallStart_ = std::chrono::steady_clock::now();
    return {};
}

void VirtualFt232r::Advance(int64_t ns)
{
    if (ns > 0)
        chip_.AdvanceTime(std::chrono::nanoseconds(ns));
}

void VirtualFt232r::SleepUntil(std::chrono::nanoseconds deadline)
{
    Advance(deadline.count() - chip_.NowNs());
    KeepUpWithWallClock();
}

void VirtualFt232r::KeepUpWithWallClock()
{
    if (!options_.realtime)
        return;
    // Time the host spent elsewhere passed on the wire too, the pins held.
    const int64_t behind = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() -
                                                                                 wallStart_).count() -
                           (chip_.NowNs() - virtualStart_);
    Advance(behind);
    const auto until = wallStart_ + std::chrono::nanoseconds(chip_.NowNs() - virtualStart_);
    if (until - std::chrono::steady_clock::now() > std::chrono::microseconds(200))
        std::this_thread::sleep_until(until - std::chrono::microseconds(100));
    while (std::chrono::steady_clock::now() < until) {
    }
}

// All eight pins: the outputs as driven, MISO from the chip, the sense line
// with the target's RST, open inputs pulled up.
uint8_t VirtualFt232r::Sample() const
{
    const FtdiPins& w = options_.wiring;
    uint8_t sample = static_cast<uint8_t>((pins_ & outputs_) | (0xFF & ~outputs_));
    if (options_.targetPowered && !(outputs_ >> w.miso & 1) && !chip_.Miso())
        sample = static_cast<uint8_t>(sample & ~(1u << w.miso));
    const bool sense = options_.targetPowered && (pins_ >> w.rst & 1);
    if (options_.senseWired && w.sense >= 0 && !(outputs_ >> w.sense & 1) && !sense)
        sample = static_cast<uint8_t>(sample & ~(1u << w.sense));
    return sample;
}

FtdiSystem::Result VirtualFt232r::Write(const uint8_t* data, size_t n)
{
    if (lost_ || !open_ || !started_)
        return {Status::Lost, "No such device (it may have been disconnected)"};
    KeepUpWithWallClock();
    if (samples_.size() + n > kHostBuffer + kSampleBuffer) {
        ++overruns_; // a real chip would stop taking bytes and the write would time out
        return {Status::Failed, "the USB write timed out: the chip's buffers are full"};
    }
    largest_ = std::max(largest_, n);
    Advance(options_.roundTripNs / 2);
    return Clock(data, nullptr, n);
}

FtdiSystem::Result VirtualFt232r::Clock(const uint8_t* data, uint8_t* samples, size_t n)
{
    const FtdiPins& w = options_.wiring;
    for (size_t i = 0; i < n; ++i) {
        if (options_.loseAfterBytes >= 0 && int64_t(written_) >= options_.loseAfterBytes) {
            lost_ = true;
            return {Status::Lost, "No such device (it may have been disconnected)"};
        }
        if (samples)
            samples[i] = Sample();
        else
            samples_.push_back(Sample());
        pins_ = data[i] & outputs_;
        if (options_.targetPowered)
            chip_.SetPins((pins_ >> w.rst) & 1, (pins_ >> w.sck) & 1, (pins_ >> w.mosi) & 1);
        ++written_;
        Advance(byteNs_);
    }
    return {};
}

FtdiSystem::Result VirtualFt232r::Stream(const uint8_t* data, uint8_t* samples, size_t n)
{
    if (lost_ || !open_ || !started_)
        return {Status::Lost, "No such device (it may have been disconnected)"};
    KeepUpWithWallClock();
    Advance(options_.roundTripNs / 2);
    const Result clocked = Clock(data, samples, n);
    if (!clocked.ok())
        return clocked;
    ++transfers_;
    ++streams_;
    Advance(options_.roundTripNs - options_.roundTripNs / 2);
    KeepUpWithWallClock();
    return {};
}

FtdiSystem::Result VirtualFt232r::Read(uint8_t* data, size_t n)
{
    if (lost_ || !open_)
        return {Status::Lost, "No such device (it may have been disconnected)"};
    if (n > samples_.size())
        return {Status::Failed, "the cable returned " + std::to_string(samples_.size()) + " of " + std::to_string(n) +
                                    " samples"};
    for (size_t i = 0; i < n; ++i) {
        data[i] = samples_.front();
        samples_.pop_front();
    }
    ++transfers_;
    Advance(options_.roundTripNs - options_.roundTripNs / 2);
    KeepUpWithWallClock();
    return {};
}

} // namespace qvx
