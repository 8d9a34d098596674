#include "ArduinoPort.h"
#include "PortOptions.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qvx {

namespace {

using namespace stk500;

// What the sketch takes per universal command besides the line: its SPI
// transaction of 32 bits at 125 kHz and its loop. While each command takes
// longer on the line than this, the sketch keeps up with the line.
constexpr int64_t kUniversalNs = 400'000;
// The longest pause filled with syncs on the line; a longer one is a round
// trip and a wait on the program's clock.
constexpr int64_t kMostFilledNs = 20'000'000;
// Beyond what the line takes, how long a reply may be late before the
// line counts as stalled; entering programming mode has the sketch wait
// 70 ms besides.
constexpr int64_t kAnswerSlackNs = 500'000'000;
constexpr int64_t kEnterNs = 70'000'000;
constexpr int64_t kAttemptNs = 250'000'000, kQuietNs = 150'000'000;

const char* const kAccepted = "the form is arduino:PATH[,baud=N], as in arduino:/dev/ttyACM0 or "
                              "arduino:/dev/ttyUSB0,baud=19200";

std::string Hex(std::span<const uint8_t> bytes)
{
    std::string text;
    char byte[4];
    for (uint8_t b : bytes) {
        std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : " ", unsigned(b));
        text += byte;
    }
    return text;
}

// The serial ports there are now, for a message.
std::string SerialPorts()
{
    std::vector<std::string> ports;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ttyACM", 0) == 0 || name.rfind("ttyUSB", 0) == 0)
            ports.push_back(entry.path().string());
    }
    std::sort(ports.begin(), ports.end());
    std::string list;
    for (const std::string& p : ports)
        list += (list.empty() ? "" : ", ") + p;
    return list.empty() ? "there is none now" : "there are now " + list;
}

} // namespace

bool ParseArduinoOptions(std::string_view options, ArduinoSettings& settings, std::string& error)
{
    settings = {};
    error.clear();
    bool first = true;
    for (const PortOption& o : SplitPortOptions(options)) {
        if (first) {
            first = false;
            if (o.text.empty() || o.hasValue) {
                error = "name the Arduino's serial port first; " + std::string(kAccepted);
                return false;
            }
            settings.path = std::string(o.text);
            continue;
        }
        if (o.key != "baud" || !o.hasValue) {
            error = (o.text.empty() ? std::string("empty option") : "unknown option \"" + std::string(o.text) + "\"") +
                    "; " + kAccepted;
            return false;
        }
        if (!ParseInteger(o.value, settings.baud) || !SerialLine::KnownBaud(settings.baud)) {
            error = OptionError(o, "the baud rate is one a serial port takes: 1200, 2400, 4800, 9600, 19200 (the "
                                   "ArduinoISP sketch's), 38400, 57600, 115200, 230400, 460800, 500000, 921600, "
                                   "1000000 or 2000000");
            return false;
        }
    }
    return true;
}

ArduinoPort::ArduinoPort(ArduinoSettings settings)
    : settings_(std::move(settings)), name_("Arduino as ISP on " + settings_.path)
{
}

ArduinoPort::~ArduinoPort() = default;

void ArduinoPort::SignalSafeWrite(uint16_t port, uint8_t, uint8_t clear) noexcept
{
    static const uint8_t leave[2] = {LeaveProgmode, Eop};
    if (IsLptData(port) && (clear >> cableline::Rst & 1) && line_.Fd() >= 0)
        (void)!::write(line_.Fd(), leave, sizeof leave);
}

void ArduinoPort::LineFailed(const SerialLine::Result& result, const std::string& what)
{
    if (result.status == SerialLine::Status::Lost)
        Fail(name_ + ": " + what + ": " + result.detail + "; the Arduino was unplugged or lost");
    else if (result.status == SerialLine::Status::TimedOut)
        Fail(name_ + ": " + what + "; the line stalled: the Arduino reset, hung or lost power");
    else
        Fail(name_ + ": " + what + ": " + result.detail);
}

