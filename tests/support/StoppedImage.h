// The chip's code after a programming run that was stopped part way.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qvx::test {

// `image` holds `code` from address 0 up to where the run stopped, short of
// the code's end, and is erased (FF) from there to its own end. Returns the
// number of bytes programmed.
inline size_t ExpectProgrammedUpToAStop(const std::vector<uint8_t>& image, const std::vector<uint8_t>& code)
{
    size_t done = 0;
    while (done < code.size() && done < image.size() && image[done] == code[done])
        ++done;
    EXPECT_LT(done, code.size()) << "the run was not stopped";
    for (size_t a = done; a < image.size(); ++a)
        if (image[a] != 0xFF) {
            ADD_FAILURE() << "a byte written after the stop, at " << a;
            break;
        }
    return done;
}

inline size_t ExpectProgrammedUpToAStop(const std::string& image, const std::vector<uint8_t>& code)
{
    return ExpectProgrammedUpToAStop(std::vector<uint8_t>(image.begin(), image.end()), code);
}

} // namespace qvx::test
