#include "ISP_S8252.h"
#include "ABOUT_QVX.h"
#include "Cables.h"
#include "DataMemory.h"
#include "Fonts.h"
#include "HexView.h"
#include "ImageFile.h"
#include "LogWindow.h"
#include "OperationLog.h"
#include "Mode.h"
#include "PictureBox.h"
#include "ProgramConfig.h"

#include <QApplication>
#include <QBitmap>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QToolButton>

#include <algorithm>
#include <filesystem>

static void InitResources() { Q_INIT_RESOURCE(images); }

namespace qvx {

namespace {

// Design tab order of a control within its parent, kept on every control
// that has one; the focus chain is built from it.
constexpr char kTabOrder[] = "TabOrder";

template <class Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

// A group frame with its caption on the frame's top line, so that controls
// placed 16 pixels down lie inside the frame.
class GroupFrame : public QGroupBox {
public:
    GroupFrame(const QString& caption, QWidget* parent) : QGroupBox(caption, parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QFontMetrics metrics(font());
        const QRect frame = rect().adjusted(0, metrics.height() / 2, -2, -2);
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(frame);
        painter.setPen(palette().color(QPalette::Light));
        painter.drawRect(frame.translated(1, 1));
        const QRect caption(6, 0, metrics.horizontalAdvance(title()) + 4, metrics.height());
        painter.fillRect(caption, palette().color(QPalette::Window));
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        painter.drawText(caption, Qt::AlignCenter, title());
    }
};

void SetTabPosition(QWidget* widget, int order) { widget->setProperty(kTabOrder, order); }

void MakeBold(QWidget* widget)
{
    QFont font = widget->font();
    font.setBold(true);
    widget->setFont(font);
}

// A menu item that shows a check mark but never sets it itself: its
// handlers do that. Qt flips a checkable item before its handlers run; this
// puts the mark back first.
QAction* CheckMenuItem(QMenu* menu, const char* name, const char* caption, bool checked)
{
    QAction* item = menu->addAction(QString::fromLatin1(caption));
    item->setObjectName(QString::fromLatin1(name));
    item->setCheckable(true);
    item->setChecked(checked);
    QObject::connect(item, &QAction::triggered, item, [item](bool nowChecked) { item->setChecked(!nowChecked); });
    return item;
}

QAction* MenuItem(QMenu* menu, const char* name, const char* caption)
{
    QAction* item = menu->addAction(QString::fromLatin1(caption));
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

QAction* Separator(QMenu* menu, const char* name)
{
    QAction* item = menu->addSeparator();
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

// The key bitmap with the colour of its bottom-left pixel made transparent.
QPixmap KeyPicture()
{
    const QImage image(QStringLiteral(":/images/key.bmp"));
    if (image.isNull())
        return {};
    QPixmap picture = QPixmap::fromImage(image);
    const QRgb background = image.pixel(0, image.height() - 1);
    picture.setMask(QBitmap::fromImage(image.createMaskFromColor(background, Qt::MaskInColor)));
    return picture;
}

// A one-line box shows the beginning of a text too long for it.
void ShowFromStart(QLineEdit* box, const QString& text)
{
    box->setText(text);
    box->setCursorPosition(0);
}

// Shows a message box; a lone carriage return in the text breaks the line.
void ShowMessageBox(QWidget* parent, const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle), shown, QMessageBox::Ok, parent);
    box.exec();
}

// The first-run message: "Close" ends the program, "Choose Another Cable"
// keeps the window for the Port menu.
bool AskFirstRun(QWidget* parent, const QString& text)
{
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kApplicationTitle), shown, QMessageBox::NoButton, parent);
    QPushButton* close = box.addButton(QStringLiteral("Close"), QMessageBox::RejectRole);
    QPushButton* choose = box.addButton(QStringLiteral("Choose Another Cable"), QMessageBox::AcceptRole);
    box.setDefaultButton(close);
    box.setEscapeButton(close);
    box.exec();
    return box.clickedButton() == choose;
}

// A chip of another device: "Select the AT89S52" (when a device's signature
// it holds) or "Go On" as the device selected, and Cancel, the default.
WrongChipChoice AskWrongChipBox(QWidget* parent, const QString& question, const QString& found)
{
    QMessageBox box(QMessageBox::Warning, QString::fromLatin1(kApplicationTitle), question, QMessageBox::NoButton,
                    parent);
    QPushButton* go = box.addButton(found.isEmpty() ? QStringLiteral("Go On") : QStringLiteral("Select the ") + found,
                                    QMessageBox::AcceptRole);
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() != go)
        return WrongChipChoice::Cancel;
    return found.isEmpty() ? WrongChipChoice::GoOn : WrongChipChoice::SelectFound;
}

// A path as a menu item shows it: the file's name in full, the folder
// shortened in the middle when the whole is long.
QString MenuPath(const QString& path)
{
    constexpr qsizetype kLongest = 64;
    if (path.size() <= kLongest)
        return path;
    const qsizetype keep = kLongest - 3;
    const qsizetype tail = std::max<qsizetype>(keep / 2, path.size() - path.lastIndexOf(QLatin1Char('/')));
    if (tail >= keep)
        return QStringLiteral("...") + path.right(keep);
    return path.left(keep - tail) + QStringLiteral("...") + path.right(tail);
}

} // namespace

QStringList FileDialogFilters(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return filters;
}

void SetApplicationTitle() { QCoreApplication::setApplicationName(QString::fromLatin1(kApplicationTitle)); }

