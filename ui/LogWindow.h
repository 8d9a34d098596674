// The "Operation Log" window: every line the command layer logs (status
// texts, messages, where a check failed, checksums), each with its time of
// day, kept while the program runs. Its text can be selected and copied;
// "Copy" takes the selection, or everything when nothing is selected, and
// "Save As..." hands the text to the main window to write.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace qvx {

// The lines the window keeps; the oldest go first. Some ten a chip, so a
// day's production run fits, and the memory stays below a few megabytes.
inline constexpr int kOperationLogLines = 20000;

class TfrmOperationLog : public QDialog {
    Q_OBJECT
public:
    explicit TfrmOperationLog(QWidget* parent, int maxLines = kOperationLogLines);

    // One line at the end; the view follows it unless the user has
    // scrolled up to read.
    void Append(const QString& line);
    // Every line kept, each ended by a line feed.
    QString Text() const;
    // Puts the selection, or the whole log, on the clipboard.
    void CopyToClipboard();

    QPlainTextEdit* memLog = nullptr;
    QPushButton* btnCopy = nullptr;
    QPushButton* btnSave = nullptr;
    QPushButton* btnClose = nullptr;
};

} // namespace qvx