bool ArduinoPort::Send(std::span<const uint8_t> bytes)
{
    const SerialLine::Result r =
        line_.Write(bytes, SteadyNow() + std::chrono::nanoseconds(LineNs(bytes.size()) + kAnswerSlackNs));
    if (!r.ok())
        LineFailed(r, "cannot send to the sketch (" + r.detail + ")");
    return r.ok();
}

bool ArduinoPort::Receive(Stk500Replies& replies, std::chrono::nanoseconds deadline)
{
    uint8_t bytes[256];
    size_t got = 0;
    const SerialLine::Result r = line_.Read(bytes, std::min(sizeof bytes, replies.BytesDue()), got, deadline);
    if (!r.ok()) {
        LineFailed(r, r.status == SerialLine::Status::TimedOut
                          ? "no answer from the sketch in time (" + std::to_string(replies.Pending()) +
                                " replies outstanding)"
                          : "no answer from the sketch");
        return false;
    }
    lastReply_ = SteadyNow();
    if (!replies.Take({bytes, got})) {
        Fail(name_ + ": the sketch answered " + replies.Error() + " (after " + std::to_string(replies.Completed()) +
             " good replies); the line is garbled: check the baud rate (the sketch's BAUDRATE) and that no other "
             "program uses the port");
        return false;
    }
    return true;
}

bool ArduinoPort::Exchange(std::span<const uint8_t> bytes, Stk500Replies& replies, int64_t extraNs)
{
    if (!Send(bytes))
        return false;
    const auto deadline =
        SteadyNow() + std::chrono::nanoseconds(LineNs(bytes.size() + replies.BytesDue()) + extraNs + kAnswerSlackNs);
    while (replies.Pending() > 0)
        if (!Receive(replies, deadline))
            return false;
    return true;
}

bool ArduinoPort::Sync()
{
    static const uint8_t sync[2] = {GetSync, Eop};
    const auto until = SteadyNow() + std::chrono::nanoseconds(kSyncNs);
    // The bytes that came within an attempt, or nothing at its end.
    auto attempt = [&](std::vector<uint8_t>& got) {
        got.clear();
        if (!line_.Write(sync, SteadyNow() + std::chrono::nanoseconds(kAttemptNs)).ok())
            return false;
        const auto end = SteadyNow() + std::chrono::nanoseconds(kAttemptNs);
        uint8_t bytes[64];
        size_t n = 0;
        while (got.size() < 2 && line_.Read(bytes, sizeof bytes, n, end).ok())
            got.insert(got.end(), bytes, bytes + n);
        return got.size() == 2 && got[0] == InSync && got[1] == Ok;
    };
    std::vector<uint8_t> got;
    while (SteadyNow() < until) {
        line_.DropInput();
        if (!attempt(got)) {
            if (!got.empty())
                heard_ = Hex(got);
            continue;
        }
        // Syncs sent while the board was starting may be answered late:
        // the line must go quiet, then answer one more exactly.
        uint8_t bytes[64];
        size_t n = 0;
        while (line_.Read(bytes, sizeof bytes, n, SteadyNow() + std::chrono::nanoseconds(kQuietNs)).ok()) {
        }
        if (!attempt(got))
            continue;
        // The sketch's version (parameters 81h, 82h).
        for (uint8_t parameter : {uint8_t(0x81), uint8_t(0x82)}) {
            const uint8_t ask[3] = {GetParameter, parameter, Eop};
            Stk500Replies reply;
            reply.Expect(1);
            if (!Exchange(ask, reply, 0))
                return false;
            version_ += (version_.empty() ? "" : ".") + std::to_string(reply.Answers()[0]);
        }
        return true;
    }
    problem_ = heard_.empty() ? Problem::NoAnswer : Problem::WrongAnswer;
    return false;
}

