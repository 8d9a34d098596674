// GPIO lines through libgpiod 1.6: the only file that includes it.
#include "GpioPort.h"

#include <gpiod.h>

#include <cerrno>
#include <map>
#include <string>

namespace qvx {

namespace {

constexpr const char* kConsumer = "qvx-isp";

class LibGpiodSystem : public GpioSystem {
public:
    ~LibGpiodSystem() override { Release(); }

    // Opens only GPIO chips: a path or name the option has checked to be
    // /dev/gpiochipN, or a chip found among them by its label.
    int OpenChip(const std::string& chip, std::string& name) override
    {
        errno = 0;
        switch (ClassifyGpioChip(chip)) {
        case GpioChipName::Path: chip_ = gpiod_chip_open(chip.c_str()); break;
        case GpioChipName::Number: chip_ = gpiod_chip_open_by_number(unsigned(std::stoul(chip))); break;
        case GpioChipName::Name: chip_ = gpiod_chip_open_by_name(chip.c_str()); break;
        case GpioChipName::Label: chip_ = gpiod_chip_open_by_label(chip.c_str()); break;
        case GpioChipName::Invalid: return EINVAL;
        }
        if (!chip_)
            return errno ? errno : ENOENT;
        name = gpiod_chip_name(chip_);
        return 0;
    }

    int RequestOutput(unsigned line, bool value) override
    {
        return Request(line, [&](gpiod_line* l) { return gpiod_line_request_output(l, kConsumer, value ? 1 : 0); });
    }

    int RequestInput(unsigned line) override
    {
        return Request(line, [&](gpiod_line* l) { return gpiod_line_request_input(l, kConsumer); });
    }

    int Set(unsigned line, bool value) override
    {
        const auto it = lines_.find(line);
        if (it == lines_.end())
            return EINVAL;
        return gpiod_line_set_value(it->second, value ? 1 : 0) < 0 ? errno : 0;
    }

    int Get(unsigned line, bool& value) override
    {
        const auto it = lines_.find(line);
        if (it == lines_.end())
            return EINVAL;
        const int v = gpiod_line_get_value(it->second);
        if (v < 0)
            return errno;
        value = v != 0;
        return 0;
    }

    void Release() override
    {
        for (auto& [number, l] : lines_)
            gpiod_line_release(l);
        lines_.clear();
        if (chip_)
            gpiod_chip_close(chip_);
        chip_ = nullptr;
    }

private:
    template <class Do>
    int Request(unsigned line, Do request)
    {
        if (!chip_)
            return ENODEV;
        errno = 0;
        gpiod_line* l = gpiod_chip_get_line(chip_, line);
        if (!l)
            return errno ? errno : EINVAL;
        if (request(l) < 0)
            return errno ? errno : EBUSY;
        lines_[line] = l;
        return 0;
    }

    gpiod_chip* chip_ = nullptr;
    std::map<unsigned, gpiod_line*> lines_;
};

} // namespace

std::unique_ptr<GpioSystem> MakeLibGpiodSystem() { return std::make_unique<LibGpiodSystem>(); }

} // namespace qvx