TfrmMain::TfrmMain(PortAccess& port, Hooks hooks, QWidget* parent)
    : QMainWindow(parent), hooks_(std::move(hooks)), buffer_(std::make_unique<CodeBuffer>())
{
    InitResources();
    if (!hooks_.Message)
        hooks_.Message = [this](const QString& text) { ShowMessageBox(this, text); };
    if (!hooks_.OpenFile)
        hooks_.OpenFile = [this]() -> std::optional<QString> {
            if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty())
                return std::nullopt;
            return OpenDialog1->selectedFiles().constFirst();
        };
    if (!hooks_.SaveFile)
        hooks_.SaveFile = [this]() -> std::optional<QString> {
            if (SaveDialog1->exec() != QDialog::Accepted || SaveDialog1->selectedFiles().isEmpty())
                return std::nullopt;
            return SaveDialog1->selectedFiles().constFirst();
        };
    if (!hooks_.Beep)
        hooks_.Beep = [] { QApplication::beep(); };
    if (!hooks_.Clock)
        hooks_.Clock = LocalTimeText;
    if (!hooks_.ConfigPlaces)
        hooks_.ConfigPlaces = [] { return ConfigSearchPlaces(); };
    if (!hooks_.AskCable)
        hooks_.AskCable = [this](const Cable& cable, const QStringList& values) {
            return AskCableSettings(this, cable, values);
        };
    if (!hooks_.OpenPort)
        hooks_.OpenPort = [](const std::string& spec, std::string& error) { return OpenPortAccess(spec, error); };
    if (!hooks_.FirstRun)
        hooks_.FirstRun = [this](const QString& text) { return AskFirstRun(this, text); };
    if (!hooks_.SaveLog)
        hooks_.SaveLog = [this]() -> std::optional<QString> {
            const QString path = QFileDialog::getSaveFileName(frmOperationLog, QStringLiteral("Save Operation Log"),
                                                              QStringLiteral("qvx-isp.log"),
                                                              QStringLiteral("Log File (*.log *.txt);;All Files (*)"));
            return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
        };
    if (!hooks_.OpenDataFile)
        hooks_.OpenDataFile = [this]() -> std::optional<QString> {
            const QString path = QFileDialog::getOpenFileName(
                frmDataMemory, QStringLiteral("Load Data File"), OpenDialog1->directory().absolutePath(),
                FileDialogFilters(QString::fromLatin1(kOpenDialogFilter)).join(QStringLiteral(";;")));
            return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
        };
    if (!hooks_.SaveDataFile)
        hooks_.SaveDataFile = [this]() -> std::optional<QString> {
            QFileDialog dialog(frmDataMemory, QStringLiteral("Save Data As"), SaveDialog1->directory().absolutePath());
            dialog.setAcceptMode(QFileDialog::AcceptSave);
            dialog.setNameFilters(FileDialogFilters(QString::fromLatin1(kSaveDialogFilter)));
            dialog.setDefaultSuffix(QStringLiteral("hex"));
            connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
                dialog.setDefaultSuffix(filter.contains(QStringLiteral("*.bin")) ? QStringLiteral("bin")
                                                                                  : QStringLiteral("hex"));
            });
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return std::nullopt;
            return dialog.selectedFiles().constFirst();
        };
    if (!hooks_.AskWrongChip)
        hooks_.AskWrongChip = [this](const QString& question, const QString& found) {
            return AskWrongChipBox(this, question, found);
        };
    if (!hooks_.AskCrystal)
        hooks_.AskCrystal = [this](const QStringList& choices, const QString& current) -> std::optional<QString> {
            bool ok = false;
            const QString chosen = QInputDialog::getItem(
                this, QStringLiteral("Target crystal"),
                QStringLiteral("Crystal on the target board (choose or type, e.g. 11.0592 MHz):"), choices,
                std::max<qsizetype>(0, choices.indexOf(current)), true, &ok);
            return ok ? std::optional<QString>(chosen) : std::nullopt;
        };

    link_.Port = &port;

    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(QString::fromLatin1(kMainCaption));
    setWindowIcon(QIcon(QStringLiteral(":/images/qvx-isp.png")));
    setFont(WindowFont());

    BuildMenus();
    BuildControls();
    SetTabOrder();

    // Single fixed border: the client area is 656 x 344 below the menu bar.
    setFixedSize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    // The title bar and border are not known before the window manager maps
    // the window; allow for a usual one.
    const QSize outer = size() + QSize(8, 36);
    move(PlaceOnScreen({kDesignLeft, kDesignTop}, outer, screen()->availableGeometry()));

    FormCreate();
}

TfrmMain::TfrmMain(std::unique_ptr<PortAccess> port, PortChoice cable, Hooks hooks, QWidget* parent)
    : TfrmMain(*port, std::move(hooks), parent)
{
    ownedPort_ = std::move(port);
    cable_ = std::move(cable);
    ShowPortChecks();
}

TfrmMain::~TfrmMain() = default;

QPoint PlaceOnScreen(QPoint design, QSize outer, const QRect& available)
{
    const int left = std::min(design.x(), available.x() + available.width() - outer.width());
    const int top = std::min(design.y(), available.y() + available.height() - outer.height());
    return {std::max(left, available.x()), std::max(top, available.y())};
}

QPoint PlaceBeside(const QRect& main, QSize outer, const QRect& available, std::initializer_list<int> sides)
{
    const QPoint places[] = {{main.right() + 1, main.top()},
                             {main.left(), main.bottom() + 1},
                             {main.left() - outer.width(), main.top()},
                             {main.left(), main.top() - outer.height()}};
    for (const int side : sides)
        if (available.contains(QRect(places[side], outer)))
            return places[side];
    return PlaceOnScreen(places[*sides.begin()], outer, available);
}

