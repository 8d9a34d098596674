// The command layer with a front end that records what it is shown; the
// test puts the link on a port of its choice.
#pragma once

#include "BufferBytes.h"
#include "Commands.h"
#include "RecordingView.h"

#include <memory>
#include <vector>

namespace qvx::test {

struct CommandBench {
    CommandBench()
    {
        link.WaitUnits = 0;
        ClearBuffer(*buffer);
        selection.AutoReload = false; // the buffer as it stands is programmed
    }
    void Put(int32_t address, uint8_t byte) { PutByte(*buffer, address, byte); }
    void Load(const std::vector<uint8_t>& image) { LoadImage(*buffer, image); }
    // Random bytes in the first `size` bytes of the buffer; returns what a
    // chip of `chipSize` bytes holds once they are programmed (FF beyond).
    std::vector<uint8_t> Fill(size_t size, uint32_t seed, size_t chipSize)
    {
        std::vector<uint8_t> image = RandomBytes(size, seed);
        LoadImage(*buffer, image);
        image.resize(chipSize, 0xFF);
        return image;
    }
    int32_t Byte(int32_t address) const { return ByteAt(*buffer, address); }

    LinkState link;
    std::unique_ptr<CodeBuffer> buffer = std::make_unique<CodeBuffer>();
    Selection selection;
    RecordingView view;
    Commands commands{link, *buffer, selection, view};
};

} // namespace qvx::test
