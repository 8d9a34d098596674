// The main window: the command column on the left, the hex view of the code
// buffer on the right, and the menu bar. It owns the program's state for the
// whole run (link, code buffer, selection) and presents the command layer:
// its handlers start the layer's commands, and it shows what the layer
// reports (status texts, messages, progress, the check boxes).
#pragma once

#include <initializer_list>

#include "CodeBuffer.h"
#include "CommandView.h"
#include "Commands.h"
#include "ExitSignals.h"
#include "Link.h"
#include "PortAccess.h"
#include "ChipOps.h"
#include "Selection.h"
#include "Settings.h"
#include "Version.h"

#include <QMainWindow>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;

namespace qvx {

class HexGrid;
class PictureBox;
class TfrmAboutQvx;
class TfrmDataMemory;
class TfrmOperationLog;
struct Cable;

// The application title, as the task list shows it.
inline constexpr char kApplicationTitle[] = "QVX-ISP V" QVX_VERSION;
// The main window's caption (two blanks before the V).
inline constexpr char kMainCaption[] = "QVX-ISP  V" QVX_VERSION;
// The filter of the file dialog for loading code, entries as
// "name|patterns" (patterns separated by ";").
inline constexpr char kOpenDialogFilter[] = "Hex File Format|*.hex;*.ihx|All Files|*|Binary File|*.bin";
// The filter of the dialog for saving code.
inline constexpr char kSaveDialogFilter[] = "Hex File Format|*.hex|Binary File|*.bin";

// Client area and design position of the main window.
inline constexpr int kClientWidth = 656;
inline constexpr int kClientHeight = 344;
inline constexpr int kDesignLeft = 517;
inline constexpr int kDesignTop = 555;

// Where a window of the given outer size opens: at the design position when
// it fits in the screen's free area, otherwise moved back just far enough to
// lie wholly inside it (a laptop screen is smaller than 517 + 656 by
// 555 + 370), and never above or left of the free area.
QPoint PlaceOnScreen(QPoint design, QSize outer, const QRect& available);

// Where a window of `outer` size opens beside the main window `main`: the
// first of `sides` (0 right, 1 below, 2 left, 3 above) where it lies wholly
// on the screen and so covers nothing of it, else the first side, kept on
// the screen.
QPoint PlaceBeside(const QRect& main, QSize outer, const QRect& available, std::initializer_list<int> sides);

// "name|patterns|name|patterns" as the name filters of a Qt file dialog:
// "name (patterns)".
QStringList FileDialogFilters(const QString& filter);

// Sets the application title (Qt's application name). Part of the start.
void SetApplicationTitle();

// The target crystal: the frequencies the setting offers, and the range a
// value typed in may take.
inline constexpr uint32_t kCommonCrystalsHz[] = {3'579'545,  4'000'000,  6'000'000,  7'372'800,  8'000'000,
                                                 10'000'000, 11'059'200, 12'000'000, 14'745'600, 16'000'000,
                                                 18'432'000, 20'000'000, 22'118'400, 24'000'000, 33'000'000};
// "11.0592 MHz".
QString CrystalText(uint32_t hz);
// A crystal as the user types it: "11.0592", "11.0592 MHz", "12MHz",
// "3579.545 kHz", "11059200 Hz" or "11059200"; a bare number below 1000 is in
// megahertz, from 1000 on in hertz. Nothing for text that is no frequency
// or lies outside kMinCrystalHz to kMaxCrystalHz.
std::optional<uint32_t> ParseCrystal(const QString& text);

class TfrmMain : public QMainWindow, public CommandView {
    Q_OBJECT
public:
    // The places where the window meets the user or the system outside its
    // own widgets. Each one left empty gets the real thing; tests put their
    // own in, so that nothing ever waits on a modal box.
    struct Hooks {
        // A modal message box with an OK button.
        std::function<void(const QString& text)> Message;
        // OpenDialog1: the chosen path, or nothing when cancelled.
        std::function<std::optional<QString>()> OpenFile;
        // SaveDialog1: the path to write, or nothing when cancelled.
        std::function<std::optional<QString>()> SaveFile;
        // The system's default beep.
        std::function<void()> Beep;
        // The time of day as text to the second, for the wait calibration.
        TimeSource Clock;
        // Told each status text as it is shown (nothing by default).
        std::function<void(const QString& text)> Status;
        // The places CONFIG.QVX is looked for at creation, first found read.
        std::function<std::vector<std::string>()> ConfigPlaces;
        // "Target crystal...": the text chosen or typed from the offered
        // choices, `current` preselected; nothing when cancelled.
        std::function<std::optional<QString>(const QStringList& choices, const QString& current)> AskCrystal;
        // A cable's dialog from the Port menu: the values of its fields,
        // `values` shown first; nothing when cancelled.
        std::function<std::optional<QStringList>(const Cable& cable, const QStringList& values)> AskCable;
        // Opens the port backend of a port form (null, with `error`, when
        // the form is refused).
        std::function<std::unique_ptr<PortAccess>(const std::string& spec, std::string& error)> OpenPort;
        // The first-run message of a cable that cannot be used: true when
        // the user chooses another cable (the window stays), false to close.
        std::function<bool(const QString& text)> FirstRun;
        // The Operation Log's "Save As..." dialog: the path, or nothing.
        std::function<std::optional<QString>()> SaveLog;
        // The Data Memory window's "Load..." and "Save As..." dialogs: the
        // path, or nothing when cancelled.
        std::function<std::optional<QString>()> OpenDataFile;
        std::function<std::optional<QString>()> SaveDataFile;
        // A chip of another device than the one selected: `question` names
        // both; `found` is the device the chip's signature names (empty for
        // none). Cancel is the default.
        std::function<WrongChipChoice(const QString& question, const QString& found)> AskWrongChip;
    };