bool ArduinoPort::Ready()
{
    if (state_ == State::Closed) {
        state_ = State::Unusable;
        opened_ = line_.Open(settings_.path, settings_.baud);
        if (!opened_.ok()) {
            problem_ = Problem::Line;
            return false;
        }
        if (!Sync()) {
            line_.Close();
            return false;
        }
        state_ = State::Open;
    }
    return state_ == State::Open && Failure().empty();
}

std::string ArduinoPort::DriverDiagnosis()
{
    if (Ready() || !Failure().empty())
        return Failure();
    const std::string& path = settings_.path;
    const std::string baud = std::to_string(settings_.baud);
    const std::string detail = opened_.detail.empty() ? "" : " (" + opened_.detail + ")";
    switch (problem_) {
    case Problem::NoAnswer:
    case Problem::WrongAnswer:
        return (problem_ == Problem::NoAnswer
                    ? "The Arduino on " + path + " does not answer: no reply to the sync (30h 20h) within 2.5 s at " +
                          baud + " baud."
                    : "The device on " + path + " answers, but not as the ArduinoISP sketch does (" + heard_ +
                          " to the sync 30h 20h at " + baud + " baud).") +
               "\nCheck that " + path +
               " is the Arduino's port, that the ArduinoISP sketch is loaded on it (File > Examples > "
               "ArduinoISP in the Arduino IDE, uploaded to this board), and that the baud rate is the sketch's "
               "BAUDRATE: 19200 unless it was changed (arduino:" +
               path + ",baud=N).";
    case Problem::Line:
    case Problem::None: break;
    }
    switch (opened_.status) {
    case SerialLine::Status::NotFound:
        return "No serial port " + path + detail + ".\nPlug the Arduino in and name its port (" + SerialPorts() +
               "): an Uno or a Leonardo is /dev/ttyACMn, a board with a CH340 or FT232R chip /dev/ttyUSBn; "
               "/dev/serial/by-id/ names them.";
    case SerialLine::Status::Denied: {
        struct stat st {};
        const group* g = ::stat(path.c_str(), &st) == 0 ? ::getgrgid(st.st_gid) : nullptr;
        const std::string group = g && g->gr_gid != 0 ? g->gr_name : "dialout";
        return "The serial port " + path + " cannot be opened: permission denied" + detail +
               ".\nIt belongs to the group " + group + ": sudo usermod -aG " + group +
               " $USER, then log out and in again.";
    }
    case SerialLine::Status::Busy:
        return "The serial port " + path + " is in use by another program" + detail +
               ".\nClose it there (a serial monitor, the Arduino IDE, another programmer) and try again.";
    case SerialLine::Status::NotSerial:
        return path + " is no serial port" + detail + ".\nName the Arduino's serial port, such as /dev/ttyACM0.";
    default:
        return "The serial port " + path + " cannot be used" + detail + ".";
    }
}

bool ArduinoPort::EnterProgramming(const SerialClock& clock, std::span<const uint8_t> enable,
                                   std::span<uint8_t> answer)
{
    (void)clock; // the sketch's clock is its own: TargetRefusal has checked it
    // The device code: E0h or more has the sketch drive RST active high.
    const bool s51 = Target().chip == "AT89S51";
    const uint8_t code = s51 ? 0xE0 : 0xE1;
    if (code != deviceCode_) {
        const uint8_t kb = s51 ? 0x10 : 0x20; // flash size 1000h or 2000h, big-endian
        const uint8_t parameters[22] = {SetDevice, code, 0, 0, 1, 1, 1, 1, 0, 0xFF, 0xFF, 0xFF, 0xFF,
                                        0,         0,    0, 0, 0, 0, kb, 0, Eop};
        const uint8_t extended[7] = {SetDeviceExt, 5, 0, 0, 0, 0, Eop};
        Stk500Replies replies;
        replies.Expect(0);
        replies.Expect(0);
        std::vector<uint8_t> both(std::begin(parameters), std::end(parameters));
        both.insert(both.end(), std::begin(extended), std::end(extended));
        if (!Exchange(both, replies, 0))
            return false;
        deviceCode_ = code;
    }
    // Nothing goes behind this one: the sketch reads nothing for the 70 ms
    // of its reset and enable, and its receive buffer would overflow.
    const uint8_t enter[2] = {EnterProgmode, Eop};
    Stk500Replies entered;
    entered.Expect(0);
    if (!Exchange(enter, entered, kEnterNs))
        return false;
    // The chip's answer to the program's enable, sent once more.
    return Transmit(enable, answer, {});
}

