// The command sequences of the programmer, without any window: ERASE, BLANK,
// VERIFY CODE, PROGRAM, AUTO-PROGRAM, READ CHIP, the key button's lock
// write, WR, loading and saving code files. Each chooses the variant of its
// chip operations from the device catalogue, shows its status texts in a
// fixed order and ends honestly: an operation the target refused or that
// failed ends its command with a text that says so.
//
// The command layer is the front panel of the chip operations. It keeps the
// lock boxes, the "x2 Clock" box and the options in the Selection, writes
// every status text and message to the operation log and hands them on to
// its view, the front end that shows them (CommandView.h).
//
// One command runs at a time: a command started while another runs does
// nothing.
#pragma once

#include "ChipOps.h"
#include "CommandView.h"
#include "HexFile.h"
#include "Identify.h"
#include "ImageFile.h"
#include "Selection.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace qvx {

// How a command ended.
enum class Outcome {
    Succeeded,  // every step did what it should
    ChipFailed, // a chip step failed or was refused (verify not matching,
                // chip not blank, programming time-out, no answer, ...)
    FileFailed, // a file could not be read, written or parsed, or does not
                // fit the device
    NotRun,     // another command was running, no device was selected, or
                // the file dialog was cancelled
};

// The status text of a command ended by a stop request.
inline const std::string kCommandStopped = "Command stopped";
// The status text of a command ended because the port itself failed (the
// cable lost); the message has named the failure.
inline const std::string kPortFailed = "Port failed";
// The status text of a chip command refused because the cable cannot
// program the selected device; the message has said why and which can.
inline const std::string kNotForThisCable = "Not for this cable";
// The status text of a read, verify or blank check that the MISO line was
// too noisy for; the message has said what to check.
inline const std::string kNoisyLine = "Line too noisy";
// The status text of a command stopped because the chip on the cable is not
// the device selected; the log says which chip it is.
inline const std::string kWrongChip = "Wrong chip: nothing written";

class Commands : public FrontPanel {
public:
    // Asks for a file name; nothing when the user cancels.
    using FileChooser = std::function<std::optional<std::string>()>;

    // Becomes the link's front panel. All four must outlive it.
    Commands(LinkState& link, CodeBuffer& buffer, Selection& selection, CommandView& view);

    // True while a command runs.
    bool Busy() const { return busy_; }

    // The chip commands.
    Outcome Erase();
    Outcome BlankCheck();
    Outcome Verify();
    Outcome Program();
    Outcome AutoProgram();
    Outcome ReadChip();
    // The key button: the lock write at the current lock level.
    Outcome WriteLockBits();
    // WR: the user fuse from the "x2 Clock" box.
    Outcome WriteFuse();
    // "Detect Chip": enables the chip with each instruction set, reads its
    // signature, lock bits and fuses and logs them in words; a chip its
    // signature names is selected. Succeeded when a chip answered (named or
    // not: DetectedReport tells), ChipFailed with the diagnosis logged when
    // none did.
    Outcome DetectChip();
    // What the last DetectChip found.
    const DetectReport& DetectedReport() const { return detected_; }
    // The selected chip's signature checked, then its lock bits and fuses
    // read and logged in words (--info).
    Outcome ChipInfo();

    // "&Load Code": loads the file `choose` names, reports it with the
    // checksums of the device-sized image and checks its size against the
    // device. `endAddress`, when given, receives the end address of what was
    // loaded. The file is read in `format`, else in the format of its name;
    // a reload reads it the same way. When `choose` is cancelled nothing
    // changes (buffer, file name, status) and the outcome is NotRun.
    Outcome LoadCode(const FileChooser& choose, int32_t* endAddress = nullptr,
                     std::optional<ImageFormat> format = std::nullopt);
    // Asks for a file, then clears the buffer and loads it. Returns the end
    // address, 0 when cancelled (the buffer as it was), or nothing when the
    // file could not be loaded (reported in a message).
    std::optional<int32_t> LoadHexFile(const FileChooser& choose, std::optional<ImageFormat> format = std::nullopt);
    // "&Save Code As...": writes the code buffer for the selected device's
    // size to the file `choose` names, in `format`, else as Intel HEX or raw
    // binary by its name ("-": standard output).
    Outcome SaveCode(const FileChooser& choose, std::optional<ImageFormat> format = std::nullopt);