    // Creates the window and runs its creation handler (FormCreate) against
    // `port`, which must outlive the window.
    explicit TfrmMain(PortAccess& port, Hooks hooks = {}, QWidget* parent = nullptr);
    // The same on a port the window owns from now on, opened for `cable`.
    TfrmMain(std::unique_ptr<PortAccess> port, PortChoice cable, Hooks hooks = {}, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The about window that "About" shows; created after this window.
    void SetAboutWindow(TfrmAboutQvx* about) { frmAboutQvx_ = about; }

    // Program state, one instance each for the whole run.
    LinkState& Link() { return link_; }
    // The cable in use: its port form and what chose it.
    const PortChoice& CableChoice() const { return cable_; }
    CodeBuffer& Buffer() { return *buffer_; }
    Selection& Chosen() { return selection_; }
    Hooks& WindowHooks() { return hooks_; }
    // The command layer this window presents.
    Commands& Programmer() { return commands_; }
    // True when the selected device has the "x2 Clock" user fuse.
    bool FuseDevice() const;

    // Handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void Load1Click();
    void SaveCodeAs1Click();
    void Exit2Click();
    void About1Click();
    // Recent files: loads the file of the n-th item (0 the newest); one
    // that no longer exists is reported and taken off the list.
    void RecentFileClick(size_t n);
    // Loads `path` as "&Load Code" does with it chosen (the file named on
    // the command line).
    void LoadNamedFile(const QString& path);
    // A stop signal (SIGINT, SIGTERM, SIGHUP) came: the running command
    // stops at its next byte and the window ends as E&xit ends it. From
    // now on messages go to the operation log only and no file dialog
    // opens, so nothing waits for the user.
    void ExitOnSignal(int signo);

    // Device, port and option selection. One handler serves the seven device
    // menu items, given the item's device code.
    void DeviceMenuClick(int32_t code);
    void cmbDeviceChange();
    void LPT11Click();
    void LPT21Click();
    // The Port menu's item of Cables()[index]: its dialog, then the cable.
    void CableMenuClick(size_t index);
    void ProgramMode1Click();
    void RUNMode1Click();
    void btnModeClick();
    void AutoRUNafterprogram1Click();
    void AutoReloadFile1Click();
    void TargetCrystal1Click();
    // "Data Memory...": shows the Data Memory window (enabled for the
    // devices with a data memory).
    void DataMemory1Click();
    // The Data Memory window's "Load..." and "Save As...".
    void DataLoadClick();
    void DataSaveClick();
    // "Operation Log": shows the log window.
    void OperationLog1Click();
    void SaveLogClick();
    void Image1DblClick();

    // Chip commands.
    void btnEraseClick();
    void btnBlankClick();
    void btnVerifyClick();
    void btnProgramClick();
    void btnAutoClick();
    void ReadChip1Click();
    void SpeedButton1Click();
    void btnFuse_WriteClick();
    // "Detect Chip": the chip on the cable found, selected when its
    // signature names it, and what was found shown in a box.
    void DetectChip1Click();

    // True while a command runs; clicks that would start another are ignored.
    bool Busy() const { return commands_.Busy(); }
    // A chip command has ended: a failure brings the Operation Log up.
    void Ended(Outcome outcome);

    // Clears the buffer, asks for a file with OpenDialog1 and loads it.
    // Returns the end address (0 when the dialog was cancelled), or nothing
    // when the file could not be read or is invalid (already reported).
    std::optional<int32_t> LoadHexFile();

    // The front panel of the chip operations as the command layer keeps it:
    // status texts and messages also go to the operation log, the lock
    // boxes run their rules, the options and the x2 Clock box are the
    // selection's.
    void SetStatus(const std::string& text) { commands_.SetStatus(text); }
    void SetLockBox(int n, bool checked) { commands_.SetLockBox(n, checked); }
    bool LockBox(int n) const { return selection_.Locks.Box(n); }
    void SetX2Clock(bool checked) { commands_.SetX2Clock(checked); }
    bool X2Clock() const { return selection_.X2Clock; }
    bool AutoReload() const { return selection_.AutoReload; }
    std::optional<int32_t> ReloadHexFile() { return commands_.ReloadHexFile(); }

    // CommandView: what the command layer shows in the window.
    void ShowStatus(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    void ProcessMessages() override;
    void SetControlEnabled(ChipControl control, bool enabled) override;
    void SetModeChecks(bool programModeChecked) override;
    void SetProgress(int32_t position) override;
    void ShowLockBoxes(const LockBoxes& boxes) override;
    void ShowX2Clock(bool checked) override;
    void ShowBuffer() override;
    void ShowFileName(const std::string& path) override;
    void ShowDataBuffer() override;
    void ShowDataFileName(const std::string& path) override;
    void Beep() override;
    void CommandEnded() override;
    WrongChipChoice AskWrongChip(const std::string& question, const Device* found) override;
    void DeviceSelected(const Device& device) override;
    // To standard error, and to the Operation Log window.
    void WriteLog(const std::string& line) override;

    // Shows a message through the message hook, and logs it.
    void Message(const QString& text);

    // Controls, named as in the window design.
    QLabel* Label1 = nullptr;
    QLineEdit* edtFileName = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QPushButton* btnLoadFile = nullptr;
    QPushButton* btnReadChip = nullptr;
    QPushButton* btnErase = nullptr;
    QPushButton* btnBlank = nullptr;
    QPushButton* btnProgram = nullptr;
    QPushButton* btnVerify = nullptr;
    QPushButton* btnAuto = nullptr;
    QComboBox* cmbDevice = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QCheckBox* chkLock1 = nullptr;
    QCheckBox* chkLock2 = nullptr;
    QCheckBox* chkLock3 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QCheckBox* chk_x2Clock = nullptr;
    QPushButton* btnFuse_Write = nullptr;
    PictureBox* Image1 = nullptr;
    QPushButton* btnMode = nullptr;
    QLineEdit* edtStatus = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    HexGrid* StringGrid1 = nullptr;
    QFileDialog* OpenDialog1 = nullptr;
    QFileDialog* SaveDialog1 = nullptr;
    TfrmOperationLog* frmOperationLog = nullptr;
    TfrmDataMemory* frmDataMemory = nullptr;

    // Menu bar.
    QMenu* Files1 = nullptr;
    QAction* Load1 = nullptr;
    QAction* SaveCodeAs1 = nullptr;
    QAction* Exit1 = nullptr; // separator
    QAction* ReadChip1 = nullptr;
    QAction* N2 = nullptr; // separator
    QList<QAction*> RecentFileItems; // the recent files, newest first
    QAction* N4 = nullptr;           // separator below them, shown with them
    QAction* Exit2 = nullptr;
    QMenu* Device1 = nullptr;
    QAction* AT89S511 = nullptr;
    QAction* AT89S521 = nullptr;
    QAction* AT89S531 = nullptr;
    QAction* AT89S82521 = nullptr;
    QAction* AT89S82531 = nullptr;
    QAction* AT89S20511 = nullptr;
    QAction* AT89S40511 = nullptr;
    QAction* N6 = nullptr; // separator
    QAction* DataMemory1 = nullptr;
    QAction* N7 = nullptr; // separator
    QAction* DetectChip1 = nullptr;
    QMenu* Port1 = nullptr;
    QAction* LPT11 = nullptr;
    QAction* LPT21 = nullptr;
    QAction* N5 = nullptr;         // separator
    QList<QAction*> CableItems;    // one for each of Cables()
    QMenu* Option1 = nullptr;
    QAction* ProgramMode1 = nullptr;
    QAction* RUNMode1 = nullptr;
    QAction* N1 = nullptr; // separator
    QAction* AutoRUNafterprogram1 = nullptr;
    QAction* AutoReloadFile1 = nullptr;
    QAction* N3 = nullptr; // separator
    QAction* TargetCrystal1 = nullptr;
    QAction* OperationLog1 = nullptr;
    QAction* About1 = nullptr;

    // The lock boxes and the device menu items by number, 1 to 3 and 0 to 6.
    QCheckBox* LockCheckBox(int n) const;
    QAction* DeviceMenuItem(int code) const;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void SetTabOrder();
    void MirrorLockBoxes();
    void LockBoxClicked(int n, bool checked);
    void SelectPort(uint16_t dataPort);
    // LPT1 or LPT2: the parallel port (or the simulated cable's register
    // addresses); from another cable, the parallel port again.
    void ChooseLpt(uint16_t dataPort);
    // Opens `spec` in place of the cable in use and checks that it can be
    // used; the old one is left with the run-mode lines and closed, the new
    // one takes program mode. When the new one cannot be used, the message
    // says why and the window keeps the cable it had. `dataPort`, when
    // given, is the register address from then on.
    bool SwitchCable(const std::string& spec, const QString& name, std::optional<uint16_t> dataPort = {});
    // The check marks of the Port menu for the cable in use.
    void ShowPortChecks();
    // The device menu, the device box and the fuse controls for `code`.
    void ShowDevice(int32_t code);
    // Changes the settings file both programs read; an error is logged and
    // returned.
    std::string Remember(const std::function<void(SettingsFile&)>& change);
    // After a load: the file at the top of the recent files, its folder the
    // dialogs' folder.
    void RememberFile(const std::string& path);
    void ShowRecentFiles();
    // What the first-run message adds below the port's diagnosis: the
    // cables there are, how to choose one, what chose this one, and which
    // CONFIG.QVX was read.
    QString CableAdvice() const;
    // The Data Memory item and window for the device selected.
    void ShowDataMemoryState();
    // Shows the Operation Log beside the main window, made the active
    // window or not.
    void ShowLog(bool activate);
    void SelectMode(bool program);
    // Outer width of the window, frame included.
    int OuterWidth() const;
    void SetOuterWidth(int width);
    // The open and save hooks as the command layer asks for a file.
    Commands::FileChooser Chooser(const std::function<std::optional<QString>()>& dialog) const;

    Hooks hooks_;
    // The port the window opened (a cable chosen from the Port menu) or was
    // given; outlives the link's watch, which a crash reads it through.
    std::unique_ptr<PortAccess> ownedPort_;
    PortChoice cable_;
    std::string configRead_;                  // the CONFIG.QVX found at start; empty when none
    bool configReadable_ = false;             // and read
    std::vector<std::string> recentFiles_;    // newest first
    std::vector<QStringList> cableAnswers_;   // what each cable's dialog was last given
    LinkState link_;
    WatchedLink watchedLink_{link_}; // stopped by a stop signal, released by a crash
    std::unique_ptr<CodeBuffer> buffer_;
    Selection selection_;
    Commands commands_{link_, *buffer_, selection_, *this};
    TfrmAboutQvx* frmAboutQvx_ = nullptr;
    bool activated_ = false;
    bool closePending_ = false; // the window was closed during a command
    bool endingOnSignal_ = false;
    bool chipControls_ = true; // the chip controls are enabled (program mode)
    std::chrono::steady_clock::time_point lastProcessed_{};
};

} // namespace qvx
