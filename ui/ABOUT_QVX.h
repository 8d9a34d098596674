// The about window: product, version and the devices supported. Created
// once, hidden; "About" in the main window shows it modally, centred over
// the main window each time.
#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace qvx {

class PictureBox;

inline constexpr int kAboutClientWidth = 400;
inline constexpr int kAboutClientHeight = 186;

// The lines of the about text.
QStringList AboutText();

class TfrmAboutQvx : public QDialog {
    Q_OBJECT
public:
    // `mainWindow` is the window it centres itself over.
    explicit TfrmAboutQvx(QWidget* mainWindow);

    // Centres the window over the main window, from the outer size and
    // position of both, in integer arithmetic.
    void FormActivate();

    QLabel* Label1 = nullptr;
    PictureBox* Image1 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* btnOk = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* mainWindow_;
};

} // namespace qvx
