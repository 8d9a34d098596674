#include "ABOUT_QVX.h"
#include "Cables.h"
#include "Catalogue.h"
#include "Fonts.h"
#include "PictureBox.h"
#include "Version.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace qvx {

namespace {

template <class Widget>
Widget* Place(Widget* widget, const char* name, int left, int top, int width, int height)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(left, top, width, height);
    return widget;
}

const QColor kNavy(0, 0, 128);

void Colour(QLabel* label, const QColor& colour)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colour);
    label->setPalette(palette);
}

QFont Bold(QFont font)
{
    font.setBold(true);
    return font;
}

} // namespace

QStringList AboutText()
{
    QStringList lines = {
        QString(),
        QStringLiteral("QVX-ISP for the AT89S Series"),
        QStringLiteral("PC Based Software (In System Programming)"),
        QString(),
        QStringLiteral("Software Version Information"),
        QStringLiteral("QVX-ISP AT89S Series Version " QVX_VERSION),
        QStringLiteral("supports the following devices:"),
        QString(),
    };
    for (const Device& device : Devices())
        lines << QString::fromLatin1(device.Name.data(), qsizetype(device.Name.size()));
    lines << QString() << QStringLiteral("It also supports the use of LPT1 and LPT2.") << QString()
          << QStringLiteral("Cables it drives:") << QStringLiteral("the PC parallel port, LPT1 and LPT2");
    for (const Cable& cable : Cables())
        lines << QString::fromLatin1(cable.Name);
    lines << QStringLiteral("a simulated cable and chip") << QString() << QStringLiteral("Distribution") << QStringLiteral("Free software: you may pass it on and")
          << QStringLiteral("change it under the GNU General Public")
          << QStringLiteral("License, version 3 or later. It comes")
          << QStringLiteral("without any warranty; check every")
          << QStringLiteral("programmed chip before use.");
    return lines;
}

TfrmAboutQvx::TfrmAboutQvx(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                              Qt::MSWindowsFixedSizeDialogHint),
      mainWindow_(mainWindow)
{
    setObjectName(QStringLiteral("frmAboutQvx"));
    setWindowTitle(QStringLiteral("About QVX"));
    setFont(WindowFont());
    setModal(true);
    setFixedSize(kAboutClientWidth, kAboutClientHeight);

    Label1 = Place(new QLabel(QStringLiteral("QVX-ISP"), this), "Label1", 216, 8, 176, 16);
    Label1->setFont(Bold(LargeWindowFont()));

    Image1 = Place(new PictureBox(this), "Image1", 8, 24, 129, 81);
    Image1->LoadJpeg(QStringLiteral(":/images/about.jpg"));

    Memo1 = Place(new QPlainTextEdit(this), "Memo1", 152, 24, 241, 129);
    Memo1->setPlainText(AboutText().join(QLatin1Char('\n')));
    Memo1->setReadOnly(true);
    Memo1->setFocusPolicy(Qt::StrongFocus);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth); // long lines wrap at the box's edge
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    Label2 = Place(new QLabel(QStringLiteral("AT89S SERIES"), this), "Label2", 8, 112, 132, 40);
    Label2->setFont(Bold(AngsanaFont()));
    Colour(Label2, kNavy);

    Label4 = Place(new QLabel(QStringLiteral("In-System Programming"), this), "Label4", 3, 160, 140, 13);
    Label4->setFont(Bold(TahomaFont()));
    Colour(Label4, kNavy);

    Label3 = Place(new QLabel(QStringLiteral("Version " QVX_VERSION), this), "Label3", 153, 160, 62, 13);
    Label3->setFont(Bold(TahomaFont()));
    Colour(Label3, kNavy);

    btnOk = Place(new QPushButton(QStringLiteral("OK"), this), "btnOk", 312, 156, 75, 25);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    // Tab order: OK first, then the text.
    setTabOrder(btnOk, Memo1);
    btnOk->setFocus();
}

void TfrmAboutQvx::FormActivate()
{
    if (!mainWindow_)
        return;
    const QRect main = mainWindow_->frameGeometry();
    const QRect self = frameGeometry();
    const int left = main.left() + main.width() / 2 - self.width() / 2;
    const int top = main.top() + main.height() / 2 - self.height() / 2;
    move(left, top);
}

void TfrmAboutQvx::showEvent(QShowEvent* event)
{
    FormActivate();
    QDialog::showEvent(event);
}

} // namespace qvx
