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

} // namespace qvx
