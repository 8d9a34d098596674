// A serial port through termios, as the Arduino as ISP needs it: opened for
// this program alone, raw 8N1 without flow control at a given baud rate,
// DTR and RTS held on, every read and write bounded by a deadline on the
// steady clock. A pseudo-terminal works as well as a USB serial port.
//
// termios rather than libserialport: Debian's libserialport looks a port up
// in sysfs before it opens it and so refuses pseudo-terminals (those of
// socat or ser2net, and the virtual Arduino the tests run); what is needed
// here is a handful of calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace qvx {

class SerialLine {
public:
    enum class Status { Ok, NotFound, Denied, Busy, NotSerial, BadBaud, Failed, Lost, TimedOut };
    struct Result {
        Status status = Status::Ok;
        std::string detail; // the system's words
        bool ok() const { return status == Status::Ok; }
    };

    SerialLine() = default;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;
    ~SerialLine() { Close(); }

    // The baud rates a serial port takes.
    static bool KnownBaud(uint32_t baud);

    Result Open(const std::string& path, uint32_t baud);
    // All of `bytes`, by `deadline`.
    Result Write(std::span<const uint8_t> bytes, std::chrono::nanoseconds deadline);
    // What has come, up to `most` bytes, waiting until at least one byte has
    // or `deadline` passes (TimedOut, `got` 0).
    Result Read(uint8_t* into, size_t most, size_t& got, std::chrono::nanoseconds deadline);
    // Throws away what has come and not been read.
    void DropInput();
    void Close();
    // The descriptor, for a write from a signal handler; -1 when closed.
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

} // namespace qvx