void TfrmMain::BuildMenus()
{
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    Files1 = bar->addMenu(QStringLiteral("Files"));
    Files1->setObjectName(QStringLiteral("Files1"));
    Load1 = MenuItem(Files1, "Load1", "&Load Code");
    SaveCodeAs1 = MenuItem(Files1, "SaveCodeAs1", "&Save Code As...");
    Exit1 = Separator(Files1, "Exit1");
    ReadChip1 = MenuItem(Files1, "ReadChip1", "&Read Chip");
    N2 = Separator(Files1, "N2");
    for (size_t n = 0; n < kMaxRecentFiles; ++n) {
        QAction* item = MenuItem(Files1, ("RecentFile" + std::to_string(n + 1)).c_str(), "");
        item->setVisible(false);
        connect(item, &QAction::triggered, this, [this, n] { RecentFileClick(n); });
        RecentFileItems << item;
    }
    N4 = Separator(Files1, "N4");
    N4->setVisible(false);
    Exit2 = MenuItem(Files1, "Exit2", "E&xit");
    Load1->setShortcut(QKeySequence::Open);
    SaveCodeAs1->setShortcut(QKeySequence::Save);

    Device1 = bar->addMenu(QStringLiteral("Device"));
    Device1->setObjectName(QStringLiteral("Device1"));
    AT89S511 = CheckMenuItem(Device1, "AT89S511", "AT89S51", false);
    AT89S521 = CheckMenuItem(Device1, "AT89S521", "AT89S52", false);
    AT89S531 = CheckMenuItem(Device1, "AT89S531", "AT89S53", false);
    AT89S82521 = CheckMenuItem(Device1, "AT89S82521", "AT89S8252", true);
    AT89S82531 = CheckMenuItem(Device1, "AT89S82531", "AT89S8253", false);
    AT89S20511 = CheckMenuItem(Device1, "AT89S20511", "AT89S2051", false);
    AT89S40511 = CheckMenuItem(Device1, "AT89S40511", "AT89S4051", false);
    N6 = Separator(Device1, "N6");
    DataMemory1 = MenuItem(Device1, "DataMemory1", "Data Memory...");
    N7 = Separator(Device1, "N7");
    DetectChip1 = MenuItem(Device1, "DetectChip1", "Detect Chip");

    Port1 = bar->addMenu(QStringLiteral("Port"));
    Port1->setObjectName(QStringLiteral("Port1"));
    Port1->menuAction()->setCheckable(true); // a mark in the design that nothing reads
    Port1->menuAction()->setChecked(true);
    LPT11 = CheckMenuItem(Port1, "LPT11", "LPT1", true);
    LPT21 = CheckMenuItem(Port1, "LPT21", "LPT2", false);
    N5 = Separator(Port1, "N5");
    for (size_t i = 0; i < Cables().size(); ++i) {
        QAction* item = CheckMenuItem(Port1, Cables()[i].MenuName, Cables()[i].Caption, false);
        connect(item, &QAction::triggered, this, [this, i] { CableMenuClick(i); });
        CableItems << item;
    }
    cableAnswers_.resize(Cables().size());

    Option1 = bar->addMenu(QStringLiteral("Option"));
    Option1->setObjectName(QStringLiteral("Option1"));
    ProgramMode1 = CheckMenuItem(Option1, "ProgramMode1", "Program Mode", true);
    RUNMode1 = CheckMenuItem(Option1, "RUNMode1", "RUN Mode", false);
    N1 = Separator(Option1, "N1");
    AutoRUNafterprogram1 = CheckMenuItem(Option1, "AutoRUNafterprogram1", "Auto RUN after auto program", true);
    AutoReloadFile1 = CheckMenuItem(Option1, "AutoReloadFile1", "Auto Reload File", true);
    N3 = Separator(Option1, "N3");
    TargetCrystal1 = MenuItem(Option1, "TargetCrystal1", "Target crystal...");
    OperationLog1 = MenuItem(Option1, "OperationLog1", "Operation Log");

    About1 = bar->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));

    connect(Load1, &QAction::triggered, this, &TfrmMain::Load1Click);
    connect(SaveCodeAs1, &QAction::triggered, this, &TfrmMain::SaveCodeAs1Click);
    connect(ReadChip1, &QAction::triggered, this, &TfrmMain::ReadChip1Click);
    connect(DetectChip1, &QAction::triggered, this, &TfrmMain::DetectChip1Click);
    connect(Exit2, &QAction::triggered, this, &TfrmMain::Exit2Click);
    for (int32_t code = 0; code < int32_t(Devices().size()); ++code)
        connect(DeviceMenuItem(code), &QAction::triggered, this, [this, code] { DeviceMenuClick(code); });
    connect(LPT11, &QAction::triggered, this, &TfrmMain::LPT11Click);
    connect(LPT21, &QAction::triggered, this, &TfrmMain::LPT21Click);
    connect(ProgramMode1, &QAction::triggered, this, &TfrmMain::ProgramMode1Click);
    connect(RUNMode1, &QAction::triggered, this, &TfrmMain::RUNMode1Click);
    connect(AutoRUNafterprogram1, &QAction::triggered, this, &TfrmMain::AutoRUNafterprogram1Click);
    connect(AutoReloadFile1, &QAction::triggered, this, &TfrmMain::AutoReloadFile1Click);
    connect(TargetCrystal1, &QAction::triggered, this, &TfrmMain::TargetCrystal1Click);
    connect(OperationLog1, &QAction::triggered, this, &TfrmMain::OperationLog1Click);
    connect(DataMemory1, &QAction::triggered, this, &TfrmMain::DataMemory1Click);
    // The options' marks are the options: the selection follows every change.
    connect(AutoRUNafterprogram1, &QAction::toggled, this, [this](bool on) { selection_.AutoRun = on; });
    connect(AutoReloadFile1, &QAction::toggled, this, [this](bool on) { selection_.AutoReload = on; });
    connect(About1, &QAction::triggered, this, &TfrmMain::About1Click);
}

