// The main window's chip commands: erase, blank check, verify, program,
// auto-program, read chip, the key button's lock write and the fuse write.
// The command layer runs them; the window shows what they report, and brings
// the Operation Log up when one fails.
#include "ISP_S8252.h"

namespace qvx {

void TfrmMain::btnEraseClick() { Ended(commands_.Erase()); }

void TfrmMain::btnBlankClick() { Ended(commands_.BlankCheck()); }

void TfrmMain::btnVerifyClick() { Ended(commands_.Verify()); }

void TfrmMain::btnProgramClick() { Ended(commands_.Program()); }

void TfrmMain::btnAutoClick() { Ended(commands_.AutoProgram()); }

void TfrmMain::ReadChip1Click() { Ended(commands_.ReadChip()); }

void TfrmMain::SpeedButton1Click() { Ended(commands_.WriteLockBits()); }

void TfrmMain::btnFuse_WriteClick() { Ended(commands_.WriteFuse()); }

void TfrmMain::DetectChip1Click()
{
    const Outcome outcome = commands_.DetectChip();
    if (outcome == Outcome::NotRun)
        return;
    Ended(outcome);
    // The log has it too; the box is for the user who asked.
    QStringList lines;
    for (const std::string& line : DetectLines(commands_.DetectedReport()))
        lines << QString::fromStdString(line);
    if (!link_.StopRequested)
        hooks_.Message(lines.join(QLatin1Char('\n')));
}

} // namespace qvx
