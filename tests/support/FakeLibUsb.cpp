// libusb-1.0 as a USBasp with a simulated chip sees it, loaded with
// LD_PRELOAD into a program run as a process of its own. Set by
// QVX_TEST_USBASP=DEVICE,STATE[,release=N][,absent][,denied][,lose=N]: the
// chip, the file keeping its code and lock bits between runs (loaded at
// libusb_init, saved at libusb_exit), the firmware's release (hex), a USBasp
// absent or not permitted, and the requests answered before it is unplugged.
#include "StateFile.h"
#include "VirtualUsbasp.h"

#include <libusb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

std::unique_ptr<qvx::VirtualUsbasp> gUsbasp;
std::string gState;

// Stand-ins for the library's opaque objects: only their addresses are used.
char gDevice, gHandle;

bool Start()
{
    if (gUsbasp)
        return true;
    const char* setting = std::getenv("QVX_TEST_USBASP");
    if (!setting)
        return false;
    std::istringstream items(setting);
    std::string device, item;
    std::getline(items, device, ',');
    std::getline(items, gState, ',');
    qvx::VirtualUsbaspOptions options;
    options.followWall = true; // the program waits on the real clock
    while (std::getline(items, item, ',')) {
        if (item.rfind("release=", 0) == 0)
            options.release = uint16_t(std::strtoul(item.c_str() + 8, nullptr, 16));
        else if (item == "absent")
            options.present = false;
        else if (item == "denied")
            options.denied = true;
        else if (item.rfind("lose=", 0) == 0)
            options.loseAfter = std::strtoll(item.c_str() + 5, nullptr, 10);
    }
    const qvx::sim::Device* chip = qvx::sim::FindDevice(device);
    if (!chip)
        return false;
    gUsbasp = std::make_unique<qvx::VirtualUsbasp>(*chip, qvx::sim::ChipOptions{}, options);
    std::string error;
    if (gState.empty() || qvx::sim::LoadState(gUsbasp->Chip(), gState, error))
        return true;
    std::fprintf(stderr, "fake libusb: %s\n", error.c_str());
    gUsbasp.reset();
    return false;
}

} // namespace

extern "C" {

int libusb_init(libusb_context** context)
{
    if (context)
        *context = nullptr;
    return Start() ? 0 : LIBUSB_ERROR_OTHER;
}

void libusb_exit(libusb_context*)
{
    if (!gUsbasp || gState.empty())
        return;
    gUsbasp->Chip().Settle();
    std::string error;
    if (!qvx::sim::SaveState(gUsbasp->Chip(), gState, error))
        std::fprintf(stderr, "fake libusb: %s\n", error.c_str());
}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list)
{
    static libusb_device* devices[2] = {};
    const bool present = gUsbasp && gUsbasp->Options().present;
    devices[0] = present ? reinterpret_cast<libusb_device*>(&gDevice) : nullptr;
    *list = devices;
    return present ? 1 : 0;
}

void libusb_free_device_list(libusb_device**, int) {}

int libusb_get_device_descriptor(libusb_device*, libusb_device_descriptor* d)
{
    std::memset(d, 0, sizeof *d);
    d->idVendor = 0x16C0;
    d->idProduct = 0x05DC;
    d->iManufacturer = 1;
    d->iProduct = 2;
    d->bcdDevice = gUsbasp ? gUsbasp->Options().release : 0;
    return 0;
}

uint8_t libusb_get_bus_number(libusb_device*) { return 1; }
uint8_t libusb_get_device_address(libusb_device*) { return 5; }

int libusb_open(libusb_device*, libusb_device_handle** handle)
{
    using Status = qvx::UsbaspSystem::Status;
    std::string name;
    uint16_t release = 0;
    const Status status = gUsbasp->Open("", name, release).status;
    *handle = reinterpret_cast<libusb_device_handle*>(&gHandle);
    return status == Status::NotFound ? LIBUSB_ERROR_NO_DEVICE : status == Status::Denied ? LIBUSB_ERROR_ACCESS : 0;
}

void libusb_close(libusb_device_handle*) {}

int libusb_get_string_descriptor_ascii(libusb_device_handle*, uint8_t index, unsigned char* data, int length)
{
    const char* text = index == 1 ? "www.fischl.de" : index == 2 ? "USBasp" : "";
    std::snprintf(reinterpret_cast<char*>(data), size_t(length), "%s", text);
    return int(std::strlen(reinterpret_cast<char*>(data)));
}

int libusb_control_transfer(libusb_device_handle*, uint8_t, uint8_t request, uint16_t value, uint16_t index,
                            unsigned char* data, uint16_t length, unsigned int)
{
    size_t got = 0;
    const qvx::UsbaspSystem::Result r = gUsbasp->Request(request, value, index, data, length, got);
    return r.ok() ? int(got) : r.status == qvx::UsbaspSystem::Status::Lost ? LIBUSB_ERROR_NO_DEVICE : LIBUSB_ERROR_IO;
}

const char* libusb_strerror(int code)
{
    switch (code) {
    case LIBUSB_ERROR_ACCESS: return "Access denied (insufficient permissions)";
    case LIBUSB_ERROR_NO_DEVICE: return "No such device (it may have been disconnected)";
    default: return "Input/Output Error";
    }
}

} // extern "C"