void TfrmMain::BuildControls()
{
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    Label1 = Place(new QLabel(QStringLiteral("File Name"), client), "Label1", 16, 8, 62, 16);
    Label1->setFont(LargeWindowFont());

    edtFileName = Place(new QLineEdit(client), "edtFileName", 88, 8, 561, 21);
    SetTabPosition(edtFileName, 0);

    GroupBox1 = Place(new GroupFrame(QStringLiteral("Command Button"), client), "GroupBox1", 8, 36, 137, 301);
    SetTabPosition(GroupBox1, 1);
    struct Command {
        QPushButton*& button;
        const char* name;
        const char* caption;
        int top, height, tab;
    };
    for (const Command& c : {Command{btnLoadFile, "btnLoadFile", "LOAD FILE", 16, 25, 5},
                             Command{btnReadChip, "btnReadChip", "READ CHIP", 48, 25, 6},
                             Command{btnErase, "btnErase", "ERASE", 80, 25, 0},
                             Command{btnBlank, "btnBlank", "BLANK", 112, 25, 2},
                             Command{btnProgram, "btnProgram", "PROGRAM", 144, 25, 1},
                             Command{btnVerify, "btnVerify", "VERIFY CODE", 176, 25, 3},
                             Command{btnAuto, "btnAuto", "AUTO-PROGRAM", 208, 81, 4}}) {
        c.button = Place(new QPushButton(QString::fromLatin1(c.caption), GroupBox1), c.name, 8, c.top, 121, c.height);
        MakeBold(c.button);
        c.button->setAutoDefault(false);
        SetTabPosition(c.button, c.tab);
    }

    cmbDevice = Place(new QComboBox(client), "cmbDevice", 152, 40, 137, 21);
    cmbDevice->setEditable(true);
    cmbDevice->setInsertPolicy(QComboBox::NoInsert);
    for (const Device& device : Devices())
        cmbDevice->addItem(QString::fromLatin1(device.Name.data(), qsizetype(device.Name.size())));
    cmbDevice->setCurrentIndex(kDefaultDeviceCode);
    SetTabPosition(cmbDevice, 2);

    GroupBox2 = Place(new GroupFrame(QStringLiteral("Security Lock"), client), "GroupBox2", 152, 64, 129, 73);
    SetTabPosition(GroupBox2, 3);
    chkLock1 = Place(new QCheckBox(QStringLiteral("Lock Bit 1"), GroupBox2), "chkLock1", 8, 16, 73, 17);
    chkLock2 = Place(new QCheckBox(QStringLiteral("Lock Bit 2"), GroupBox2), "chkLock2", 8, 32, 73, 17);
    chkLock3 = Place(new QCheckBox(QStringLiteral("Lock Bit 3"), GroupBox2), "chkLock3", 8, 48, 73, 17);
    for (int n = 1; n <= 3; ++n) {
        QCheckBox* box = LockCheckBox(n);
        SetTabPosition(box, n - 1);
        // A change of a box's state, by the user or by code, runs its rule.
        connect(box, &QCheckBox::toggled, this, [this, n](bool checked) { LockBoxClicked(n, checked); });
    }
    SpeedButton1 = Place(new QToolButton(GroupBox2), "SpeedButton1", 88, 16, 33, 49);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setIcon(QIcon(KeyPicture()));
    SpeedButton1->setIconSize(QSize(31, 45));

    GroupBox3 = Place(new GroupFrame(QStringLiteral("Fuse"), client), "GroupBox3", 152, 142, 129, 43);
    SetTabPosition(GroupBox3, 8);
    chk_x2Clock = Place(new QCheckBox(QStringLiteral("x2 Clock"), GroupBox3), "chk_x2Clock", 8, 16, 97, 17);
    SetTabPosition(chk_x2Clock, 0);
    connect(chk_x2Clock, &QCheckBox::toggled, this, [this](bool on) { selection_.X2Clock = on; });
    btnFuse_Write = Place(new QPushButton(QStringLiteral("WR"), GroupBox3), "btnFuse_Write", 88, 11, 33, 25);
    MakeBold(btnFuse_Write);
    btnFuse_Write->setAutoDefault(false);
    SetTabPosition(btnFuse_Write, 1);

    Image1 = Place(new PictureBox(client), "Image1", 152, 192, 129, 65);
    Image1->LoadJpeg(QStringLiteral(":/images/chip.jpg"));

    btnMode = Place(new QPushButton(QStringLiteral("OPERATION MODE"), client), "btnMode", 152, 264, 129, 25);
    btnMode->setAutoDefault(false);
    SetTabPosition(btnMode, 7);

    edtStatus = Place(new QLineEdit(QStringLiteral("PROGRAM MODE."), client), "edtStatus", 152, 296, 129, 21);
    edtStatus->setReadOnly(true);
    QPalette status = edtStatus->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        status.setColor(group, QPalette::Base, QColor(0, 255, 255));  // aqua
        status.setColor(group, QPalette::Text, QColor(0, 0, 128));    // navy
    }
    edtStatus->setPalette(status);
    SetTabPosition(edtStatus, 6);

    ProgressBar1 = Place(new QProgressBar(client), "ProgressBar1", 152, 320, 129, 17);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    SetTabPosition(ProgressBar1, 4);

    StringGrid1 = Place(new HexGrid(client), "StringGrid1", 288, 32, 361, 305);
    SetTabPosition(StringGrid1, 5);

    OpenDialog1 = new QFileDialog(this);
    OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
    OpenDialog1->setFileMode(QFileDialog::ExistingFile);
    OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1->setNameFilters(FileDialogFilters(QString::fromLatin1(kOpenDialogFilter)));

    SaveDialog1 = new QFileDialog(this);
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setWindowTitle(QStringLiteral("Save Code As"));
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setNameFilters(FileDialogFilters(QString::fromLatin1(kSaveDialogFilter)));
    // A name typed without an extension takes the chosen format's.
    SaveDialog1->setDefaultSuffix(QStringLiteral("hex"));
    connect(SaveDialog1, &QFileDialog::filterSelected, SaveDialog1, [this](const QString& filter) {
        SaveDialog1->setDefaultSuffix(filter.contains(QStringLiteral("*.bin")) ? QStringLiteral("bin")
                                                                                : QStringLiteral("hex"));
    });

    frmDataMemory = new TfrmDataMemory(*this);
    frmOperationLog = new TfrmOperationLog(this);
    connect(frmOperationLog->btnSave, &QPushButton::clicked, this, &TfrmMain::SaveLogClick);

    // LOAD FILE does what the "&Load Code" menu item does, READ CHIP what
    // "&Read Chip" does (nothing while that item is disabled).
    connect(btnLoadFile, &QPushButton::clicked, Load1, &QAction::trigger);
    connect(btnReadChip, &QPushButton::clicked, ReadChip1, &QAction::trigger);
    connect(btnErase, &QPushButton::clicked, this, &TfrmMain::btnEraseClick);
    connect(btnBlank, &QPushButton::clicked, this, &TfrmMain::btnBlankClick);
    connect(btnProgram, &QPushButton::clicked, this, &TfrmMain::btnProgramClick);
    connect(btnVerify, &QPushButton::clicked, this, &TfrmMain::btnVerifyClick);
    connect(btnAuto, &QPushButton::clicked, this, &TfrmMain::btnAutoClick);
    connect(SpeedButton1, &QToolButton::clicked, this, &TfrmMain::SpeedButton1Click);
    connect(btnFuse_Write, &QPushButton::clicked, this, &TfrmMain::btnFuse_WriteClick);
    connect(cmbDevice, &QComboBox::editTextChanged, this, &TfrmMain::cmbDeviceChange);
    connect(btnMode, &QPushButton::clicked, this, &TfrmMain::btnModeClick);
    connect(Image1, &PictureBox::doubleClicked, this, &TfrmMain::Image1DblClick);
}

