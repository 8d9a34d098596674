// The main window's selection handlers: device, port and cable, program/run
// mode, the two options and the picture's double click. None of them touches
// the chip; only the mode items, the mode button and a change of cable write
// to the port. The device, the parallel port and the cable chosen are
// remembered for the next run.
#include "Cables.h"
#include "ISP_S8252.h"
#include "Mode.h"
#include "PortSelect.h"
#include "Settings.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalBlocker>

#include <cmath>
#include <cstdlib>

namespace qvx {

void TfrmMain::DeviceMenuClick(int32_t code)
{
    if (Busy())
        return;
    ShowDevice(code);
    if (const Device* device = FindDevice(code))
        Remember([device](SettingsFile& settings) { settings.Set(kDeviceKey, std::string(device->Name)); });
}

void TfrmMain::ShowDevice(int32_t code)
{
    for (int32_t n = 0; n < int32_t(Devices().size()); ++n)
        DeviceMenuItem(n)->setChecked(n == code);
    selection_.DeviceCode = code;
    {
        const QSignalBlocker quiet(cmbDevice); // the box's own handler does not run
        cmbDevice->setCurrentIndex(code);
    }
    btnFuse_Write->setEnabled(FuseDevice());
    chk_x2Clock->setEnabled(FuseDevice());
    ShowDataMemoryState();
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
    ShowDataMemoryState();
    if (const Device* device = selection_.SelectedDevice())
        Remember([device](SettingsFile& settings) { settings.Set(kDeviceKey, std::string(device->Name)); });
}

// The port the commands drive from now on; nothing is written to either
// port here.
void TfrmMain::SelectPort(uint16_t dataPort)
{
    link_.DataPort = dataPort;
    link_.StatusPort = dataPort + 1;
    ShowPortChecks();
}

void TfrmMain::ShowPortChecks()
{
    const Cable* cable = CableOf(cable_.Spec);
    LPT11->setChecked(!cable && link_.DataPort == kLpt1Data);
    LPT21->setChecked(!cable && link_.DataPort == kLpt2Data);
    for (qsizetype i = 0; i < CableItems.size(); ++i)
        CableItems[i]->setChecked(cable == &Cables()[size_t(i)]);
}

// On the parallel port or the simulated cable, LPT1 and LPT2 choose the
// register addresses; from another cable they go back to the parallel port.
void TfrmMain::ChooseLpt(uint16_t dataPort)
{
    if (Busy())
        return;
    const std::string lpt = dataPort == kLpt2Data ? "2" : "1";
    if (CableOf(cable_.Spec)) {
        if (!SwitchCable("ppdev", QStringLiteral("The parallel port LPT") + QString::fromStdString(lpt), dataPort))
            return;
    } else {
        SelectPort(dataPort);
    }
    Remember([&](SettingsFile& settings) { settings.Set(kLptKey, lpt); });
}

void TfrmMain::LPT11Click() { ChooseLpt(kLpt1Data); }

void TfrmMain::LPT21Click() { ChooseLpt(kLpt2Data); }

// The cable's dialog shows what it was given last in this run, else the
// cable in use or remembered when it is this one, else the row's defaults.
void TfrmMain::CableMenuClick(size_t index)
{
    if (Busy() || index >= Cables().size())
        return;
    const Cable& cable = Cables()[index];
    QStringList values = cableAnswers_[index];
    if (values.isEmpty()) {
        SettingsFile settings;
        settings.Load();
        const std::string remembered = settings.Get(kPortKey).value_or(std::string());
        const std::string from = CableOf(cable_.Spec) == &cable  ? cable_.Spec
                                 : CableOf(remembered) == &cable ? remembered
                                                                 : std::string(cable.Defaults);
        values = CableValues(cable, from);
    }
    const std::optional<QStringList> answer = hooks_.AskCable(cable, values);
    if (!answer)
        return;
    cableAnswers_[index] = *answer;
    SwitchCable(CableSpec(cable, *answer), QString::fromLatin1(cable.Name));
}

namespace {

// What a port form's refusal says, without the environment variable's name
// that the window's menu did not use.
std::string WithoutVariable(std::string error, const std::string& spec)
{
    for (const std::string& prefix : {"QVX_PORT=" + spec + ": ", std::string("QVX_PORT ")})
        if (error.rfind(prefix, 0) == 0)
            error.erase(0, prefix.size());
    return error;
}

} // namespace

bool TfrmMain::SwitchCable(const std::string& spec, const QString& name, std::optional<uint16_t> dataPort)
{
    const QString keeps = QStringLiteral("\nThe window keeps the cable it had.");
    PortSelection chosen;
    std::string error;
    if (!ParsePortSelection(spec, chosen, error)) {
        Message(QStringLiteral("%1 cannot be used as \"%2\": %3%4")
                    .arg(name, QString::fromStdString(spec), QString::fromStdString(WithoutVariable(error, spec)),
                         keeps));
        return false;
    }
    std::unique_ptr<PortAccess> port = hooks_.OpenPort(spec, error);
    if (!port) {
        Message(QStringLiteral("%1 cannot be opened: %2%3")
                    .arg(name, QString::fromStdString(WithoutVariable(error, spec)), keeps));
        return false;
    }
    // The same cable again (another pin map, or back after it was lost):
    // the old port gives the device up first.
    PortSelection current;
    std::string ignored;
    const bool sameDevice = ownedPort_ && ParsePortSelection(cable_.Spec, current, ignored) &&
                            current.kind == chosen.kind && chosen.kind != PortSelection::Kind::Sim;
    if (sameDevice) {
        SetRunModeLines(link_);
        link_.Port = port.get();
        ownedPort_.reset();
    }
    if (!port->IsDriverInstalled()) {
        QString text = QStringLiteral("%1 cannot be used.").arg(name);
        if (const std::string why = port->DriverDiagnosis(); !why.empty())
            text += QStringLiteral("\n") + QString::fromStdString(why);
        if (sameDevice) {
            // Back to the cable as it was.
            std::unique_ptr<PortAccess> again = hooks_.OpenPort(cable_.Spec, error);
            if (again && again->IsDriverInstalled()) {
                link_.Port = again.get();
                ownedPort_ = std::move(again);
                SetOperationMode(link_, link_.ProgramMode != 0, FuseDevice());
                Message(text + keeps);
            } else {
                // Neither can be used now: the new one stays, and each
                // command says so until a cable is chosen that works.
                ownedPort_ = std::move(port);
                cable_ = {spec, SettingsFile::DefaultPath()};
                ShowPortChecks();
                Message(text + QStringLiteral("\nThe cable used before cannot be opened again either; choose "
                                              "a cable from the Port menu."));
            }
        } else {
            Message(text + keeps);
        }
        return false;
    }

    // The target left running on the old cable, which is closed; program
    // mode on the new one.
    if (!sameDevice)
        SetRunModeLines(link_);
    link_.Port = port.get();
    ownedPort_ = std::move(port);
    cable_ = {spec, SettingsFile::DefaultPath()}; // remembered there from now on
    if (dataPort) {
        link_.DataPort = *dataPort;
        link_.StatusPort = *dataPort + 1;
    }
    ShowPortChecks();
    commands_.Log("Cable: " + name.toStdString() + " (" + spec + ")");
    SetOperationMode(link_, true, FuseDevice());
    SetModeChecks(true);
    const std::string saved = Remember([&](SettingsFile& settings) { settings.Set(kPortKey, spec); });
    if (!saved.empty())
        Message(QStringLiteral("%1 is used for now but could not be remembered.\n%2")
                    .arg(name, QString::fromStdString(saved)));
    else if (const char* variable = std::getenv("QVX_PORT"))
        commands_.Log(std::string("QVX_PORT=") + variable + " still chooses the cable at the next start");
    return true;
}

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
