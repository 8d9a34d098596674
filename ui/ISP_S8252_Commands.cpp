// The main window's chip commands: erase, blank check, verify, program,
// auto-program, read chip, the key button's lock write and the fuse write.
// The command layer runs them; the window shows what they report.
#include "ISP_S8252.h"

namespace qvx {

void TfrmMain::btnEraseClick() { commands_.Erase(); }

void TfrmMain::btnBlankClick() { commands_.BlankCheck(); }

void TfrmMain::btnVerifyClick() { commands_.Verify(); }

void TfrmMain::btnProgramClick() { commands_.Program(); }

void TfrmMain::btnAutoClick() { commands_.AutoProgram(); }

void TfrmMain::ReadChip1Click() { commands_.ReadChip(); }

void TfrmMain::SpeedButton1Click() { commands_.WriteLockBits(); }

void TfrmMain::btnFuse_WriteClick() { commands_.WriteFuse(); }

} // namespace qvx
