// What the programmer code needs from the main window, as one small
// interface: the window implements it, tests fake it with a recorder.
// Nothing here depends on Qt.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qvx {

// The chip-operation controls, in the order in which the mode switch enables
// them.
enum class ChipControl {
    LoadFile,     // btnLoadFile
    Erase,        // btnErase
    Blank,        // btnBlank
    Program,      // btnProgram
    Verify,       // btnVerify
    Auto,         // btnAuto
    LockKey,      // SpeedButton1
    ReadChipMenu, // ReadChip1
    ReadChip,     // btnReadChip
    FuseWrite,    // btnFuse_Write
};

class FrontPanel {
public:
    virtual ~FrontPanel() = default;

    // The status field edtStatus: the text replaces the whole field.
    virtual void SetStatus(const std::string& text) = 0;
    // Lets pending window messages (input, painting) be handled once.
    virtual void ProcessMessages() = 0;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string& text) = 0;
    // One line in the operation log, shown nowhere else.
    virtual void Log(const std::string& text) = 0;
    virtual void SetControlEnabled(ChipControl control, bool enabled) = 0;
    // The check marks of the "Program Mode" and "RUN Mode" menu items.
    virtual void SetModeChecks(bool programModeChecked) = 0;

    // ProgressBar1, 0 to 100.
    virtual void SetProgress(int32_t position) = 0;

    // Lock check boxes 1 to 3. Setting a box to a new state runs its click
    // rule, which may change the other boxes and the lock level; setting it
    // to the state it has does nothing.
    virtual void SetLockBox(int n, bool checked) = 0;
    virtual bool LockBox(int n) const = 0;

    // The "x2 Clock" check box.
    virtual void SetX2Clock(bool checked) = 0;
    virtual bool X2Clock() const = 0;

    // Redraws the hex view from the code buffer.
    virtual void ShowBuffer() = 0;

    // The "Auto Reload File" option.
    virtual bool AutoReload() const = 0;
    // Reloads the remembered HEX file into the code buffer. Returns the end
    // address (0 when the file holds no data), or nothing when the reload
    // could not run (no file name, unreadable or invalid file; the reason has
    // been shown already).
    virtual std::optional<int32_t> ReloadHexFile() = 0;
};

} // namespace qvx
