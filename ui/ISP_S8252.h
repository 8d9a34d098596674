// The main window: the command column on the left, the hex view of the code
// buffer on the right, and the menu bar. It owns the program's state for the
// whole run (link, code buffer, selection) and is the front panel through
// which the programmer code shows status texts, messages, progress and the
// check boxes.
#pragma once

#include "CodeBuffer.h"
#include "FrontPanel.h"
#include "Link.h"
#include "PortAccess.h"
#include "ChipOps.h"
#include "Selection.h"
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
struct HexResult;
class TfrmAboutQvx;

// The application title, as the task list shows it.
inline constexpr char kApplicationTitle[] = "QVX-ISP V" QVX_VERSION;
// The main window's caption (two blanks before the V).
inline constexpr char kMainCaption[] = "QVX-ISP  V" QVX_VERSION;
// The filter of the HEX file dialog, entries as "name|patterns".
inline constexpr char kOpenDialogFilter[] = "Hex File Format|*.hex|All Files|*.*";

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

// "name|patterns|name|patterns" as the name filters of a Qt file dialog:
// "name (patterns)".
QStringList FileDialogFilters(const QString& filter);

// Sets the application title (Qt's application name). Part of the start.
void SetApplicationTitle();

class TfrmMain : public QMainWindow, public FrontPanel {
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
        // The system's default beep.
        std::function<void()> Beep;
        // The time of day as text to the second, for the wait calibration.
        TimeSource Clock;
        // Told each status text as it is shown (nothing by default).
        std::function<void(const QString& text)> Status;
        // The places CONFIG.QVX is looked for at creation, first found read.
        std::function<std::vector<std::string>()> ConfigPlaces;
    };

    // Creates the window and runs its creation handler (FormCreate) against
    // `port`, which must outlive the window.
    explicit TfrmMain(PortAccess& port, Hooks hooks = {}, QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The about window that "About" shows; created after this window.
    void SetAboutWindow(TfrmAboutQvx* about) { frmAboutQvx_ = about; }

    // Program state, one instance each for the whole run.
    LinkState& Link() { return link_; }
    CodeBuffer& Buffer() { return *buffer_; }
    Selection& Chosen() { return selection_; }
    Hooks& WindowHooks() { return hooks_; }
    // True when the selected device has the "x2 Clock" user fuse.
    bool FuseDevice() const;

    // Handlers.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void Load1Click();
    void Exit2Click();
    void About1Click();

    // Device, port and option selection. One handler serves the seven device
    // menu items, given the item's device code.
    void DeviceMenuClick(int32_t code);
    void cmbDeviceChange();
    void LPT11Click();
    void LPT21Click();
    void ProgramMode1Click();
    void RUNMode1Click();
    void btnModeClick();
    void AutoRUNafterprogram1Click();
    void AutoReloadFile1Click();
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

    // True while a command runs; clicks that would start another are ignored.
    bool Busy() const { return busy_; }

    // Clears the buffer, asks for a file with OpenDialog1 and loads it.
    // Returns the end address (0 when the dialog was cancelled), or nothing
    // when the file could not be read or is invalid (already reported).
    std::optional<int32_t> LoadHexFile();

    // FrontPanel.
    void SetStatus(const std::string& text) override;
    void ProcessMessages() override;
    void ShowMessage(const std::string& text) override;
    void SetControlEnabled(ChipControl control, bool enabled) override;
    void SetModeChecks(bool programModeChecked) override;
    void SetProgress(int32_t position) override;
    void SetLockBox(int n, bool checked) override;
    bool LockBox(int n) const override;
    void SetX2Clock(bool checked) override;
    bool X2Clock() const override;
    void ShowBuffer() override;
    bool AutoReload() const override;
    std::optional<int32_t> ReloadHexFile() override;

    // Shows a message through the message hook.
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

    // Menu bar.
    QMenu* Files1 = nullptr;
    QAction* Load1 = nullptr;
    QAction* Exit1 = nullptr; // separator
    QAction* ReadChip1 = nullptr;
    QAction* N2 = nullptr; // separator
    QAction* Exit2 = nullptr;
    QMenu* Device1 = nullptr;
    QAction* AT89S511 = nullptr;
    QAction* AT89S521 = nullptr;
    QAction* AT89S531 = nullptr;
    QAction* AT89S82521 = nullptr;
    QAction* AT89S82531 = nullptr;
    QAction* AT89S20511 = nullptr;
    QAction* AT89S40511 = nullptr;
    QMenu* Port1 = nullptr;
    QAction* LPT11 = nullptr;
    QAction* LPT21 = nullptr;
    QMenu* Option1 = nullptr;
    QAction* ProgramMode1 = nullptr;
    QAction* RUNMode1 = nullptr;
    QAction* N1 = nullptr; // separator
    QAction* AutoRUNafterprogram1 = nullptr;
    QAction* AutoReloadFile1 = nullptr;
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
    // Starts a command: false (and nothing done) while another one runs.
    // `needsDevice`: a chip command, refused with a status text when no
    // device is selected.
    bool StartCommand(bool needsDevice);
    void FinishCommand();
    ChipSession Session();
    // A command that shows `starting`, runs `operation` on the chip, then
    // (unless the chip refused) enters program mode and shows the text the
    // operation left in `finished`.
    void RunCheckedCommand(const std::string& starting,
                           const std::function<OpResult(ChipSession&, std::string& finished)>& operation);
    void SelectPort(uint16_t dataPort);
    void SelectMode(bool program);
    // Shows the status of a refused operation; true when `result` is one.
    bool Refused(OpResult result);
    // The lock write of the selected device at the current lock level, then
    // its status text. False when it failed (its reason has been shown).
    bool WriteLock();
    // Outer width of the window, frame included.
    int OuterWidth() const;
    void SetOuterWidth(int width);
    // Reports a HEX file that could not be loaded. Returns nothing.
    std::optional<int32_t> HexLoadFailed(const std::string& path, const HexResult& result);

    Hooks hooks_;
    LinkState link_;
    std::unique_ptr<CodeBuffer> buffer_;
    Selection selection_;
    TfrmAboutQvx* frmAboutQvx_ = nullptr;
    bool activated_ = false;
    bool busy_ = false;
    bool closePending_ = false; // the window was closed during a command
    std::chrono::steady_clock::time_point lastProcessed_{};
};

} // namespace qvx
