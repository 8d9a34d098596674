// libFuzzer target for the reader of the ArduinoISP sketch's replies. The
// first byte says how many replies are expected (up to 16), the next ones
// how many answer bytes each carries (0 to 3); the rest comes in pieces of
// the sizes the following bytes give. The reader must take exactly the
// bytes of well-formed replies (14h, the answer bytes, 10h) and stop at the
// first byte that does not fit, never reading past what it was given.
#include "Stk500.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const size_t count = data[0] % 17;
    if (size < 1 + count)
        return 0;
    qvx::Stk500Replies replies;
    std::vector<size_t> lengths;
    for (size_t i = 0; i < count; ++i)
        replies.Expect(lengths.emplace_back(data[1 + i] % 4));
    const uint8_t* rest = data + 1 + count;
    size_t left = size - 1 - count, taken = 0;
    bool ok = true;
    while (left > 0 && ok) {
        const size_t piece = std::min<size_t>(left, 1 + rest[0] % 7);
        ok = replies.Take({rest, piece});
        taken += piece, rest += piece, left -= piece;
    }
    // What was taken as good replies must be exactly their bytes, in order.
    const uint8_t* fed = data + 1 + count;
    size_t at = 0, answer = 0;
    for (size_t r = 0; r < replies.Completed(); ++r) {
        if (fed[at++] != 0x14)
            std::abort();
        for (size_t k = 0; k < lengths[r]; ++k)
            if (fed[at++] != replies.Answers()[answer++])
                std::abort();
        if (fed[at++] != 0x10)
            std::abort();
    }
    if (at > taken || answer != replies.Answers().size() || replies.Completed() + replies.Pending() != count)
        std::abort();
    if (ok != replies.Error().empty())
        std::abort();
    return 0;
}
