// libFuzzer target for the simulated chip's state files: the text file
// beside the image with its code image, and the commit record of a save.
// First byte: the device; second byte: what the rest is. Whatever the
// bytes, the reader stays within them and either refuses with a message,
// leaving the chip as it was, or takes exactly what the files say: the text
// written back from the loaded chip reads back to the same chip.
#include "StateFile.h"

#include <cstdlib>
#include <string>

namespace {

const std::string kImage = "/nowhere/chip.bin";

void StatePair(const qvx::sim::Device& device, uint8_t flags, const std::string& rest)
{
    qvx::sim::Chip chip(device);
    chip.PresetCode(0, 0x3C); // so that a refused load visibly changed nothing
    std::optional<std::string> image, text;
    if (flags & 1) {
        // Either the rest's bytes as they stand, or a whole image made of them.
        image = rest;
        if ((flags & 4) && !rest.empty()) {
            image->clear();
            while (image->size() < device.codeSize)
                *image += rest;
            image->resize(device.codeSize);
        }
    }
    if (flags & 2)
        text = rest;
    std::string error;
    if (!qvx::sim::ParseState(chip, image, text, kImage, error)) {
        if (error.empty() || chip.CodeByte(0) != 0x3C || chip.LockBit(1))
            std::abort();
        return;
    }
    if (image && std::string(chip.Code().begin(), chip.Code().end()) != *image)
        std::abort();
    // What a save would write, read back into a fresh chip, is the same chip.
    const std::string saved = qvx::sim::FormatStateText(chip, kImage);
    qvx::sim::Chip again(device);
    if (!qvx::sim::ParseState(again, std::string(chip.Code().begin(), chip.Code().end()), saved, kImage, error))
        std::abort();
    for (int n = 1; n <= 3; ++n)
        if (again.LockBit(n) != chip.LockBit(n))
            std::abort();
    if (again.UserFuse() != chip.UserFuse() || again.Data() != chip.Data() || again.Code() != chip.Code())
        std::abort();
}

void CommitRecord(const std::string& rest)
{
    std::vector<qvx::sim::CommitEntry> entries;
    std::string error;
    if (!qvx::sim::ParseCommitRecord(rest, kImage, entries, error)) {
        if (error.empty())
            std::abort();
        return;
    }
    // Only this chip's two files, each at most once, from their own
    // temporaries in their own folder.
    if (entries.empty() || entries.size() > 2)
        std::abort();
    for (const auto& e : entries) {
        if (e.target != "chip.bin" && e.target != "chip.bin.txt")
            std::abort();
        if (e.temporary.rfind(e.target + ".new-", 0) != 0 || e.temporary.find('/') != std::string::npos)
            std::abort();
    }
    if (entries.size() == 2 && entries[0].target == entries[1].target)
        std::abort();
    std::vector<qvx::sim::CommitEntry> again;
    if (!qvx::sim::ParseCommitRecord(qvx::sim::FormatCommitRecord(entries), kImage, again, error) ||
        again.size() != entries.size())
        std::abort();
    for (size_t i = 0; i < again.size(); ++i)
        if (again[i].temporary != entries[i].temporary || again[i].size != entries[i].size ||
            again[i].hash != entries[i].hash)
            std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const auto devices = qvx::sim::Devices();
    const qvx::sim::Device& device = devices[data[0] % devices.size()];
    const std::string rest(reinterpret_cast<const char*>(data) + 2, size - 2);
    if (data[1] & 8)
        CommitRecord(rest);
    else
        StatePair(device, data[1], rest);
    return 0;
}
