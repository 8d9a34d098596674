// A front end of the command layer for tests: records the status texts,
// messages and log lines it is shown, with hooks into the moments a status
// text is shown or the progress moves.
#pragma once

#include "CommandView.h"

#include <functional>
#include <string>
#include <vector>

namespace qvx::test {

class RecordingView : public CommandView {
public:
    void ShowStatus(const std::string& text) override
    {
        statuses.push_back(text);
        if (onStatus)
            onStatus(text);
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void WriteLog(const std::string& line) override { log.push_back(line); }
    void SetProgress(int32_t position) override
    {
        if (onProgress)
            onProgress(position);
    }
    void Beep() override { ++beeps; }
    // The wrong-chip question is answered with `answer`; what was asked is kept.
    WrongChipChoice AskWrongChip(const std::string& question, const Device* found) override
    {
        questions.push_back(question);
        foundAsked = found;
        return answer;
    }
    void DeviceSelected(const Device& device) override { selected = &device; }

    // The log lines without their time of day.
    std::vector<std::string> LogTexts() const
    {
        std::vector<std::string> texts;
        for (const std::string& line : log)
            texts.push_back(line.substr(9));
        return texts;
    }
    // Whether a log line holds `part`.
    bool Logged(const std::string& part) const
    {
        for (const std::string& line : log)
            if (line.find(part) != std::string::npos)
                return true;
        return false;
    }

    std::vector<std::string> statuses, messages, log;
    int beeps = 0;
    std::function<void(const std::string&)> onStatus;
    std::function<void(int32_t)> onProgress;
    WrongChipChoice answer = WrongChipChoice::Cancel;
    std::vector<std::string> questions;
    const Device* foundAsked = nullptr;
    const Device* selected = nullptr;
};

} // namespace qvx::test