    // The data memory (AT89S8252, AT89S8253). Loading and saving need no
    // device; the chip commands refuse one without a data memory with a
    // status text. LoadData reads the file into the data buffer, with its
    // checksums in the log; a file with data beyond 07FF is refused with its
    // line. ReadData reads the chip's data memory into the buffer and
    // VerifyData compares it with the buffer, both ending in program mode.
    // ProgramData writes the buffer, after reloading the data file when
    // "Auto Reload File" asks for it: no erase, only the bytes the chip holds
    // otherwise, each confirmed. `endAddress` as for LoadCode.
    Outcome LoadData(const FileChooser& choose, std::optional<ImageFormat> format = std::nullopt,
                     int32_t* endAddress = nullptr);
    Outcome SaveData(const FileChooser& choose, std::optional<ImageFormat> format = std::nullopt);
    Outcome ReadData();
    Outcome ProgramData();
    Outcome VerifyData();
    // The data buffer (0000 to 07FF in use, the rest FF) and the path of the
    // data file last chosen for loading (empty until then).
    const CodeBuffer& DataBuffer() const { return *data_; }
    const std::string& DataFileName() const { return dataFileName_; }

    // The start of the program: the port whose data register is `dataPort`
    // selected, its program-mode lines set, the cleared code buffer shown.
    void PowerUp(uint16_t dataPort);
    // At the end of the program: the target is left running.
    void LeaveRunning();
    // At the end of the program when the user wants the target held in
    // reset: the program-mode lines.
    void StayInProgramMode();

    // One line in the operation log, shown nowhere else.
    void Log(const std::string& text) override;

    // FrontPanel, for the chip operations and the mode switch.
    void SetStatus(const std::string& text) override;
    void ProcessMessages() override;
    void ShowMessage(const std::string& text) override;
    void SetControlEnabled(ChipControl control, bool enabled) override;
    void SetModeChecks(bool programModeChecked) override;
    void SetProgress(int32_t position) override;
    void SetLockBox(int n, bool checked) override;
    bool LockBox(int n) const override;
    void SetX2Clock(bool checked) override;
    bool X2Clock() const override;
    void ShowBuffer() override;
    bool AutoReload() const override;
    std::optional<int32_t> ReloadHexFile() override;

private:
    // How a command that runs one chip operation ends, set by the operation.
    struct Ending {
        std::string Text;   // its closing status text
        bool Passed = true; // false: the command failed
        std::string Detail; // a line for the log before the closing text
        bool Checksum = false; // the buffer's checksums after the closing text
        std::string Result;    // a result line (checksums) after the closing text
    };
    using Operation = std::function<OpResult(ChipSession&, Ending&)>;

