#include "LogWindow.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

namespace qvx {

TfrmOperationLog::TfrmOperationLog(QWidget* parent, int maxLines) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmOperationLog"));
    setWindowTitle(QStringLiteral("Operation Log"));
    setModal(false);
    resize(640, 320);

    memLog = new QPlainTextEdit(this);
    memLog->setObjectName(QStringLiteral("memLog"));
    memLog->setReadOnly(true);
    memLog->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    memLog->setLineWrapMode(QPlainTextEdit::WidgetWidth); // a diagnosis is one long line
    memLog->setMaximumBlockCount(maxLines);
    memLog->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

    btnCopy = new QPushButton(QStringLiteral("&Copy"), this);
    btnCopy->setObjectName(QStringLiteral("btnCopy"));
    btnSave = new QPushButton(QStringLiteral("&Save As..."), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnClose = new QPushButton(QStringLiteral("Close"), this);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    for (QPushButton* button : {btnCopy, btnSave, btnClose})
        button->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnCopy);
    buttons->addWidget(btnSave);
    buttons->addStretch();
    buttons->addWidget(btnClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(memLog);
    layout->addLayout(buttons);

    connect(btnCopy, &QPushButton::clicked, this, &TfrmOperationLog::CopyToClipboard);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::close);
}

void TfrmOperationLog::Append(const QString& line)
{
    QScrollBar* bar = memLog->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    const int scrolled = bar->value();
    memLog->appendPlainText(line);
    bar->setValue(atEnd ? bar->maximum() : scrolled);
}

QString TfrmOperationLog::Text() const
{
    const QString text = memLog->toPlainText();
    return text.isEmpty() ? text : text + QLatin1Char('\n');
}

void TfrmOperationLog::CopyToClipboard()
{
    const QString selected = memLog->textCursor().selectedText();
    // A selection's line ends come as paragraph separators.
    QGuiApplication::clipboard()->setText(selected.isEmpty()
                                              ? Text()
                                              : QString(selected).replace(QChar::ParagraphSeparator, QLatin1Char('\n')));
}

} // namespace qvx
