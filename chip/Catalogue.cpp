#include "Catalogue.h"

namespace qvx {

namespace {
using E = EnableJudgement;
using I = InstructionSet;
using L = LockWriteKind;
using R = ReadBackKind;

constexpr Device kDevices[] = {
    //  code  name          last    set          enable              lock write   read-back           fuse
    {0, "AT89S51", 0x0FFF, I::FourByte, E::AnswerCompared, L::Stepwise, R::LockBits, false},
    {1, "AT89S52", 0x1FFF, I::FourByte, E::AnswerCompared, L::Stepwise, R::LockBits, false},
    {2, "AT89S53", 0x2FFF, I::ThreeByte, E::AnswerIgnored, L::ThreeByte, R::None, false},
    {3, "AT89S8252", 0x1FFF, I::ThreeByte, E::AnswerIgnored, L::ThreeByte, R::None, false},
    {4, "AT89S8253", 0x2FFF, I::FourByte, E::AnswerIgnored, L::FourByte, R::LockBitsAndFuse, true},
    {5, "AT89S2051", 0x07FF, I::FourByte, E::AnswerIgnored, L::FourByte, R::LockBitsAndFuse, true},
    {6, "AT89S4051", 0x0FFF, I::FourByte, E::AnswerIgnored, L::FourByte, R::LockBitsAndFuse, true},
};
} // namespace

std::span<const Device> Devices() { return kDevices; }

const Device* FindDevice(int32_t deviceCode)
{
    if (deviceCode < 0 || deviceCode >= static_cast<int32_t>(std::size(kDevices)))
        return nullptr;
    return &kDevices[deviceCode];
}

int32_t DeviceCodeByName(std::string_view name)
{
    for (const Device& device : kDevices)
        if (device.Name == name)
            return device.Code;
    return -1;
}

} // namespace qvx