// The focus chain follows the design's tab order: the window's controls in
// their order, each group's controls in theirs at the group's place.
void TfrmMain::SetTabOrder()
{
    auto ordered = [](QWidget* parent) {
        QList<QWidget*> list;
        for (QWidget* child : parent->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (child->property(kTabOrder).isValid())
                list << child;
        std::stable_sort(list.begin(), list.end(), [](QWidget* a, QWidget* b) {
            return a->property(kTabOrder).toInt() < b->property(kTabOrder).toInt();
        });
        return list;
    };
    QList<QWidget*> chain;
    for (QWidget* control : ordered(centralWidget())) {
        if (qobject_cast<QGroupBox*>(control))
            chain << ordered(control);
        else
            chain << control;
    }
    QWidget* previous = nullptr;
    for (QWidget* widget : chain) {
        if (!(widget->focusPolicy() & Qt::TabFocus))
            continue;
        if (previous)
            setTabOrder(previous, widget);
        previous = widget;
    }
}

QCheckBox* TfrmMain::LockCheckBox(int n) const
{
    switch (n) {
    case 1: return chkLock1;
    case 2: return chkLock2;
    case 3: return chkLock3;
    default: return nullptr;
    }
}

QAction* TfrmMain::DeviceMenuItem(int code) const
{
    QAction* const items[] = {AT89S511, AT89S521, AT89S531, AT89S82521, AT89S82531, AT89S20511, AT89S40511};
    return code >= 0 && code < 7 ? items[code] : nullptr;
}

bool TfrmMain::FuseDevice() const { return selection_.FuseDevice(); }

// Creation: configuration, port defaults, the cleared buffer on the grid,
// the wait calibration and the default device. The status text and the
// enabled controls come from the window design.
void TfrmMain::FormCreate()
{
    // CONFIG.QVX: the working directory's, else the user's, else the
    // installed copy.
    std::vector<std::string> problems;
    const std::string error = ReadProgramConfig(link_, hooks_.ConfigPlaces(), &problems, &configRead_);
    configReadable_ = error.empty();
    if (!error.empty())
        Message(QString::fromStdString(error)); // start-up goes on with all values 0
    else
        commands_.Log("CONFIG.QVX read from " + configRead_);
    for (const std::string& problem : problems)
        commands_.Log(problem); // read as written, but worth a line in the log

    // What was chosen in the last run, in the settings file both programs
    // read; a file that cannot be read remembers nothing.
    SettingsFile settings;
    if (const std::string settingsError = settings.Load(); !settingsError.empty())
        commands_.Log(settingsError);

    // LPT1 (or the LPT2 chosen last), program-mode lines, the cleared
    // buffer on the grid.
    commands_.PowerUp(RememberedLpt(settings) == 2 ? kLpt2Data : kLpt1Data);
    ShowPortChecks();
    CalibrateWait(link_, hooks_.Clock);
    link_.CrystalHz = RememberedCrystal(settings).value_or(kDefaultCrystalHz);
    selection_.DeviceCode = kDefaultDeviceCode;
    btnFuse_Write->setEnabled(false);
    chk_x2Clock->setEnabled(false);
    if (const std::optional<int32_t> device = RememberedDevice(settings))
        ShowDevice(*device);
    ShowDataMemoryState();

    recentFiles_ = RecentFiles(settings);
    ShowRecentFiles();
    if (const std::optional<std::string> folder = settings.Get(kLastFolderKey); folder && !folder->empty()) {
        OpenDialog1->setDirectory(QString::fromStdString(*folder));
        SaveDialog1->setDirectory(QString::fromStdString(*folder));
    }
}

QString TfrmMain::CableAdvice() const
{
    QStringList cables = {QStringLiteral("the parallel port (LPT1, LPT2)")};
    for (const Cable& cable : Cables())
        cables << QString::fromLatin1(cable.Name);
    QString text = QStringLiteral("Cables: ") + cables.join(QStringLiteral(", ")) +
                   QStringLiteral(". Choose one from the Port menu (kept for the next start), for one run with "
                                  "qvx-isp --port FORM, or with QVX_PORT=FORM; qvx-isp --help lists the forms.");
    if (cable_.Source == "--port" || cable_.Source == "QVX_PORT")
        text += QStringLiteral("\nThis cable was chosen by %1=%2.")
                    .arg(QString::fromStdString(cable_.Source), QString::fromStdString(cable_.Spec));
    else if (!cable_.Source.empty())
        text += QStringLiteral("\nThis cable was remembered in %1 (Port=%2).")
                    .arg(QString::fromStdString(cable_.Source), QString::fromStdString(cable_.Spec));
    if (configRead_.empty())
        text += QStringLiteral("\nNo CONFIG.QVX was found; the timing values are 0.");
    else if (!configReadable_)
        text += QStringLiteral("\nCONFIG.QVX at %1 could not be read; the timing values are 0.")
                    .arg(QString::fromStdString(configRead_));
    else
        text += QStringLiteral("\nCONFIG.QVX read from ") + QString::fromStdString(configRead_);
    return text;
}

// First activation: without a usable cable the program cannot work, so it
// says so, why, and how to choose another; it closes unless the user goes
// on to choose one.
void TfrmMain::FormActivate()
{
    if (link_.Port->IsDriverInstalled())
        return;
    QString text = QStringLiteral("First Time setup for driver installation\rTry to RUN program again");
    // Below it, why the port cannot be used and what to do about it.
    const std::string diagnosis = link_.Port->DriverDiagnosis();
    if (!diagnosis.empty())
        text += QStringLiteral("\n\n") + QString::fromStdString(diagnosis);
    text += QStringLiteral("\n\n") + CableAdvice();
    WriteLog(LogLine(LocalTimeText(), "message: ", text.toStdString()));
    if (link_.StopRequested || !hooks_.FirstRun(text)) {
        close();
        return;
    }
    SetStatus("Choose a cable");
    QMetaObject::invokeMethod(
        this, [this] { menuBar()->setActiveAction(Port1->menuAction()); }, Qt::QueuedConnection);
}

// Whichever way the window closes, the target is left running.
void TfrmMain::FormClose() { commands_.LeaveRunning(); }

bool TfrmMain::event(QEvent* event)
{
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::WindowActivate && !activated_) {
        activated_ = true;
        FormActivate();
    }
    return handled;
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    if (Busy()) {
        // Not in the middle of a chip operation: the window closes when the
        // command has ended.
        closePending_ = true;
        event->ignore();
        return;
    }
    FormClose();
    event->accept();
}

