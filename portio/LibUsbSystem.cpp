// The USBasp through libusb-1.0: the only file that includes it.
#include "UsbaspPort.h"

#include <libusb.h>

#include <cstdio>
#include <cstring>

namespace qvx {

namespace {

constexpr uint16_t kVendor = 0x16C0, kProduct = 0x05DC; // shared by V-USB devices: the strings tell
constexpr unsigned kTimeoutMs = 1000;

class LibUsbSystem : public UsbaspSystem {
public:
    LibUsbSystem() { started_ = libusb_init(&context_) == 0; }
    ~LibUsbSystem() override
    {
        Close();
        if (started_)
            libusb_exit(context_);
    }

    Result Open(const std::string& serial, std::string& name, uint16_t& release) override
    {
        if (!started_)
            return {Status::Failed, "libusb cannot start"};
        libusb_device** list = nullptr;
        const ssize_t count = libusb_get_device_list(context_, &list);
        if (count < 0)
            return {Status::Failed, std::string("cannot list the USB devices: ") + libusb_strerror(int(count))};
        Result result{Status::NotFound, ""};
        for (ssize_t i = 0; i < count && !handle_; ++i) {
            libusb_device_descriptor d{};
            if (libusb_get_device_descriptor(list[i], &d) != 0 || d.idVendor != kVendor || d.idProduct != kProduct)
                continue;
            libusb_device_handle* h = nullptr;
            const int opened = libusb_open(list[i], &h);
            if (opened != 0) {
                char path[40];
                std::snprintf(path, sizeof path, "/dev/bus/usb/%03u/%03u", unsigned(libusb_get_bus_number(list[i])),
                              unsigned(libusb_get_device_address(list[i])));
                result = {opened == LIBUSB_ERROR_ACCESS ? Status::Denied : Status::Failed,
                          std::string(path) + ": " + libusb_strerror(opened)};
                continue;
            }
            const std::string maker = Text(h, d.iManufacturer), product = Text(h, d.iProduct),
                              number = Text(h, d.iSerialNumber);
            if (maker != "www.fischl.de" || product != "USBasp" || (!serial.empty() && number != serial)) {
                libusb_close(h);
                continue;
            }
            handle_ = h;
            release = d.bcdDevice;
            name = "USBasp" + (number.empty() ? std::string() : " " + number);
            result = {};
        }
        libusb_free_device_list(list, 1);
        return result;
    }

    Result Request(uint8_t request, uint16_t value, uint16_t index, uint8_t* data, size_t length,
                   size_t& got) override
    {
        got = 0;
        if (!handle_)
            return {Status::Failed, "not open"};
        const int r = libusb_control_transfer(
            handle_, uint8_t(unsigned(LIBUSB_REQUEST_TYPE_VENDOR) | unsigned(LIBUSB_RECIPIENT_DEVICE) | unsigned(LIBUSB_ENDPOINT_IN)), request, value,
            index, data, uint16_t(length), kTimeoutMs);
        if (r < 0)
            return {r == LIBUSB_ERROR_NO_DEVICE ? Status::Lost : Status::Failed,
                    r == LIBUSB_ERROR_TIMEOUT ? "no answer within " + std::to_string(kTimeoutMs) + " ms"
                                              : std::string(libusb_strerror(r))};
        got = size_t(r);
        return {};
    }

    void Close() override
    {
        if (handle_)
            libusb_close(handle_);
        handle_ = nullptr;
    }

private:
    static std::string Text(libusb_device_handle* h, uint8_t index)
    {
        unsigned char text[128] = "";
        if (index == 0 || libusb_get_string_descriptor_ascii(h, index, text, sizeof text) < 0)
            return {};
        return reinterpret_cast<const char*>(text);
    }

    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    bool started_ = false;
};

} // namespace

std::unique_ptr<UsbaspSystem> MakeLibUsbSystem() { return std::make_unique<LibUsbSystem>(); }

} // namespace qvx
