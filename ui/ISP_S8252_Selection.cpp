// The main window's selection handlers: device, port, program/run mode, the
// two options and the picture's double click. None of them touches the chip;
// only the mode items and the mode button write to the port.
#include "ISP_S8252.h"
#include "Mode.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QSignalBlocker>

namespace qvx {

void TfrmMain::DeviceMenuClick(int32_t code)
{
    if (Busy())
        return;
    for (int32_t n = 0; n < int32_t(Devices().size()); ++n)
        DeviceMenuItem(n)->setChecked(n == code);
    selection_.DeviceCode = code;
    {
        const QSignalBlocker quiet(cmbDevice); // the box's own handler does not run
        cmbDevice->setCurrentIndex(code);
    }
    btnFuse_Write->setEnabled(FuseDevice());
    chk_x2Clock->setEnabled(FuseDevice());
}

// The box's text, picked from the list or typed: an entry's name (in any
// letter case) selects that entry, anything else selects none.
static int32_t EntryIndex(const QComboBox* box)
{
    const QString text = box->currentText().trimmed();
    for (int i = 0; i < box->count(); ++i)
        if (box->itemText(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

void TfrmMain::cmbDeviceChange()
{
    if (Busy()) {
        // Ignored while a command runs: the box goes back to the device in use.
        const QSignalBlocker quiet(cmbDevice);
        if (selection_.DeviceCode >= 0)
            cmbDevice->setCurrentIndex(selection_.DeviceCode);
        return;
    }
    btnFuse_Write->setEnabled(false);
    chk_x2Clock->setEnabled(false);
    for (int32_t n = 0; n < int32_t(Devices().size()); ++n)
        DeviceMenuItem(n)->setChecked(false);
    selection_.DeviceCode = EntryIndex(cmbDevice);
    if (QAction* item = DeviceMenuItem(selection_.DeviceCode))
        item->setChecked(true);
    if (FuseDevice()) {
        btnFuse_Write->setEnabled(true);
        chk_x2Clock->setEnabled(true);
    }
}

// The port the commands drive from now on; nothing is written to either
// port here.
void TfrmMain::SelectPort(uint16_t dataPort)
{
    if (Busy())
        return;
    LPT11->setChecked(dataPort == kLpt1Data);
    LPT21->setChecked(dataPort == kLpt2Data);
    link_.DataPort = dataPort;
    link_.StatusPort = dataPort + 1;
}

void TfrmMain::LPT11Click() { SelectPort(kLpt1Data); }

void TfrmMain::LPT21Click() { SelectPort(kLpt2Data); }

// The mode menu items switch the mode and set their own marks.
void TfrmMain::SelectMode(bool program)
{
    if (Busy())
        return;
    SetOperationMode(link_, program, FuseDevice());
    ProgramMode1->setChecked(program);
    RUNMode1->setChecked(!program);
}

void TfrmMain::ProgramMode1Click() { SelectMode(true); }

void TfrmMain::RUNMode1Click() { SelectMode(false); }

void TfrmMain::btnModeClick()
{
    if (Busy())
        return;
    ToggleOperationMode(link_, FuseDevice());
}

void TfrmMain::AutoRUNafterprogram1Click() { AutoRUNafterprogram1->setChecked(!AutoRUNafterprogram1->isChecked()); }

void TfrmMain::AutoReloadFile1Click() { AutoReloadFile1->setChecked(!AutoReloadFile1->isChecked()); }

// The frame a window manager adds around the client area. Without one (no
// window manager, or not shown yet) the design's single fixed border counts:
// three pixels on either side.
static int FrameWidth(const QWidget* window)
{
    const int frame = window->frameGeometry().width() - window->width();
    return frame > 0 ? frame : 6;
}

int TfrmMain::OuterWidth() const { return width() + FrameWidth(this); }

void TfrmMain::SetOuterWidth(int outer) { setFixedWidth(outer - FrameWidth(this)); }

// Narrows the window to the command column or widens it to show the hex
// view; not while a command runs.
void TfrmMain::Image1DblClick()
{
    if (Busy())
        return;
    SetOuterWidth(OuterWidth() < 660 ? 663 : 294);
    ProcessMessages();
}

} // namespace qvx