void TfrmMain::Exit2Click()
{
    if (Busy()) {
        // Dropping RST now would cut the chip operation short: exit when
        // the command has ended.
        closePending_ = true;
        return;
    }
    SetRunModeLines(link_);
    close();
}

void TfrmMain::ExitOnSignal(int signo)
{
    if (endingOnSignal_)
        return;
    endingOnSignal_ = true;
    link_.StopRequested = 1; // set by the signal already while this window was watched
    commands_.Log(EndingOnSignal(signo));
    Exit2Click();
}

// The about window is modal: not while a command runs, whose messages it
// would hold up.
void TfrmMain::About1Click()
{
    if (frmAboutQvx_ && !Busy() && !link_.StopRequested)
        frmAboutQvx_->exec();
}

Commands::FileChooser TfrmMain::Chooser(const std::function<std::optional<QString>()>& dialog) const
{
    return [this, dialog]() -> std::optional<std::string> {
        if (link_.StopRequested)
            return std::nullopt; // the program is ending: no dialog
        if (const std::optional<QString> path = dialog())
            return path->toStdString();
        return std::nullopt;
    };
}

void TfrmMain::Load1Click()
{
    int32_t end = -1;
    commands_.LoadCode(Chooser(hooks_.OpenFile), &end);
    if (end >= 0) // loaded, whether or not it fits the device
        RememberFile(selection_.HexFileName);
}

