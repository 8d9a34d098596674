// The "Data Memory" window: the 2 KB data EEPROM of the AT89S8252 and
// AT89S8253 with a buffer of its own, shown in a hex view, and the buttons
// that load a file into that buffer, save it, read the chip's data memory
// into it, program it and verify it. The commands are the command layer's,
// run through the main window, which keeps one command running at a time
// and writes the operation log; their status texts and progress show here
// as in the main window.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace qvx {

class HexGrid;
class TfrmMain;
struct Device;

class TfrmDataMemory : public QDialog {
    Q_OBJECT
public:
    explicit TfrmDataMemory(TfrmMain& main);

    // The device selected and whether the chip controls are usable (program
    // mode): the chip buttons only for a device with a data memory.
    void ShowDevice(const Device* device, bool chipControls);

    void btnDataLoadClick();
    void btnDataSaveClick();
    void btnDataReadClick();
    void btnDataProgramClick();
    void btnDataVerifyClick();

    QLineEdit* edtDataFileName = nullptr;
    HexGrid* grdData = nullptr;
    QPushButton* btnDataLoad = nullptr;
    QPushButton* btnDataSave = nullptr;
    QPushButton* btnDataRead = nullptr;
    QPushButton* btnDataProgram = nullptr;
    QPushButton* btnDataVerify = nullptr;
    QLabel* lblDataDevice = nullptr;
    QLabel* lblDataErase = nullptr;
    QLineEdit* edtDataStatus = nullptr;
    QProgressBar* DataProgress = nullptr;

private:
    TfrmMain& main_;
};

} // namespace qvx