    // Starts a command: false (and nothing done) while another one runs.
    // `needsDevice`: refused with a status text when no device is selected.
    // `touchesChip`: refused with a message when the cable cannot program the
    // selected device.
    bool Start(bool needsDevice, bool touchesChip = false);
    void Finish();
    ChipSession Session();
    // Shows `starting`, runs `operation`, then (unless the target refused)
    // enters program mode and shows the operation's closing text.
    Outcome RunChecked(const std::string& starting, const Operation& operation);
    // A verify or blank check: its closing texts, and its name in the log
    // line that says where it failed.
    struct CheckTexts {
        const char* Passed;
        const char* Failed;
        const char* What;
    };
    Outcome RunCheck(const std::string& starting, CheckResult (*check)(ChipSession&), const CheckTexts& texts);
    // Ends the command's status for a refusal or stop; true when `result`
    // is one. A refusal by a target that did not answer logs what the lines
    // showed and what to check.
    bool Refused(OpResult result);
    // Before a chip command erases or writes anything: the signature read
    // and judged against the selected device. Nothing when the command goes
    // on (as the device selected now, which may be the chip found);
    // otherwise how it ends, its status shown.
    std::optional<Outcome> CheckChip();
    // The same before programming: when the chip found was selected, the
    // code is prepared again for it (see PrepareCode).
    std::optional<Outcome> CheckChipFor(const std::string& reloadFailedStatus);
    // Selects the chip found, as the Device menu does.
    void SelectFound(const Device& chip);
    // The fuse write that follows programming on a fuse device; false when
    // it failed (and said so).
    bool FuseAfterProgramming(ChipSession& s);
    // The lock write of the selected device at the lock level, then its
    // status text. False when it failed (and said so).
    bool WriteLock();
    // Clears the buffer and loads `path`, the file name from now on.
    std::optional<int32_t> LoadChosenFile(const std::string& path, std::optional<ImageFormat> format);
    // Reports a code file that could not be loaded; returns nothing.
    std::optional<int32_t> LoadFailed(const std::string& path, const HexResult& result);
    // The checksums of the device-sized image in the log.
    void LogChecksum();
    // Before PROGRAM and AUTO-PROGRAM touch the chip: the file reloaded when
    // "Auto Reload File" asks for it, and the code checked against the end
    // of `chip`. Nothing when the code is ready; otherwise how the command
    // ends, with its message and status text shown (`reloadFailedStatus`
    // when the file could not be reloaded or held no code).
    std::optional<Outcome> PrepareCode(const Device& chip, const std::string& reloadFailedStatus);
    // The data memory: false (and, unless another command runs, a status
    // text) when the selected device has none.
    bool DataDevice();
    bool DataDeviceFound();
    ChipSession DataSession();
    // The data memory's two steps of AUTO-PROGRAM: programmed, verified.
    bool ProgramAndVerifyData();
    // Clears the data buffer and loads `path` into it, the data file name
    // from now on; the end address, or nothing when it could not be loaded
    // (reported).
    std::optional<int32_t> LoadDataFile(const std::string& path, std::optional<ImageFormat> format);
    // Before the data memory is programmed: the data file reloaded when
    // "Auto Reload File" asks for it. Nothing when ready; otherwise how the
    // command ends, its message and `failedStatus` shown.
    std::optional<Outcome> PrepareData(const std::string& failedStatus);
    // "Checksum AT89S8252 data image 0000-07FF: ...".
    std::string DataChecksum() const;
    // Says why a file could not be loaded into `area`.
    void ReportLoadFailure(const std::string& path, const HexResult& result, const MemoryArea& area);
    // One line of the operation log.
    void WriteLog(LogKind kind, std::string_view prefix, const std::string& text);

    LinkState& link_;
    CodeBuffer& buffer_;
    Selection& selection_;
    CommandView& view_;
    bool busy_ = false;
    // The running command has reloaded the file itself: the programming
    // does not reload it again.
    bool reloaded_ = false;
    // The buffer holds what a code file brought (not what a chip read).
    bool codeFromFile_ = false;
    // The format the code file was loaded in (nothing: by its name).
    std::optional<ImageFormat> fileFormat_;
    // The message just shown, until the next log line.
    std::string lastMessage_;
    // The data memory's buffer, its file and the format it was loaded in.
    std::unique_ptr<CodeBuffer> data_;
    std::string dataFileName_;
    std::optional<ImageFormat> dataFormat_;
    // The log has said that the selected three-byte part cannot be checked.
    const Device* uncheckedSaid_ = nullptr;
    DetectReport detected_;
};

// "Checksum AT89S52 image 0000-1FFF: sum 3A7F, CRC-32 1C291CA3": the
// checksums of the first `size` bytes of the buffer, as the log gives them.
std::string ChecksumLine(const std::string& deviceName, const CodeBuffer& buffer, int32_t size);

// Where a verify or blank check failed, as a line for the operation log:
// "Verify failed at 1A2F: expected 5C, read FF" (`what` = "Verify").
std::string CheckFailure(const std::string& what, const CheckResult& result);

} // namespace qvx