void TfrmMain::LoadNamedFile(const QString& path)
{
    if (link_.StopRequested)
        return; // the program is ending
    const std::string file = QFileInfo(path).absoluteFilePath().toStdString();
    int32_t end = -1;
    commands_.LoadCode([file]() -> std::optional<std::string> { return file; }, &end);
    if (end >= 0)
        RememberFile(file);
}

void TfrmMain::RecentFileClick(size_t n)
{
    if (Busy() || n >= recentFiles_.size())
        return;
    const std::string file = recentFiles_[n];
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
        Message(QStringLiteral("The file %1 no longer exists; it is taken off the recent files.")
                    .arg(QString::fromStdString(file)));
        Remember([&](SettingsFile& settings) {
            std::vector<std::string> files = RecentFiles(settings);
            std::erase(files, file);
            SetRecentFiles(settings, files);
        });
        std::erase(recentFiles_, file); // also when the settings cannot be written
        ShowRecentFiles();
        return;
    }
    LoadNamedFile(QString::fromStdString(file));
}

void TfrmMain::RememberFile(const std::string& path)
{
    const std::string folder = std::filesystem::path(path).parent_path().string();
    std::vector<std::string> files = WithRecentFile(recentFiles_, path);
    Remember([&](SettingsFile& settings) {
        // The other program, or another window, may have changed the list.
        files = WithRecentFile(RecentFiles(settings), path);
        SetRecentFiles(settings, files);
        settings.Set(kLastFolderKey, folder);
    });
    recentFiles_ = files;
    ShowRecentFiles();
    OpenDialog1->setDirectory(QString::fromStdString(folder));
    SaveDialog1->setDirectory(QString::fromStdString(folder));
}

void TfrmMain::ShowRecentFiles()
{
    for (qsizetype n = 0; n < RecentFileItems.size(); ++n) {
        QAction* item = RecentFileItems[n];
        const bool shown = size_t(n) < recentFiles_.size();
        item->setVisible(shown);
        if (!shown)
            continue;
        const QString path = QString::fromStdString(recentFiles_[size_t(n)]);
        // An ampersand in a path is no access key.
        item->setText(QStringLiteral("&%1 ").arg(n + 1) + QString(MenuPath(path)).replace(QLatin1Char('&'), QStringLiteral("&&")));
        item->setStatusTip(path);
        item->setToolTip(path);
    }
    N4->setVisible(!recentFiles_.empty());
}

std::string TfrmMain::Remember(const std::function<void(SettingsFile&)>& change)
{
    SettingsFile settings;
    std::string error = settings.Load();
    if (error.empty()) {
        change(settings);
        if (const std::string saved = settings.Save(); !saved.empty())
            error = "Cannot write the settings file " + settings.Path() + ": " + saved;
    }
    if (!error.empty())
        commands_.Log(error);
    return error;
}

std::optional<int32_t> TfrmMain::LoadHexFile() { return commands_.LoadHexFile(Chooser(hooks_.OpenFile)); }

void TfrmMain::SaveCodeAs1Click()
{
    std::string saved;
    const Outcome outcome = commands_.SaveCode([&, choose = Chooser(hooks_.SaveFile)]() {
        std::optional<std::string> path = choose();
        if (path)
            saved = *path;
        return path;
    });
    if (outcome == Outcome::Succeeded) {
        const QString folder = QFileInfo(QString::fromStdString(saved)).absolutePath();
        Remember([&](SettingsFile& settings) { settings.Set(kLastFolderKey, folder.toStdString()); });
        OpenDialog1->setDirectory(folder);
        SaveDialog1->setDirectory(folder);
    }
}

void TfrmMain::WriteLog(const std::string& line)
{
    CommandView::WriteLog(line);
    frmOperationLog->Append(QString::fromStdString(line));
}

void TfrmMain::OperationLog1Click() { ShowLog(true); }

void TfrmMain::ShowLog(bool activate)
{
    if (!frmOperationLog->isVisible()) {
        // Right of the main window, else below, left or above it.
        const QSize outer = frmOperationLog->size() + QSize(8, 36);
        frmOperationLog->move(PlaceBeside(frameGeometry(), outer, screen()->availableGeometry(), {0, 1, 2, 3}));
    }
    frmOperationLog->setAttribute(Qt::WA_ShowWithoutActivating, !activate);
    frmOperationLog->show();
    frmOperationLog->raise();
    if (activate)
        frmOperationLog->activateWindow();
}

void TfrmMain::SaveLogClick()
{
    const std::optional<QString> path = hooks_.SaveLog();
    if (!path)
        return;
    const std::string error = ReplaceFile(path->toStdString(), frmOperationLog->Text().toStdString());
    if (!error.empty())
        Message(QStringLiteral("Cannot write the file %1\n%2").arg(*path, QString::fromStdString(error)));
}

void TfrmMain::Ended(Outcome outcome)
{
    if ((outcome == Outcome::ChipFailed || outcome == Outcome::FileFailed) && !link_.StopRequested && isVisible())
        ShowLog(false); // in front of the user, who stays in the main window
}

void TfrmMain::Message(const QString& text) { commands_.ShowMessage(text.toStdString()); }

WrongChipChoice TfrmMain::AskWrongChip(const std::string& question, const Device* found)
{
    if (link_.StopRequested)
        return WrongChipChoice::Cancel; // nobody is there to answer
    return hooks_.AskWrongChip(QString::fromStdString(question),
                               found ? QString::fromLatin1(found->Name.data(), qsizetype(found->Name.size())) : QString());
}

// As if chosen from the Device menu.
void TfrmMain::DeviceSelected(const Device& device)
{
    ShowDevice(device.Code);
    Remember([&device](SettingsFile& settings) { settings.Set(kDeviceKey, std::string(device.Name)); });
}

