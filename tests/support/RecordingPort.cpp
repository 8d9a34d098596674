#include "RecordingPort.h"

namespace qvx {

void RecordingPort::SetPortBit(uint16_t port, uint8_t bit)
{
    registers_[port] = static_cast<uint8_t>(registers_[port] | (1u << (bit & 7)));
    calls.push_back({Op::Set, port, bit, false, clock});
}

void RecordingPort::ClrPortBit(uint16_t port, uint8_t bit)
{
    registers_[port] = static_cast<uint8_t>(registers_[port] & ~(1u << (bit & 7)));
    calls.push_back({Op::Clr, port, bit, false, clock});
}

bool RecordingPort::GetPortBit(uint16_t port, uint8_t bit)
{
    bool value;
    if (script) {
        value = script(port, bit);
    } else if (bit == 4) {
        value = sense;
    } else if (bit == 6) {
        if (miso.empty()) {
            value = misoIdle;
        } else {
            value = miso.front();
            miso.pop_front();
        }
    } else {
        value = (Register(port) >> (bit & 7)) & 1u;
    }
    calls.push_back({Op::Get, port, bit, value, clock});
    return value;
}

bool RecordingPort::IsDriverInstalled()
{
    calls.push_back({Op::Driver, 0, 0, driverInstalled, clock});
    return driverInstalled;
}

void RecordingPort::WaitUntil(std::chrono::nanoseconds deadline)
{
    if (deadline <= clock)
        return;
    waits.push_back((deadline - clock).count());
    clock = deadline;
}

uint8_t RecordingPort::Register(uint16_t port) const
{
    auto it = registers_.find(port);
    return it == registers_.end() ? 0 : it->second;
}

} // namespace qvx
