// A front panel for tests: records what the programmer code shows and
// enables, keeps the check boxes through the real lock rules, and answers
// the options and the reload hook from its fields.
#pragma once

#include "FrontPanel.h"
#include "LockRules.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace qvx::test {

class RecordingPanel : public FrontPanel {
public:
    void SetStatus(const std::string& text) override
    {
        statuses.push_back(text);
        events.push_back("status:" + text);
    }
    void ProcessMessages() override
    {
        ++processed;
        events.push_back("process");
    }
    void ShowMessage(const std::string& text) override
    {
        messages.push_back(text);
        events.push_back("message:" + text);
    }
    void Log(const std::string& text) override { logs.push_back(text); }
    void SetControlEnabled(ChipControl control, bool enabled) override
    {
        enabled_[control] = enabled;
        events.push_back(std::string(enabled ? "enable:" : "disable:") + std::to_string(int(control)));
    }
    void SetModeChecks(bool programModeChecked) override
    {
        modeChecks = programModeChecked ? "program" : "run";
        events.push_back("checks:" + modeChecks);
    }
    void SetProgress(int32_t position) override
    {
        progress = position;
        progressHistory.push_back(position);
    }
    void SetLockBox(int n, bool checked) override { qvx::SetLockBox(locks, n, checked); }
    bool LockBox(int n) const override { return locks.Box(n); }
    void SetX2Clock(bool checked) override { x2Clock = checked; }
    bool X2Clock() const override { return x2Clock; }
    void ShowBuffer() override
    {
        ++redraws;
        events.push_back("showbuffer");
    }
    bool AutoReload() const override { return autoReload; }
    std::optional<int32_t> ReloadHexFile() override
    {
        ++reloads;
        return reload ? reload() : std::optional<int32_t>(0);
    }

    // Enabled state of a control; controls never touched read as enabled,
    // as at start-up.
    bool Enabled(ChipControl control) const
    {
        auto it = enabled_.find(control);
        return it == enabled_.end() || it->second;
    }

    std::vector<std::string> statuses, messages, events, logs;
    std::vector<int32_t> progressHistory;
    int processed = 0, redraws = 0, reloads = 0;
    int32_t progress = 0;
    std::string modeChecks = "program";
    LockBoxes locks;
    bool x2Clock = false;
    bool autoReload = false;
    std::function<std::optional<int32_t>()> reload;

private:
    std::map<ChipControl, bool> enabled_;
};

} // namespace qvx::test
