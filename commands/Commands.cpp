#include "Commands.h"
#include "Instructions.h"
#include "ImageFile.h"
#include "Mode.h"
#include "OperationLog.h"

#include <cstdio>

namespace qvx {

namespace {

const char kNoDevice[] = "No device selected";

std::string Hex4(int32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04X", unsigned(value) & 0xFFFFu);
    return text;
}

// A code file as a message names it: "the file X", or standard input or
// output for "-"; with a capital at the start of a sentence.
std::string FileToRead(const std::string& path, bool capital = false)
{
    if (path == kStandardStream)
        return capital ? "Standard input" : "standard input";
    return (capital ? "The file " : "the file ") + path;
}
std::string FileToWrite(const std::string& path)
{
    return path == kStandardStream ? "standard output" : "the file " + path;
}

bool ThreeByte(const ChipSession& s) { return s.Chip.Set == InstructionSet::ThreeByte; }

OpResult EraseOf(ChipSession& s) { return ThreeByte(s) ? EraseChip3(s) : EraseChip4(s); }

OpResult ProgramOf(ChipSession& s)
{
    return ThreeByte(s) ? ProgramCode3(s, s.Chip.LastAddress) : ProgramCode4(s, s.Chip.LastAddress);
}

CheckResult VerifyOf(ChipSession& s)
{
    return ThreeByte(s) ? VerifyCode3(s, s.Chip.LastAddress) : VerifyCode4(s, s.Chip.LastAddress);
}

CheckResult BlankOf(ChipSession& s)
{
    return ThreeByte(s) ? BlankCheck3(s, s.Chip.LastAddress) : BlankCheck4(s, s.Chip.LastAddress);
}

// Code memory into the buffer, then the lock bits and fuse the device can
// tell about into their boxes.
OpResult ReadOf(ChipSession& s)
{
    if (ThreeByte(s))
        return ReadCode3(s, s.Chip.LastAddress);
    const OpResult code = ReadCode4(s, s.Chip.LastAddress);
    if (code != OpResult::Completed)
        return code; // refused, or the line too noisy for the lock bits and fuse too
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

// After a byte that did not take its write: the chip's lock bits when it
// can tell them, and what to do.
std::string EraseFirstAdvice(ChipSession& s)
{
    if (s.Chip.ReadBack != ReadBackKind::None && !s.Link.Refused) {
        const ChipState state = ReadChipState(s);
        if (state.LockBits && (*state.LockBits & 1))
            return "The chip's lock bits read " + LockBitsWords(*state.LockBits) +
                   ": a locked chip takes no writes. Erase it first (ERASE clears the lock bits with the code), "
                   "then program.";
    }
    return "A byte did not take its write in time. A chip that was not erased keeps the bits it has, and a "
           "locked one takes no writes: erase it first (ERASE, or AUTO-PROGRAM, which erases), then program.";
}

} // namespace

std::string ChecksumLine(const std::string& deviceName, const CodeBuffer& buffer, int32_t size)
{
    const ImageChecksum checksum = ChecksumOf(buffer, size);
    char text[96];
    std::snprintf(text, sizeof text, " image 0000-%04X: sum %04X, CRC-32 %08X", unsigned(size - 1) & 0xFFFFu,
                  unsigned(checksum.Sum), unsigned(checksum.Crc32));
    return "Checksum " + deviceName + text;
}

std::string CheckFailure(const std::string& what, const CheckResult& result)
{
    char text[64];
    std::snprintf(text, sizeof text, " failed at %04X: expected %02X, read %02X", unsigned(result.FailedAddress),
                  unsigned(result.Expected), unsigned(result.Read));
    return what + text;
}

Commands::Commands(LinkState& link, CodeBuffer& buffer, Selection& selection, CommandView& view)
    : link_(link), buffer_(buffer), selection_(selection), view_(view), data_(std::make_unique<CodeBuffer>())
{
    link_.Panel = this;
    ClearBuffer(*data_);
}

bool Commands::Start(bool needsDevice, bool touchesChip)
{
    if (busy_)
        return false; // ignored, not queued
    const Device* device = selection_.SelectedDevice();
    if (needsDevice && !device) {
        SetStatus(kNoDevice);
        return false;
    }
    // A cable whose firmware clocks the chip may not suit it: refused before
    // anything reaches the chip.
    if (touchesChip && link_.Port) {
        if (const std::string refusal = link_.Port->TargetRefusal(NeedsOf(link_, *device)); !refusal.empty()) {
            ShowMessage(refusal);
            SetStatus(kNotForThisCable);
            return false;
        }
    }
    busy_ = true;
    BeginCommand(link_);
    return true;
}

void Commands::Finish()
{
    busy_ = false;
    reloaded_ = false;
    view_.CommandEnded();
}

ChipSession Commands::Session() { return {link_, buffer_, *selection_.SelectedDevice()}; }

bool Commands::Refused(OpResult result)
{
    if (result != OpResult::Refused)
        return false;
    SetStatus(link_.StopRequested                 ? kCommandStopped
              : !link_.Port->Failure().empty() ? kPortFailed
                                                : kNotInProgramMode);
    if (!link_.StopRequested && link_.Port->Failure().empty())
        if (const std::string why = NoAnswerDiagnosis(link_); !why.empty())
            Log(why);
    return true;
}

std::optional<Outcome> Commands::CheckChipFor(const std::string& reloadFailedStatus)
{
    const Device* before = selection_.SelectedDevice();
    if (const std::optional<Outcome> stopped = CheckChip())
        return stopped;
    // The chip found selected: its size is what the code must fit.
    if (selection_.SelectedDevice() != before)
        return PrepareCode(*selection_.SelectedDevice(), reloadFailedStatus);
    return std::nullopt;
}

void Commands::SelectFound(const Device& chip)
{
    selection_.DeviceCode = chip.Code;
    view_.DeviceSelected(chip);
    Log("Selected the " + std::string(chip.Name) + ", the chip found");
}

std::optional<Outcome> Commands::CheckChip()
{
    ChipSession s = Session();
    const Device& selected = s.Chip;
    const std::string name(selected.Name);
    if (selected.Signature.Length == 0) {
        // Said once for each device selected, not before every command.
        if (uncheckedSaid_ != &selected)
            WriteLog(LogKind::Status, "", "The " + name + " has no serial signature: the chip on the cable cannot be checked against it");
        uncheckedSaid_ = &selected;
        return std::nullopt;
    }
    const SignatureRead read = ReadSignature(s);
    if (Refused(read.Result))
        return Outcome::ChipFailed;
    if (read.Result != OpResult::Completed) {
        // The command's own reads judge the line again, and stop it if
        // they cannot settle either.
        Log("The signature did not read the same often enough to be taken: the line from the chip (MISO) is "
            "noisy. The chip is not checked against the " + name + ".");
        return std::nullopt;
    }
    const std::string signature = "Signature " + HexBytes(read.Bytes);
    if (!read.Readable()) {
        Log(signature + ": not readable. An AT89S51 or AT89S52 in lock mode 3 or 4 hides its signature, and a "
                        "line without a chip answering reads the same; going on as the " + name + ".");
        return std::nullopt;
    }
    if (read.Found == &selected) {
        // Shown as the status texts are: not a failure's detail.
        WriteLog(LogKind::Status, "", signature + ": " + name);
        return std::nullopt;
    }
    const std::string found = read.Found ? std::string(read.Found->Name) : std::string();
    WriteLog(LogKind::Result, "", signature + ": " + (read.Found ? found : "no device has it"));
    // The AT89S2051/4051's own values are unverified: only a verified
    // part's signature tells that another chip is there.
    if (!selected.Signature.Verified && !(read.Found && read.Found->Signature.Verified)) {
        Log("The " + name + "'s signature is unverified: going on as the " + name + ". If the chip is not an " + name +
            ", stop and choose its device.");
        return std::nullopt;
    }
    const std::string chip = read.Found ? "an " + found + " (signature " + HexBytes(read.Bytes) + ")"
                                        : "a chip whose signature " + HexBytes(read.Bytes) + " no device has";
    const std::string question = "The chip on the cable is " + chip + ", not the " + name +
                                 " selected. Nothing has been erased or written.\n" +
                                 (read.Found ? "Select the " + found + " and go on, or cancel?"
                                             : "Go on as the " + name + " anyway, or cancel?");
    switch (view_.AskWrongChip(question, read.Found)) {
    case WrongChipChoice::SelectFound:
        if (read.Found) {
            SelectFound(*read.Found);
            return std::nullopt;
        }
        break;
    case WrongChipChoice::GoOn:
        Log("Going on as the " + name + ", as asked");
        return std::nullopt;
    case WrongChipChoice::Cancel:
        break;
    }
    WriteLog(LogKind::Message, "message: ",
             "Stopped before anything was erased or written: the chip on the cable is " + chip + ", not the " + name +
                 " selected. " +
                 (read.Found ? "Choose the " + found + " (Device menu; --device " + found + " or --device auto), or "
                             : std::string("Choose the chip's device, or ")) +
                 "go on as the " + name + " with --force.");
    SetStatus(kWrongChip);
    return Outcome::ChipFailed;
}

bool Commands::FuseAfterProgramming(ChipSession& s)
{
    if (!s.Chip.HasFuse || !selection_.FuseWithProgramming)
        return true;
    const OpResult fuse = WriteFuses(s);
    if (Refused(fuse))
        return false;
    if (fuse != OpResult::Completed) {
        SetStatus("Fuse write failed"); // the operation's message has said what did not complete
        return false;
    }
    return true;
}

bool Commands::WriteLock()
{
    ChipSession s = Session();
    const int32_t level = selection_.Locks.LockLevel;
    OpResult result = OpResult::Completed;
    switch (s.Chip.LockWrite) {
    case LockWriteKind::ThreeByte: result = WriteLockBits3(s, level); break;
    case LockWriteKind::Stepwise: result = WriteLockBitsStepwise(s, level); break;
    case LockWriteKind::FourByte: result = WriteLockBits4(s, level); break;
    }
    if (Refused(result))
        return false;
    if (result != OpResult::Completed) {
        SetStatus("Lock bit write failed"); // the time-out message has named the step
        return false;
    }
    // The level as the boxes show it now: the stepwise write's read-backs
    // may have changed them.
    SetStatus("Lock bit level " + std::to_string(selection_.Locks.LockLevel));
    return true;
}

Outcome Commands::RunChecked(const std::string& starting, const Operation& operation)
{
    if (!Start(true, true))
        return Outcome::NotRun;
    SetStatus(starting);
    ProcessMessages();
    if (const std::optional<Outcome> stopped = CheckChip()) {
        Finish();
        return *stopped;
    }
    ChipSession s = Session();
    Ending ending;
    Outcome outcome = Outcome::ChipFailed;
    if (!Refused(operation(s, ending))) {
        SetOperationMode(link_, true, selection_.FuseDevice());
        if (!ending.Detail.empty())
            Log(ending.Detail);
        SetStatus(ending.Text);
        if (ending.Passed)
            outcome = Outcome::Succeeded;
        if (ending.Passed && ending.Checksum)
            LogChecksum();
        if (ending.Passed && !ending.Result.empty())
            WriteLog(LogKind::Result, "", ending.Result);
    }
    Finish();
    return outcome;
}

Outcome Commands::Erase()
{
    return RunChecked("Erase Chip...", [](ChipSession& s, Ending& ending) {
        const OpResult erased = EraseOf(s);
        ending.Passed = erased == OpResult::Completed;
        ending.Text = ending.Passed ? "Erase finished." : "Erase failed";
        return erased;
    });
}

Outcome Commands::RunCheck(const std::string& starting, CheckResult (*check)(ChipSession&), const CheckTexts& texts)
{
    return RunChecked(starting, [&](ChipSession& s, Ending& ending) {
        const CheckResult result = check(s);
        ending.Passed = result.Passed;
        ending.Text = result.Passed ? texts.Passed : result.Result == OpResult::Failed ? kNoisyLine : texts.Failed;
        if (result.FailedAddress >= 0 && result.Result == OpResult::Completed)
            ending.Detail = CheckFailure(texts.What, result);
        return result.Result;
    });
}

Outcome Commands::BlankCheck()
{
    return RunCheck("Blank Check...", BlankOf, {"Blank chip [OK]", "Not blank chip!!!", "Blank check"});
}

Outcome Commands::Verify()
{
    return RunCheck("Verify Code...", VerifyOf, {"Verify complete.", "Verify not match", "Verify"});
}

Outcome Commands::ReadChip()
{
    const Outcome outcome = RunChecked("Read Chip...", [](ChipSession& s, Ending& ending) {
        const OpResult read = ReadOf(s);
        ending.Passed = read == OpResult::Completed; // "Read chip error!!!." has been shown otherwise
        ending.Text = ending.Passed ? "Read Chip finished" : kNoisyLine;
        ending.Checksum = ending.Passed;
        // LB2 disables reading the code back: what came is not the code.
        if (ending.Passed && s.LockBitsRead > 0 && (s.LockBitsRead & 2))
            ending.Detail = "The chip's lock bits read " + LockBitsWords(uint8_t(s.LockBitsRead)) +
                            ": they keep its code from being read, so the image read is not the chip's code. "
                            "Only an erase clears them, and it erases the code too.";
        return read;
    });
    if (outcome != Outcome::NotRun)
        codeFromFile_ = false; // what the chip gave, from address 0 on
    return outcome;
}

Outcome Commands::Program()
{
    if (!Start(true, true))
        return Outcome::NotRun;
    SetStatus("Programming...");
    ProcessMessages();
    if (const std::optional<Outcome> refused = PrepareCode(*selection_.SelectedDevice(), "Load file failed.")) {
        Finish(); // the chip was not touched
        return *refused;
    }
    if (const std::optional<Outcome> stopped = CheckChipFor("Load file failed.")) {
        Finish();
        return *stopped;
    }
    ChipSession s = Session();
    Outcome outcome = Outcome::ChipFailed;
    const OpResult programmed = ProgramOf(s);
    if (Refused(programmed)) {
        // ended at the refusal
    } else if (programmed != OpResult::Completed) {
        SetStatus("Programming Time-Out");
        Log(EraseFirstAdvice(s));
    } else {
        SetStatus("Program finished.");
        ProcessMessages();
        if (FuseAfterProgramming(s) && (selection_.Locks.LockLevel == 0 || WriteLock()))
            outcome = Outcome::Succeeded;
    }
    Finish();
    return outcome;
}

Outcome Commands::AutoProgram()
{
    if (!Start(true, true))
        return Outcome::NotRun;
    SetOperationMode(link_, true, selection_.FuseDevice());
    if (selection_.HexFileName.empty()) {
        SetStatus("File name does't indentify!!!.");
        Finish();
        return Outcome::FileFailed;
    }
    auto fail = [&] {
        SetStatus("Auto programming fail");
        Finish();
        return Outcome::ChipFailed;
    };
    // A file that cannot be loaded, holds no data or does not fit the chip
    // stops the sequence before the chip is erased rather than after.
    if (const std::optional<Outcome> refused = PrepareCode(*selection_.SelectedDevice(), "Auto programming fail")) {
        Finish();
        return *refused;
    }
    // The data file loaded for the data memory goes in after the code; read
    // again now, so that it too stops the sequence before the erase.
    bool withData = selection_.DataWithAuto && !dataFileName_.empty();
    if (withData) {
        if (const std::optional<Outcome> refused = PrepareData("Auto programming fail")) {
            Finish();
            return *refused;
        }
    }

    if (selection_.EraseWithAuto) {
        SetStatus("Erase Chip...");
        ProcessMessages();
    }
    if (const std::optional<Outcome> stopped = CheckChipFor("Auto programming fail")) {
        if (stopped == Outcome::ChipFailed)
            return fail();
        Finish();
        return *stopped;
    }
    ChipSession s = Session();
    // The chip found may be another than the one the data file was for.
    if (withData && !s.Chip.HasDataMemory()) {
        Log("The " + std::string(s.Chip.Name) + " has no data memory: the data file " + dataFileName_ +
            " is not programmed");
        withData = false;
    }
    if (selection_.EraseWithAuto) {
        const OpResult erased = EraseOf(s);
        if (Refused(erased))
            return fail();
        if (erased != OpResult::Completed) {
            SetStatus("Erase failed");
            return fail();
        }
        CalibratedWait(link_, 10000); // extra margin from CONFIG.QVX: the erase has been confirmed
    } else {
        // Programming only clears bits: a byte that needs one set back times out.
        Log("Not erased first, as asked: programmed over what the chip holds");
    }

    SetStatus("Programming...");
    ProcessMessages();
    const OpResult programmed = ProgramOf(s);
    if (Refused(programmed))
        return fail();
    if (programmed != OpResult::Completed) {
        SetStatus("Programming Time-Out");
        return fail();
    }
    SetStatus("Program finished.");
    ProcessMessages();
    if (selection_.VerifyWithAuto) {
        SetStatus("Verify code ...");
        ProcessMessages();
        const CheckResult verify = VerifyOf(s);
        if (Refused(verify.Result))
            return fail();
        if (verify.Result == OpResult::Failed) {
            SetStatus(kNoisyLine); // the message has said what to check
            return fail();
        }
        if (!verify.Passed) {
            Log(CheckFailure("Verify", verify));
            SetStatus("Verify not match");
            return fail();
        }
        SetStatus("Verify complete.");
        ProcessMessages();
    } else {
        Log("Not verified, as asked: each byte was read back once as it was written");
    }
    if (withData && !ProgramAndVerifyData())
        return fail();
    if (!FuseAfterProgramming(s))
        return fail();
    if (selection_.Locks.LockLevel != 0) {
        if (!WriteLock())
            return fail();
        ProcessMessages();
    }
    SetStatus("Auto Programming finished.");
    if (selection_.AutoRun)
        SetOperationMode(link_, false, selection_.FuseDevice());
    Finish();
    return Outcome::Succeeded;
}

Outcome Commands::WriteLockBits()
{
    if (!Start(true, true))
        return Outcome::NotRun;
    Outcome outcome = Outcome::Succeeded;
    if (selection_.Locks.LockLevel == 0)
        SetStatus("Non Lock bit function");
    else if (const std::optional<Outcome> stopped = CheckChip())
        outcome = *stopped;
    else if (!WriteLock())
        outcome = Outcome::ChipFailed;
    Finish();
    return outcome;
}

Outcome Commands::WriteFuse()
{
    if (!Start(true, true))
        return Outcome::NotRun;
    if (const std::optional<Outcome> stopped = CheckChip()) {
        Finish();
        return *stopped;
    }
    ChipSession s = Session();
    Outcome outcome = Outcome::ChipFailed;
    const OpResult fuse = WriteFuses(s);
    if (Refused(fuse)) {
        // ended at the refusal
    } else if (fuse != OpResult::Completed) {
        SetStatus("Fuse write failed");
    } else {
        outcome = Outcome::Succeeded; // no status text of its own
    }
    Finish();
    return outcome;
}

// --- Data memory ----------------------------------------------------------

bool Commands::DataDevice()
{
    if (busy_)
        return false; // ignored, as every command started meanwhile
    const Device* device = selection_.SelectedDevice();
    if (!device) {
        SetStatus(kNoDevice);
        return false;
    }
    if (!device->HasDataMemory()) {
        SetStatus("The " + std::string(device->Name) + " has no data memory");
        return false;
    }
    return true;
}

// After the signature check chose another chip: one without a data memory
// stops the command before an instruction of the data memory is sent.
bool Commands::DataDeviceFound()
{
    const Device& device = *selection_.SelectedDevice();
    if (device.HasDataMemory())
        return true;
    ShowMessage("The chip found, an " + std::string(device.Name) +
                ", has no data memory (EEPROM); nothing was written to it. Put an AT89S8252 or AT89S8253 in the "
                "socket.");
    return false;
}

ChipSession Commands::DataSession()
{
    ChipSession s{link_, *data_, *selection_.SelectedDevice()};
    s.Array = MemoryArray::Data;
    return s;
}

std::string Commands::DataChecksum() const
{
    const Device* device = selection_.SelectedDevice();
    const std::string name = device && device->HasDataMemory() ? std::string(device->Name) + " data" : "data";
    return ChecksumLine(name, *data_, kDataMemory.Size);
}

std::optional<int32_t> Commands::LoadDataFile(const std::string& path, std::optional<ImageFormat> format)
{
    dataFileName_ = path;
    dataFormat_ = format;
    const HexResult result = LoadImageFile(path, *data_, format, kDataMemory);
    if (result.Status != HexStatus::CannotOpen)
        view_.ShowDataFileName(path);
    view_.ShowDataBuffer();
    if (!result.Ok()) {
        ReportLoadFailure(path, result, kDataMemory);
        return std::nullopt;
    }
    WriteLog(LogKind::Result, "", DataChecksum());
    return result.EndAddress;
}

Outcome Commands::LoadData(const FileChooser& choose, std::optional<ImageFormat> format, int32_t* endAddress)
{
    if (!Start(false))
        return Outcome::NotRun;
    Outcome outcome = Outcome::NotRun; // cancelled: nothing changes
    if (const std::optional<std::string> chosen = choose()) {
        const std::optional<int32_t> end = LoadDataFile(*chosen, format);
        SetStatus(end ? "Load data file complete." : "Load data file failed.");
        outcome = end ? Outcome::Succeeded : Outcome::FileFailed;
        if (end && endAddress)
            *endAddress = *end;
    }
    Finish();
    return outcome;
}

Outcome Commands::SaveData(const FileChooser& choose, std::optional<ImageFormat> format)
{
    if (!Start(false))
        return Outcome::NotRun;
    Outcome outcome = Outcome::NotRun;
    if (const std::optional<std::string> path = choose()) {
        const std::string error = WriteImageFile(*path, *data_, kDataMemory.Size, format);
        if (error.empty()) {
            SetStatus("Save data file complete.");
            outcome = Outcome::Succeeded;
        } else {
            ShowMessage("Cannot write " + FileToWrite(*path) + "\n" + error);
            SetStatus("Save data file failed.");
            outcome = Outcome::FileFailed;
        }
    }
    Finish();
    return outcome;
}

Outcome Commands::DetectChip()
{
    if (!Start(false))
        return Outcome::NotRun;
    SetStatus("Detect Chip...");
    ProcessMessages();
    detected_ = qvx::DetectChip(link_, buffer_);
    const std::vector<std::string> lines = DetectLines(detected_);
    Outcome outcome = Outcome::Succeeded;
    if (detected_.What == DetectReport::Kind::Nothing &&
        (link_.StopRequested || !link_.Port->Failure().empty())) {
        Refused(OpResult::Refused);
        outcome = Outcome::ChipFailed;
    } else {
        // The last line names the chip found; the status says so for a
        // chip named by its signature.
        for (size_t n = 0; n < lines.size(); ++n)
            if (n + 1 < lines.size() || !detected_.Chip)
                WriteLog(LogKind::Result, "", lines[n]);
        SetOperationMode(link_, true, selection_.FuseDevice());
        if (detected_.What == DetectReport::Kind::Nothing) {
            SetStatus(kNotInProgramMode);
            outcome = Outcome::ChipFailed;
        } else {
            if (detected_.Chip && detected_.Chip != selection_.SelectedDevice())
                SelectFound(*detected_.Chip);
            SetStatus(detected_.Chip ? "Chip found: " + std::string(detected_.Chip->Name) : "Chip found");
        }
    }
    Finish();
    return outcome;
}

Outcome Commands::ReadData()
{
    if (!DataDevice())
        return Outcome::NotRun;
    return RunChecked("Read Data Memory...", [this](ChipSession&, Ending& ending) {
        if (!DataDeviceFound()) {
            ending.Text = "Read Data Memory fail";
            return OpResult::Completed;
        }
        ChipSession d = DataSession();
        const OpResult read = ThreeByte(d) ? ReadData3(d) : ReadData4(d);
        view_.ShowDataBuffer(); // also the bytes read before an error
        ending.Passed = read == OpResult::Completed;
        ending.Text = ending.Passed ? "Read Data Memory finished" : kNoisyLine;
        if (ending.Passed)
            ending.Result = DataChecksum();
        return read;
    });
}

Outcome Commands::VerifyData()
{
    if (!DataDevice())
        return Outcome::NotRun;
    return RunChecked("Verify Data Memory...", [this](ChipSession&, Ending& ending) {
        if (!DataDeviceFound()) {
            ending.Text = "Data Memory verify not match";
            return OpResult::Completed;
        }
        ChipSession d = DataSession();
        const CheckResult result = ThreeByte(d) ? VerifyData3(d) : VerifyData4(d);
        ending.Passed = result.Passed;
        ending.Text = result.Passed                           ? "Data Memory verify complete."
                      : result.Result == OpResult::Failed ? kNoisyLine
                                                              : "Data Memory verify not match";
        if (result.FailedAddress >= 0 && result.Result == OpResult::Completed)
            ending.Detail = CheckFailure("Data memory verify", result);
        return result.Result;
    });
}

std::optional<Outcome> Commands::PrepareData(const std::string& failedStatus)
{
    if (!selection_.AutoReload || dataFileName_.empty())
        return std::nullopt;
    const std::optional<int32_t> end = LoadDataFile(dataFileName_, dataFormat_);
    if (end && *end == 0)
        ShowMessage(FileToRead(dataFileName_, true) + " holds no data; nothing was programmed.");
    if (end && *end > 0)
        return std::nullopt;
    SetStatus(failedStatus);
    return Outcome::FileFailed;
}

Outcome Commands::ProgramData()
{
    if (!DataDevice() || !Start(true, true))
        return Outcome::NotRun;
    SetStatus("Programming Data Memory...");
    ProcessMessages();
    if (const std::optional<Outcome> refused = PrepareData("Load data file failed.")) {
        Finish(); // the chip was not touched
        return *refused;
    }
    if (const std::optional<Outcome> stopped = CheckChip()) {
        Finish();
        return *stopped;
    }
    if (!DataDeviceFound()) {
        SetStatus("Data Memory programming failed");
        Finish();
        return Outcome::ChipFailed;
    }
    ChipSession d = DataSession();
    Outcome outcome = Outcome::ChipFailed;
    const OpResult programmed = ThreeByte(d) ? ProgramData3(d) : ProgramData4(d);
    if (Refused(programmed)) {
        // ended at the refusal
    } else if (programmed != OpResult::Completed) {
        SetStatus("Data Memory programming failed"); // the message has said where and what to check
    } else {
        SetStatus("Data Memory program finished.");
        outcome = Outcome::Succeeded;
    }
    Finish();
    return outcome;
}

bool Commands::ProgramAndVerifyData()
{
    SetStatus("Programming Data Memory...");
    ProcessMessages();
    ChipSession d = DataSession();
    const OpResult programmed = ThreeByte(d) ? ProgramData3(d) : ProgramData4(d);
    if (Refused(programmed))
        return false;
    if (programmed != OpResult::Completed) {
        SetStatus("Data Memory programming failed");
        return false;
    }
    SetStatus("Data Memory program finished.");
    ProcessMessages();
    SetStatus("Verify Data Memory ...");
    ProcessMessages();
    const CheckResult verify = ThreeByte(d) ? VerifyData3(d) : VerifyData4(d);
    if (Refused(verify.Result))
        return false;
    if (!verify.Passed) {
        if (verify.Result == OpResult::Completed)
            Log(CheckFailure("Data memory verify", verify));
        SetStatus(verify.Result == OpResult::Failed ? kNoisyLine : "Data Memory verify not match");
        return false;
    }
    SetStatus("Data Memory verify complete.");
    ProcessMessages();
    return true;
}

Outcome Commands::ChipInfo()
{
    return RunChecked("Read Lock Bits and Fuses...", [this](ChipSession& s, Ending& ending) {
        const ChipState state = ReadChipState(s);
        if (state.Result != OpResult::Completed)
            return state.Result;
        for (const std::string& line : ChipStateLines(s.Chip, state))
            WriteLog(LogKind::Result, "", line);
        const bool locksRead = s.Chip.ReadBack == ReadBackKind::None || state.LockBits;
        const bool fusesRead = !s.Chip.HasFuse || state.Fuses;
        ending.Passed = locksRead && fusesRead;
        ending.Text = ending.Passed ? "Lock bits and fuses read" : kNoisyLine;
        return OpResult::Completed;
    });
}

// --- Code files -----------------------------------------------------------

void Commands::ReportLoadFailure(const std::string& path, const HexResult& result, const MemoryArea& area)
{
    if (result.Status == HexStatus::CannotOpen)
        ShowMessage("Cannot open " + FileToRead(path) + "\n" + result.Error);
    else if (result.Line == 0) // a binary image, refused as a whole
        ShowMessage(FileToRead(path, true) + " does not fit " + MemoryText(area) + "; nothing was loaded.\n" +
                    result.Error + ".");
    else
        ShowMessage(FileToRead(path, true) + " is no valid Intel HEX file; nothing was loaded.\nLine " +
                    std::to_string(result.Line) + ": " + result.Error + ".");
}

std::optional<int32_t> Commands::LoadFailed(const std::string& path, const HexResult& result)
{
    ReportLoadFailure(path, result, kCodeMemory);
    ShowBuffer();
    return std::nullopt;
}

std::optional<int32_t> Commands::LoadHexFile(const FileChooser& choose, std::optional<ImageFormat> format)
{
    const std::optional<std::string> chosen = choose();
    if (!chosen)
        return 0; // cancelled: the buffer and the file name stay as they were
    return LoadChosenFile(*chosen, format);
}

std::optional<int32_t> Commands::LoadChosenFile(const std::string& path, std::optional<ImageFormat> format)
{
    ClearBuffer(buffer_);
    codeFromFile_ = false;
    selection_.HexFileName = path;
    fileFormat_ = format;
    const HexResult result = LoadImageFile(path, buffer_, format);
    if (result.Status != HexStatus::CannotOpen)
        view_.ShowFileName(path);
    if (!result.Ok())
        return LoadFailed(path, result);
    codeFromFile_ = true;
    ShowBuffer();
    return result.EndAddress;
}

Outcome Commands::LoadCode(const FileChooser& choose, int32_t* endAddress, std::optional<ImageFormat> format)
{
    if (!Start(false))
        return Outcome::NotRun;
    const std::optional<std::string> chosen = choose();
    if (!chosen) {
        // Cancelled: nothing changes, not even the status.
        Finish();
        return Outcome::NotRun;
    }
    Outcome outcome = Outcome::Succeeded;
    const std::optional<int32_t> end = LoadChosenFile(*chosen, format);
    if (!end) {
        SetStatus("Load file failed.");
        outcome = Outcome::FileFailed;
    } else {
        SetStatus("Load file complete.");
        if (codeFromFile_)
            LogChecksum();
        // Without a device there is no size to check against.
        const Device* device = selection_.SelectedDevice();
        if (device && *end > device->LastAddress + 1) {
            SetStatus("Code over MCU memory [" + std::to_string(device->LastAddress) + "]");
            view_.Beep();
            outcome = Outcome::FileFailed; // the load itself stands
        }
        if (endAddress)
            *endAddress = *end;
    }
    Finish();
    return outcome;
}

std::optional<int32_t> Commands::ReloadHexFile()
{
    ClearBuffer(buffer_);
    if (selection_.HexFileName.empty()) {
        ShowMessage("The file name does not indentify!!");
        ShowBuffer();
        return std::nullopt;
    }
    const HexResult result = LoadImageFile(selection_.HexFileName, buffer_, fileFormat_);
    if (!result.Ok())
        return LoadFailed(selection_.HexFileName, result);
    codeFromFile_ = true;
    ShowBuffer();
    LogChecksum();
    return result.EndAddress;
}

void Commands::LogChecksum()
{
    if (const Device* device = selection_.SelectedDevice())
        WriteLog(LogKind::Result, "", ChecksumLine(std::string(device->Name), buffer_, device->MemorySize()));
}

std::optional<Outcome> Commands::PrepareCode(const Device& chip, const std::string& reloadFailedStatus)
{
    if (selection_.AutoReload) {
        const std::optional<int32_t> end = ReloadHexFile();
        if (end && *end == 0)
            ShowMessage(FileToRead(selection_.HexFileName, true) + " holds no code; nothing was programmed.");
        if (!end || *end == 0) {
            SetStatus(reloadFailedStatus);
            return Outcome::FileFailed;
        }
        reloaded_ = true; // the programming takes the buffer as it is now
    }
    const int32_t last = LastCodeAddress(buffer_);
    if (last <= chip.LastAddress)
        return std::nullopt;
    // Programming would drop what lies above the chip's end and report the
    // rest as done.
    const std::string origin = codeFromFile_ && !selection_.HexFileName.empty()
                                   ? FileToRead(selection_.HexFileName, true)
                                   : std::string("The code buffer");
    ShowMessage(origin + " holds code up to address " + Hex4(last) + ", but the " + std::string(chip.Name) +
                " has " + std::to_string(chip.MemorySize()) + " bytes of code memory (0000 to " +
                Hex4(chip.LastAddress) + ").\nNothing was programmed: choose a larger device, or code that fits.");
    SetStatus("Not programmed: code over MCU memory [" + std::to_string(chip.LastAddress) + "]");
    return Outcome::FileFailed;
}

Outcome Commands::SaveCode(const FileChooser& choose, std::optional<ImageFormat> format)
{
    if (!Start(true))
        return Outcome::NotRun;
    Outcome outcome = Outcome::NotRun;
    if (const std::optional<std::string> path = choose()) {
        const std::string error = WriteImageFile(*path, buffer_, selection_.SelectedDevice()->MemorySize(), format);
        if (error.empty()) {
            SetStatus("Save file complete.");
            outcome = Outcome::Succeeded;
        } else {
            ShowMessage("Cannot write " + FileToWrite(*path) + "\n" + error);
            SetStatus("Save file failed.");
            outcome = Outcome::FileFailed;
        }
    }
    Finish();
    return outcome;
}

void Commands::PowerUp(uint16_t dataPort)
{
    link_.DataPort = dataPort;
    link_.StatusPort = dataPort + 1;
    SetProgramModeLines(link_);
    link_.ProgramMode = -1;
    ResetAddress(buffer_);
    ClearBuffer(buffer_);
    codeFromFile_ = false;
    ShowBuffer();
    ClearBuffer(*data_);
    view_.ShowDataBuffer();
}

void Commands::LeaveRunning() { SetOperationMode(link_, false, selection_.FuseDevice()); }

void Commands::StayInProgramMode() { SetOperationMode(link_, true, selection_.FuseDevice()); }

// --- Front panel ----------------------------------------------------------

void Commands::WriteLog(LogKind kind, std::string_view prefix, const std::string& text)
{
    if (kind != LogKind::Message)
        lastMessage_.clear();
    view_.WriteLogLine(kind, LogLine(LocalTimeText(), prefix, text));
}

void Commands::Log(const std::string& text) { WriteLog(LogKind::Detail, "", text); }

void Commands::SetStatus(const std::string& text)
{
    // A status text that says again what the message before it said
    // ("Device have not in program mode" after its box) is marked, so that
    // a log that shows both once can leave it out.
    WriteLog(text == lastMessage_ ? LogKind::Repeated : LogKind::Status, "", text);
    view_.ShowStatus(text);
}

void Commands::ShowMessage(const std::string& text)
{
    WriteLog(LogKind::Message, "message: ", text);
    lastMessage_ = text;
    view_.ShowMessage(text);
}

void Commands::ProcessMessages() { view_.ProcessMessages(); }

void Commands::SetControlEnabled(ChipControl control, bool enabled) { view_.SetControlEnabled(control, enabled); }

void Commands::SetModeChecks(bool programModeChecked) { view_.SetModeChecks(programModeChecked); }

void Commands::SetProgress(int32_t position) { view_.SetProgress(position); }

void Commands::SetLockBox(int n, bool checked)
{
    qvx::SetLockBox(selection_.Locks, n, checked);
    view_.ShowLockBoxes(selection_.Locks);
}

bool Commands::LockBox(int n) const { return selection_.Locks.Box(n); }

void Commands::SetX2Clock(bool checked)
{
    selection_.X2Clock = checked;
    view_.ShowX2Clock(checked);
}

bool Commands::X2Clock() const { return selection_.X2Clock; }

void Commands::ShowBuffer() { view_.ShowBuffer(); }

bool Commands::AutoReload() const { return selection_.AutoReload && !reloaded_; }

} // namespace qvx
