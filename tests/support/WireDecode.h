// Reads a RecordingPort log back as the bytes clocked out to the target:
// each rising clock edge takes the MOSI level then on the data register.
#pragma once

#include "RecordingPort.h"

#include <cstdint>
#include <vector>

namespace qvx::test {

inline std::vector<uint8_t> ClockedBytes(const RecordingPort& port, uint16_t dataPort = 0x378,
                                         size_t from = 0)
{
    std::vector<uint8_t> bytes;
    bool mosi = false;
    unsigned value = 0;
    int count = 0;
    for (size_t i = from; i < port.calls.size(); ++i) {
        const RecordingPort::Call& c = port.calls[i];
        if (c.port != dataPort)
            continue;
        if (c.bit == 5 && (c.op == RecordingPort::Op::Set || c.op == RecordingPort::Op::Clr))
            mosi = c.op == RecordingPort::Op::Set;
        if (c.bit == 6 && c.op == RecordingPort::Op::Set) {
            value = (value << 1) | (mosi ? 1u : 0u);
            if (++count == 8) {
                bytes.push_back(static_cast<uint8_t>(value));
                value = 0;
                count = 0;
            }
        }
    }
    return bytes;
}

// Queues the bits of `bytes` on the recording port's MISO, most significant
// first, one per clock.
inline void QueueMiso(RecordingPort& port, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes)
        for (int i = 7; i >= 0; --i)
            port.miso.push_back((b >> i) & 1);
}

} // namespace qvx::test