bool ArduinoPort::LeaveProgramming()
{
    const uint8_t leave[2] = {LeaveProgmode, Eop};
    Stk500Replies replies;
    replies.Expect(0);
    return Exchange(leave, replies, 0);
}

bool ArduinoPort::Transmit(std::span<const uint8_t> out, std::span<uint8_t> in,
                           std::span<const ExchangePause> pauses)
{
    const size_t count = out.size() / 4;
    // The pause before each instruction.
    std::vector<int64_t> pause(count, 0);
    for (const ExchangePause& p : pauses)
        if (p.before / 4 < count)
            pause[p.before / 4] = std::max(pause[p.before / 4], p.ns);
    // While the sketch keeps up with the line, a command's SPI transaction
    // comes no sooner than the line took the bytes since the one before.
    const bool keepsUp = LineNs(6) >= kUniversalNs;
    const int64_t covered = keepsUp ? LineNs(6) - 32 * 2 * kSckPhaseNs : 0;

    Stk500Replies replies;
    std::vector<uint8_t> queued;
    std::vector<size_t> sizes; // the bytes of each command not yet answered, oldest first
    size_t unanswered = 0, answeredCommands = 0;
    // Sends what is queued and reads replies until `room` more bytes fit.
    auto makeRoom = [&](size_t room) {
        if (!queued.empty() && !Send(queued))
            return false;
        queued.clear();
        while (unanswered + room > kReceiveBuffer || (room == 0 && unanswered > 0)) {
            const auto deadline = SteadyNow() + std::chrono::nanoseconds(LineNs(unanswered + replies.BytesDue()) +
                                                                          int64_t(replies.Pending()) * kUniversalNs +
                                                                          kAnswerSlackNs);
            if (!Receive(replies, deadline))
                return false;
            for (; answeredCommands < replies.Completed(); ++answeredCommands)
                unanswered -= sizes[answeredCommands];
        }
        return true;
    };
    auto queue = [&](std::initializer_list<uint8_t> bytes, size_t answerBytes) {
        if (unanswered + bytes.size() > kReceiveBuffer && !makeRoom(bytes.size()))
            return false;
        queued.insert(queued.end(), bytes);
        replies.Expect(answerBytes);
        sizes.push_back(bytes.size());
        unanswered += bytes.size();
        return true;
    };
    for (size_t i = 0; i < count; ++i) {
        if (pause[i] > covered) {
            if (keepsUp && pause[i] - covered <= kMostFilledNs) {
                // Syncs on the line fill the pause: the sketch answers them
                // and does nothing else meanwhile.
                for (int64_t filled = covered; filled < pause[i]; filled += LineNs(2))
                    if (!queue({GetSync, Eop}, 0))
                        return false;
            } else {
                if (!makeRoom(0))
                    return false;
                WaitUntil(lastReply_ + std::chrono::nanoseconds(pause[i]));
            }
        }
        const uint8_t* b = &out[i * 4];
        if (!queue({Universal, b[0], b[1], b[2], b[3], Eop}, 1))
            return false;
    }
    if (!makeRoom(0))
        return false;
    // Each universal command's answer byte, in order (the syncs have none).
    for (size_t i = 0; i < count; ++i)
        in[i * 4 + 3] = replies.Answers()[i];
    return true;
}

} // namespace qvx