void TfrmMain::ShowStatus(const std::string& text)
{
    const QString shown = QString::fromStdString(text);
    ShowFromStart(edtStatus, shown);
    if (frmDataMemory)
        ShowFromStart(frmDataMemory->edtDataStatus, shown);
    if (hooks_.Status)
        hooks_.Status(shown);
}

// The command layer has logged the message already; while the program ends
// on a stop signal nobody is there to acknowledge a box.
void TfrmMain::ShowMessage(const std::string& text)
{
    if (!link_.StopRequested)
        hooks_.Message(QString::fromStdString(text));
}

void TfrmMain::ShowFileName(const std::string& path) { ShowFromStart(edtFileName, QString::fromStdString(path)); }

void TfrmMain::Beep() { hooks_.Beep(); }

void TfrmMain::CommandEnded()
{
    if (closePending_) // the window was closed meanwhile: close it now
        close();
}

void TfrmMain::ProcessMessages() { QCoreApplication::processEvents(); }

void TfrmMain::SetControlEnabled(ChipControl control, bool enabled)
{
    switch (control) {
    case ChipControl::LoadFile: btnLoadFile->setEnabled(enabled); break;
    case ChipControl::Erase: btnErase->setEnabled(enabled); break;
    case ChipControl::Blank: btnBlank->setEnabled(enabled); break;
    case ChipControl::Program: btnProgram->setEnabled(enabled); break;
    case ChipControl::Verify: btnVerify->setEnabled(enabled); break;
    case ChipControl::Auto: btnAuto->setEnabled(enabled); break;
    case ChipControl::LockKey: SpeedButton1->setEnabled(enabled); break;
    case ChipControl::ReadChipMenu: ReadChip1->setEnabled(enabled); break;
    case ChipControl::ReadChip:
        btnReadChip->setEnabled(enabled);
        chipControls_ = enabled; // the data memory's chip buttons follow READ CHIP
        ShowDataMemoryState();
        break;
    case ChipControl::FuseWrite: btnFuse_Write->setEnabled(enabled); break;
    }
}

void TfrmMain::SetModeChecks(bool programModeChecked)
{
    ProgramMode1->setChecked(programModeChecked);
    RUNMode1->setChecked(!programModeChecked);
}

// Chip loops call this once per address. The bar is repainted when its
// value changes, and the window is kept painted every few dozen
// milliseconds; clicks that would start a command meanwhile are ignored.
void TfrmMain::SetProgress(int32_t position)
{
    if (ProgressBar1->value() != position) {
        ProgressBar1->setValue(position);
        ProgressBar1->repaint();
        if (frmDataMemory && frmDataMemory->isVisible()) {
            frmDataMemory->DataProgress->setValue(position);
            frmDataMemory->DataProgress->repaint();
        }
    }
    const auto now = std::chrono::steady_clock::now();
    if (Busy() && now - lastProcessed_ >= std::chrono::milliseconds(40)) {
        lastProcessed_ = now;
        ProcessMessages();
    }
}

// The rule of a lock box runs on the model; the boxes then show the model.
void TfrmMain::LockBoxClicked(int n, bool checked)
{
    qvx::SetLockBox(selection_.Locks, n, checked);
    MirrorLockBoxes();
}

void TfrmMain::MirrorLockBoxes()
{
    for (int n = 1; n <= 3; ++n) {
        QCheckBox* box = LockCheckBox(n);
        const QSignalBlocker quiet(box);
        box->setChecked(selection_.Locks.Box(n));
    }
}

void TfrmMain::ShowLockBoxes(const LockBoxes&) { MirrorLockBoxes(); }

void TfrmMain::ShowX2Clock(bool checked) { chk_x2Clock->setChecked(checked); }

void TfrmMain::ShowDataBuffer()
{
    if (!frmDataMemory)
        return; // not built yet
    frmDataMemory->grdData->Model().Show(commands_.DataBuffer());
    ProcessMessages();
}

void TfrmMain::ShowDataFileName(const std::string& path)
{
    ShowFromStart(frmDataMemory->edtDataFileName, QString::fromStdString(path));
}

void TfrmMain::ShowDataMemoryState()
{
    if (!frmDataMemory)
        return; // not built yet
    const Device* device = selection_.SelectedDevice();
    DataMemory1->setEnabled(device && device->HasDataMemory());
    frmDataMemory->ShowDevice(device, chipControls_);
}

void TfrmMain::DataMemory1Click()
{
    if (!DataMemory1->isEnabled())
        return;
    if (!frmDataMemory->isVisible()) {
        // Below the main window, else right, left or above it.
        const QSize outer = frmDataMemory->sizeHint() + QSize(8, 36);
        frmDataMemory->move(PlaceBeside(frameGeometry(), outer, screen()->availableGeometry(), {1, 0, 2, 3}));
    }
    frmDataMemory->DataProgress->setValue(ProgressBar1->value());
    frmDataMemory->show();
    frmDataMemory->raise();
    frmDataMemory->activateWindow();
}

void TfrmMain::DataLoadClick() { Ended(commands_.LoadData(Chooser(hooks_.OpenDataFile))); }

void TfrmMain::DataSaveClick() { Ended(commands_.SaveData(Chooser(hooks_.SaveDataFile))); }

void TfrmMain::ShowBuffer()
{
    StringGrid1->Model().Show(*buffer_);
    ResetAddress(*buffer_); // a complete walk of the buffer ends at 0000
    ProcessMessages();
}

} // namespace qvx
