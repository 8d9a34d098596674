// The main window's chip commands: erase, blank check, verify, program,
// auto-program, read chip, the key button's lock write and the fuse write.
// Each chooses the variant of its chip operations from the device catalogue
// and reports in the status field. One command runs at a time; an operation
// the target refuses ends its command.
#include "ISP_S8252.h"
#include "Mode.h"

#include <QAction>
#include <QApplication>

namespace qvx {

namespace {

const char kNoDevice[] = "No device selected";

bool ThreeByte(const ChipSession& s) { return s.Chip.Set == InstructionSet::ThreeByte; }

OpResult Erase(ChipSession& s) { return ThreeByte(s) ? EraseChip3(s) : EraseChip4(s); }

OpResult Program(ChipSession& s)
{
    return ThreeByte(s) ? ProgramCode3(s, s.Chip.LastAddress) : ProgramCode4(s, s.Chip.LastAddress);
}

CheckResult Verify(ChipSession& s)
{
    return ThreeByte(s) ? VerifyCode3(s, s.Chip.LastAddress) : VerifyCode4(s, s.Chip.LastAddress);
}

CheckResult Blank(ChipSession& s)
{
    return ThreeByte(s) ? BlankCheck3(s, s.Chip.LastAddress) : BlankCheck4(s, s.Chip.LastAddress);
}

// Code memory into the buffer, then the lock bits and fuse the device can
// tell about into their boxes.
OpResult ReadChip(ChipSession& s)
{
    if (ThreeByte(s))
        return ReadCode3(s, s.Chip.LastAddress);
    const OpResult code = ReadCode4(s, s.Chip.LastAddress);
    if (code == OpResult::Refused)
        return code;
    switch (s.Chip.ReadBack) {
    case ReadBackKind::LockBits:
        ReadLockBits(s, 1);
        break;
    case ReadBackKind::LockBitsAndFuse:
        if (ReadLockBitsActiveLow(s) == OpResult::Refused)
            return OpResult::Refused;
        return ReadFuses(s) == OpResult::Refused ? OpResult::Refused : code;
    case ReadBackKind::None:
        break;
    }
    return s.Link.Refused ? OpResult::Refused : code;
}

} // namespace

bool TfrmMain::StartCommand(bool needsDevice)
{
    if (busy_)
        return false; // ignored, not queued
    if (needsDevice && !selection_.SelectedDevice()) {
        SetStatus(kNoDevice);
        return false;
    }
    busy_ = true;
    qvx::BeginCommand(link_);
    return true;
}

void TfrmMain::FinishCommand()
{
    busy_ = false;
    if (closePending_) // the window was closed meanwhile: close it now
        close();
}

ChipSession TfrmMain::Session() { return {link_, *buffer_, *selection_.SelectedDevice()}; }

bool TfrmMain::Refused(OpResult result)
{
    if (result != OpResult::Refused)
        return false;
    SetStatus(kNotInProgramMode);
    return true;
}

bool TfrmMain::FuseWritten(OpResult result)
{
    if (Refused(result))
        return false;
    if (result != OpResult::Completed) {
        SetStatus("Fuse write failed"); // the operation's message has said what did not complete
        return false;
    }
    return true;
}

bool TfrmMain::WriteLock()
{
    ChipSession s = Session();
    OpResult result = OpResult::Completed;
    switch (s.Chip.LockWrite) {
    case LockWriteKind::ThreeByte: result = WriteLockBits3(s, selection_.Locks.LockLevel); break;
    case LockWriteKind::Stepwise: result = WriteLockBitsStepwise(s, selection_.Locks.LockLevel); break;
    case LockWriteKind::FourByte: result = WriteLockBits4(s, selection_.Locks.LockLevel); break;
    }
    if (Refused(result))
        return false;
    if (result == OpResult::Failed) {
        SetStatus("Lock bit write failed"); // the time-out message has named the step
        return false;
    }
    // The level as the boxes show it now: the stepwise write's read-backs
    // may have changed them.
    SetStatus("Lock bit level " + std::to_string(selection_.Locks.LockLevel));
    return true;
}

void TfrmMain::RunCheckedCommand(const std::string& starting,
                                 const std::function<OpResult(ChipSession&, std::string& finished)>& operation)
{
    if (!StartCommand(true))
        return;
    SetStatus(starting);
    ProcessMessages();
    ChipSession s = Session();
    std::string finished;
    if (!Refused(operation(s, finished))) {
        SetOperationMode(link_, true, FuseDevice());
        SetStatus(finished);
    }
    FinishCommand();
}

void TfrmMain::btnEraseClick()
{
    RunCheckedCommand("Erase Chip...", [](ChipSession& s, std::string& finished) {
        const OpResult erased = Erase(s);
        finished = erased == OpResult::Completed ? "Erase finished." : "Erase failed";
        return erased;
    });
}

void TfrmMain::btnBlankClick()
{
    RunCheckedCommand("Blank Check...", [](ChipSession& s, std::string& finished) {
        const CheckResult blank = Blank(s);
        finished = blank.Passed ? "Blank chip [OK]" : "Not blank chip!!!";
        return blank.Result;
    });
}

void TfrmMain::btnVerifyClick()
{
    RunCheckedCommand("Verify Code...", [](ChipSession& s, std::string& finished) {
        const CheckResult verify = Verify(s);
        finished = verify.Passed ? "Verify complete." : "Verify not match";
        return verify.Result;
    });
}

void TfrmMain::btnProgramClick()
{
    if (!StartCommand(true))
        return;
    SetStatus("Programming...");
    ProcessMessages();
    ChipSession s = Session();
    const OpResult programmed = Program(s);
    if (Refused(programmed)) {
        // ended at the refusal
    } else if (programmed == OpResult::ReloadFailed) {
        SetStatus("Load file failed."); // the chip was not touched
    } else if (programmed != OpResult::Completed) {
        SetStatus("Programming Time-Out");
    } else {
        SetStatus("Program finished.");
        ProcessMessages();
        const bool fuseDone = !s.Chip.HasFuse || FuseWritten(WriteFuses(s));
        if (fuseDone && selection_.Locks.LockLevel != 0)
            WriteLock();
    }
    FinishCommand();
}

void TfrmMain::btnAutoClick()
{
    if (!StartCommand(true))
        return;
    SetOperationMode(link_, true, FuseDevice());
    if (selection_.HexFileName.empty()) {
        SetStatus("File name does't indentify!!!.");
        FinishCommand();
        return;
    }
    ChipSession s = Session();
    bool success = false;
    auto fail = [&] {
        SetStatus("Auto programming fail");
        FinishCommand();
    };
    // A file that cannot be loaded, or holds no data, stops the sequence
    // before the chip is erased rather than after.
    if (AutoReload()) {
        const std::optional<int32_t> end = ReloadHexFile();
        if (!end || *end == 0)
            return fail();
    }

    SetStatus("Erase Chip...");
    ProcessMessages();
    const OpResult erased = Erase(s);
    if (Refused(erased) || erased != OpResult::Completed)
        return fail();
    CalibratedWait(link_, 10000); // extra margin from CONFIG.QVX: the erase has been confirmed

    SetStatus("Programming...");
    ProcessMessages();
    const OpResult programmed = Program(s);
    if (Refused(programmed) || programmed == OpResult::ReloadFailed)
        return fail();
    if (programmed != OpResult::Completed) {
        SetStatus("Programming Time-Out");
        return fail();
    }
    SetStatus("Program finished.");
    ProcessMessages();
    SetStatus("Verify code ...");
    ProcessMessages();

    const CheckResult verify = Verify(s);
    if (Refused(verify.Result))
        return fail();
    if (verify.Passed) {
        SetStatus("Verify complete.");
        ProcessMessages();
        success = true;
        if (s.Chip.HasFuse && !FuseWritten(WriteFuses(s)))
            return fail();
        if (selection_.Locks.LockLevel != 0) {
            if (!WriteLock())
                return fail();
            ProcessMessages();
        }
    } else {
        SetStatus("Verify not match");
    }
    SetStatus(success ? "Auto Programming finished." : "Auto programming fail");
    if (success && AutoRUNafterprogram1->isChecked())
        SetOperationMode(link_, false, FuseDevice());
    FinishCommand();
}

void TfrmMain::ReadChip1Click()
{
    RunCheckedCommand("Read Chip...", [](ChipSession& s, std::string& finished) {
        finished = "Read Chip finished";
        return ReadChip(s);
    });
}

void TfrmMain::SpeedButton1Click()
{
    if (!StartCommand(true))
        return;
    if (selection_.Locks.LockLevel == 0)
        SetStatus("Non Lock bit function");
    else
        WriteLock();
    FinishCommand();
}

void TfrmMain::btnFuse_WriteClick()
{
    if (!StartCommand(true))
        return;
    ChipSession s = Session();
    FuseWritten(WriteFuses(s));
    FinishCommand();
}

} // namespace qvx
