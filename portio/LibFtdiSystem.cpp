// The FT232R through libftdi1: the only file that includes it.
#include "FtdiPort.h"

#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/time.h>
#include <unistd.h>

namespace qvx {

namespace {

constexpr int kVendor = 0x0403, kProduct = 0x6001; // FT232R
constexpr int kAnswerTimeoutMs = 1000;

class LibFtdiSystem : public FtdiSystem {
public:
    LibFtdiSystem() : ftdi_(ftdi_new()) {}
    ~LibFtdiSystem() override
    {
        Close();
        if (ftdi_)
            ftdi_free(ftdi_);
    }

    Result Open(const std::string& serial, std::string& name) override
    {
        if (!ftdi_)
            return {Status::Failed, "libftdi cannot start"};
        ftdi_device_list* list = nullptr;
        const int found = ftdi_usb_find_all(ftdi_, &list, kVendor, kProduct);
        if (found < 0)
            return {Status::Failed, Error("cannot list the USB devices")};
        Result result{Status::NotFound, found == 0 ? "" : "no FT232R with serial number " + serial};
        for (ftdi_device_list* d = list; d; d = d->next) {
            char text[64] = "";
            const bool named = ftdi_usb_get_strings(ftdi_, d->dev, nullptr, 0, nullptr, 0, text, sizeof text) == 0;
            if (!serial.empty() && (!named || serial != text)) {
                if (!named)
                    result = Denial(d->dev);
                continue;
            }
            const int opened = ftdi_usb_open_dev(ftdi_, d->dev);
            if (opened == 0) {
                open_ = true;
                name = std::string("FT232R") + (named && *text ? std::string(" ") + text : std::string());
                result = {};
                break;
            }
            result = opened == -5 ? Result{Status::Busy, Error("cannot claim the USB device")} : Denial(d->dev);
            break;
        }
        ftdi_list_free(&list);
        return result;
    }

    Result StartBitBang(uint8_t outputs, uint8_t levels, uint32_t rate) override
    {
        // The first byte sets the outputs before synchronous mode begins.
        if (ftdi_set_bitmode(ftdi_, outputs, BITMODE_BITBANG) < 0 || ftdi_write_data(ftdi_, &levels, 1) != 1 ||
            ftdi_set_bitmode(ftdi_, outputs, BITMODE_SYNCBB) < 0)
            return {Status::Failed, Error("cannot start synchronous bit-bang mode")};
        // AN232R-01: bit-bang bytes are clocked at sixteen times the baud
        // rate, and libftdi programs four times the baud rate it is given
        // while bit-bang is on; so `rate` bytes a second are rate / 64 here.
        // Were either factor smaller, the clock would only be slower: the
        // chip's SCK floor holds either way.
        if (ftdi_set_baudrate(ftdi_, int(rate / 64)) < 0)
            return {Status::Failed, Error("cannot set the bit-bang rate")};
        // Samples come back as soon as a transfer's are in, not after 16 ms.
        if (ftdi_set_latency_timer(ftdi_, 1) < 0 || ftdi_tcioflush(ftdi_) < 0)
            return {Status::Failed, Error("cannot set up the USB transfers")};
        ftdi_->usb_read_timeout = ftdi_->usb_write_timeout = kAnswerTimeoutMs;
        return {};
    }

    Result Write(const uint8_t* data, size_t n) override
    {
        const int written = ftdi_write_data(ftdi_, data, int(n));
        if (written < 0)
            return Failed(written, "the USB write failed");
        if (size_t(written) != n)
            return {Status::Failed, "the USB write took " + std::to_string(written) + " of " + std::to_string(n) + " bytes"};
        return {};
    }

    Result Read(uint8_t* data, size_t n) override
    {
        size_t got = 0;
        const std::chrono::nanoseconds deadline = Now() + std::chrono::milliseconds(kAnswerTimeoutMs);
        while (got < n) {
            const int r = ftdi_read_data(ftdi_, data + got, int(n - got));
            if (r < 0)
                return Failed(r, "the USB read failed");
            got += size_t(r);
            if (r == 0 && Now() > deadline)
                return {Status::Failed, "the cable returned " + std::to_string(got) + " of " + std::to_string(n) +
                                            " samples within " + std::to_string(kAnswerTimeoutMs) + " ms"};
        }
        return {};
    }

    // The read is submitted first, so that the cable's samples are taken as
    // it clocks the bytes out and its 256-byte transmit buffer never fills;
    // libftdi1 then writes the bytes in chunks while the read stays pending,
    // the next chunk on the wire while the last one's samples come back.
    Result Stream(const uint8_t* data, uint8_t* samples, size_t n) override
    {
        ftdi_transfer_control* read = ftdi_read_data_submit(ftdi_, samples, int(n));
        if (!read)
            return StreamFailed("cannot start the USB read");
        ftdi_transfer_control* write = ftdi_write_data_submit(ftdi_, const_cast<uint8_t*>(data), int(n));
        if (!write) {
            Cancel(read);
            return StreamFailed("cannot start the USB write");
        }
        const int written = ftdi_transfer_data_done(write);
        if (written != int(n)) {
            Cancel(read);
            return StreamFailed("the USB write took " + std::to_string(std::max(written, 0)) + " of " +
                                std::to_string(n) + " bytes");
        }
        const int got = ftdi_transfer_data_done(read);
        if (got != int(n))
            return StreamFailed("the cable returned " + std::to_string(std::max(got, 0)) + " of " +
                                std::to_string(n) + " samples");
        return {};
    }

    void Close() override
    {
        if (open_)
            ftdi_usb_close(ftdi_);
        open_ = false;
    }

private:
    std::string Error(const std::string& what) const { return what + ": " + ftdi_get_error_string(ftdi_); }

    // A read that will not complete any more (its write failed): cancelled,
    // waiting at most a tenth of a second for the cancellation.
    static void Cancel(ftdi_transfer_control* read)
    {
        timeval wait{0, 100'000};
        ftdi_transfer_data_cancel(read, &wait);
    }

    // A stream that failed: lost when the cable no longer answers a control
    // request either.
    Result StreamFailed(const std::string& what)
    {
        unsigned short modem = 0;
        if (ftdi_poll_modem_status(ftdi_, &modem) < 0)
            return {Status::Lost, what + ": " + libusb_strerror(LIBUSB_ERROR_NO_DEVICE)};
        return {Status::Failed, what};
    }

    Result Failed(int code, const std::string& what) const
    {
        // libftdi passes libusb's own error codes on for bulk transfers.
        if (code == LIBUSB_ERROR_NO_DEVICE || code == -666)
            return {Status::Lost, what + ": " + libusb_strerror(code == -666 ? LIBUSB_ERROR_NO_DEVICE : code)};
        return {Status::Failed, Error(what)};
    }

    // An FT232R that cannot be opened: for want of permission on its device
    // file, or something else.
    Result Denial(libusb_device* dev) const
    {
        char path[40];
        std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", unsigned(libusb_get_bus_number(dev)),
                      unsigned(libusb_get_device_address(dev)));
        if (::access(path, R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM))
            return {Status::Denied, std::string(path) + ": " + std::strerror(errno)};
        return {Status::Failed, Error("cannot open the USB device " + std::string(path))};
    }

    ftdi_context* ftdi_;
    bool open_ = false;
};

} // namespace

std::unique_ptr<FtdiSystem> MakeLibFtdiSystem() { return std::make_unique<LibFtdiSystem>(); }

} // namespace qvx
