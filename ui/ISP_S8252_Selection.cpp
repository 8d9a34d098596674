// The main window's selection handlers: device, port, program/run mode, the
// two options and the picture's double click. None of them touches the chip;
// only the mode items and the mode button write to the port.
#include "ISP_S8252.h"
#include "Mode.h"
#include "Settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>

#include <cmath>

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

// --- Target crystal ------------------------------------------------------

namespace {

bool CrystalInRange(double hz) { return hz >= kMinCrystalHz && hz <= kMaxCrystalHz; }

} // namespace

QString CrystalText(uint32_t hz)
{
    return QString::number(hz / 1e6, 'f', 6).remove(QRegularExpression(QStringLiteral("\\.?0+$"))) +
           QStringLiteral(" MHz");
}

std::optional<uint32_t> ParseCrystal(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^\\s*([0-9]+(?:[.,][0-9]*)?)\\s*(mhz|khz|hz)?\\s*$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const double number = QString(match.captured(1)).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    if (!ok)
        return std::nullopt;
    const QString unit = match.captured(2).toLower();
    double hz = number;
    if (unit == QLatin1String("mhz") || (unit.isEmpty() && number < 1000))
        hz = number * 1e6;
    else if (unit == QLatin1String("khz"))
        hz = number * 1e3;
    if (!CrystalInRange(hz))
        return std::nullopt;
    return static_cast<uint32_t>(std::llround(hz));
}

// The crystal remembered in the settings file both programs read (the
// default without one).
void TfrmMain::LoadCrystal()
{
    SettingsFile settings;
    if (const std::string error = settings.Load(); !error.empty())
        commands_.Log(error);
    link_.CrystalHz = RememberedCrystal(settings).value_or(kDefaultCrystalHz);
}

// Offers the common crystals with the current one chosen; a typed value
// that is no crystal frequency is refused with a message and changes
// nothing. The choice holds from the next chip operation on and is
// remembered for the next run.
void TfrmMain::TargetCrystal1Click()
{
    if (Busy())
        return;
    QStringList choices;
    for (uint32_t hz : kCommonCrystalsHz)
        choices << CrystalText(hz);
    const QString current = CrystalText(link_.CrystalHz);
    if (!choices.contains(current))
        choices.prepend(current);
    const std::optional<QString> answer = hooks_.AskCrystal(choices, current);
    if (!answer)
        return;
    const std::optional<uint32_t> hz = ParseCrystal(*answer);
    if (!hz) {
        Message(QStringLiteral("\"%1\" is no crystal frequency. Give one from %2 to %3, e.g. 11.0592 MHz; "
                               "the target crystal stays %4.")
                    .arg(answer->trimmed(), CrystalText(kMinCrystalHz), CrystalText(kMaxCrystalHz), current));
        return;
    }
    link_.CrystalHz = *hz;
    SettingsFile settings;
    if (const std::string error = settings.Update(kCrystalKey, std::to_string(*hz)); !error.empty())
        Message(QStringLiteral("The target crystal %1 holds for now but could not be saved.\n%2")
                    .arg(CrystalText(*hz), QString::fromStdString(error)));
}

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
