#include "Stk500.h"

#include <cstdio>

namespace qvx {

namespace {

std::string Named(uint8_t byte)
{
    char text[48];
    const char* meaning = byte == stk500::NoSync    ? " (not in sync)"
                          : byte == stk500::Unknown ? " (unknown command)"
                                                    : "";
    std::snprintf(text, sizeof text, "%02Xh%s", unsigned(byte), meaning);
    return text;
}

} // namespace

size_t Stk500Replies::BytesDue() const
{
    size_t due = 0;
    for (size_t n : expected_)
        due += n + 2;
    return due - at_;
}

bool Stk500Replies::Take(std::span<const uint8_t> bytes)
{
    for (uint8_t byte : bytes) {
        if (!error_.empty())
            return false;
        if (expected_.empty()) {
            error_ = Named(byte) + " when no answer was due";
            return false;
        }
        const size_t answerBytes = expected_.front();
        if (at_ == 0 && byte != stk500::InSync) {
            error_ = Named(byte) + " where 14h belongs";
            return false;
        }
        if (at_ > 0 && at_ <= answerBytes)
            partial_.push_back(byte);
        if (at_ == answerBytes + 1) {
            if (byte != stk500::Ok) {
                error_ = Named(byte) + " where 10h belongs";
                return false;
            }
            answers_.insert(answers_.end(), partial_.begin(), partial_.end());
            partial_.clear();
            expected_.pop_front();
            ++completed_;
            at_ = 0;
            continue;
        }
        ++at_;
    }
    return error_.empty();
}

} // namespace qvx
