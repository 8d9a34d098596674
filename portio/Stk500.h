// The replies of the ArduinoISP sketch, which speaks STK500 version 1: each
// command is answered 14h (in sync), the bytes it returns, 10h (OK). The
// sketch answers a command it cannot take 15h (not in sync: the command did
// not end in 20h) or 12h (unknown command), and nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <string>
#include <vector>

namespace qvx {

namespace stk500 {
inline constexpr uint8_t InSync = 0x14, Ok = 0x10, NoSync = 0x15, Unknown = 0x12, Eop = 0x20;
inline constexpr uint8_t GetSync = 0x30, GetParameter = 0x41, SetDevice = 0x42, SetDeviceExt = 0x45,
                         EnterProgmode = 0x50, LeaveProgmode = 0x51, Universal = 0x56;
} // namespace stk500

// Reads the replies to the commands sent, in order, from the bytes as they
// come, in pieces of any size. A byte that is not what the reply must hold
// there ends the reading with an error that names it; a reply is never taken
// before its closing 10h has come.
class Stk500Replies {
public:
    // One more command answered: 14h, `answerBytes` bytes, 10h.
    void Expect(size_t answerBytes) { expected_.push_back(answerBytes); }
    // Replies not yet complete.
    size_t Pending() const { return expected_.size(); }
    // Replies completed so far.
    size_t Completed() const { return completed_; }
    // Bytes still due for the replies not yet complete.
    size_t BytesDue() const;
    // Takes bytes that came; false at the first that does not fit (from then
    // on every call is false).
    bool Take(std::span<const uint8_t> bytes);
    // The answer bytes of the completed replies, in order.
    const std::vector<uint8_t>& Answers() const { return answers_; }
    // What did not fit: "15h (not in sync) where 14h belongs".
    const std::string& Error() const { return error_; }

private:
    std::deque<size_t> expected_;
    std::vector<uint8_t> answers_, partial_;
    size_t at_ = 0, completed_ = 0; // position in the reply under way
    std::string error_;
};

} // namespace qvx
