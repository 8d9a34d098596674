#include "DataMemory.h"
#include "Fonts.h"
#include "HexView.h"
#include "ISP_S8252.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace qvx {

namespace {

QPushButton* Button(QWidget* parent, const char* name, const char* caption)
{
    auto* button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAutoDefault(false);
    QFont font = button->font();
    font.setBold(true);
    button->setFont(font);
    return button;
}

} // namespace

TfrmDataMemory::TfrmDataMemory(TfrmMain& main) : QDialog(&main), main_(main)
{
    setObjectName(QStringLiteral("frmDataMemory"));
    setWindowTitle(QStringLiteral("Data Memory"));
    setModal(false);
    setFont(WindowFont());

    auto* fileLabel = new QLabel(QStringLiteral("File Name"), this);
    edtDataFileName = new QLineEdit(this);
    edtDataFileName->setObjectName(QStringLiteral("edtDataFileName"));
    edtDataFileName->setReadOnly(true);

    grdData = new HexGrid(this, kDataMemory.Size);
    grdData->setObjectName(QStringLiteral("grdData"));
    grdData->setFixedSize(361, 305);

    btnDataLoad = Button(this, "btnDataLoad", "Load...");
    btnDataSave = Button(this, "btnDataSave", "Save As...");
    btnDataRead = Button(this, "btnDataRead", "Read");
    btnDataProgram = Button(this, "btnDataProgram", "Program");
    btnDataVerify = Button(this, "btnDataVerify", "Verify");

    lblDataDevice = new QLabel(this);
    lblDataDevice->setObjectName(QStringLiteral("lblDataDevice"));
    lblDataDevice->setWordWrap(true);
    lblDataErase = new QLabel(QStringLiteral("Chip erase (ERASE, AUTO-PROGRAM) erases the data memory too. "
                                             "With a file loaded here, AUTO-PROGRAM programs and verifies it "
                                             "after the code."),
                              this);
    lblDataErase->setObjectName(QStringLiteral("lblDataErase"));
    lblDataErase->setWordWrap(true);

    edtDataStatus = new QLineEdit(this);
    edtDataStatus->setObjectName(QStringLiteral("edtDataStatus"));
    edtDataStatus->setReadOnly(true);
    edtDataStatus->setFocusPolicy(Qt::NoFocus);
    QPalette status = edtDataStatus->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        status.setColor(group, QPalette::Base, QColor(0, 255, 255)); // as the main window's status field
        status.setColor(group, QPalette::Text, QColor(0, 0, 128));
    }
    edtDataStatus->setPalette(status);
    DataProgress = new QProgressBar(this);
    DataProgress->setObjectName(QStringLiteral("DataProgress"));
    DataProgress->setRange(0, 100);
    DataProgress->setTextVisible(false);
    DataProgress->setFixedHeight(17);

    auto* file = new QHBoxLayout;
    file->addWidget(fileLabel);
    file->addWidget(edtDataFileName);
    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {btnDataLoad, btnDataSave, btnDataRead, btnDataProgram, btnDataVerify}) {
        button->setFixedSize(121, 25);
        buttons->addWidget(button);
    }
    buttons->addSpacing(8);
    buttons->addWidget(edtDataStatus);
    buttons->addWidget(DataProgress);
    buttons->addStretch();
    auto* middle = new QHBoxLayout;
    middle->addLayout(buttons);
    middle->addWidget(grdData);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(file);
    layout->addLayout(middle);
    layout->addWidget(lblDataDevice);
    layout->addWidget(lblDataErase);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    lblDataDevice->setFixedWidth(121 + 361 + layout->spacing());
    lblDataErase->setFixedWidth(lblDataDevice->width());

    connect(btnDataLoad, &QPushButton::clicked, this, &TfrmDataMemory::btnDataLoadClick);
    connect(btnDataSave, &QPushButton::clicked, this, &TfrmDataMemory::btnDataSaveClick);
    connect(btnDataRead, &QPushButton::clicked, this, &TfrmDataMemory::btnDataReadClick);
    connect(btnDataProgram, &QPushButton::clicked, this, &TfrmDataMemory::btnDataProgramClick);
    connect(btnDataVerify, &QPushButton::clicked, this, &TfrmDataMemory::btnDataVerifyClick);
}

void TfrmDataMemory::ShowDevice(const Device* device, bool chipControls)
{
    const bool data = device && device->HasDataMemory();
    for (QPushButton* button : {btnDataRead, btnDataProgram, btnDataVerify})
        button->setEnabled(data && chipControls);
    const QString name = device ? QString::fromLatin1(device->Name.data(), qsizetype(device->Name.size()))
                                : QStringLiteral("device typed in");
    if (data) {
        const QString last = QStringLiteral("%1").arg(device->Data.Size - 1, 4, 16, QLatin1Char('0')).toUpper();
        lblDataDevice->setText(
            QStringLiteral("%1: %2 KB data EEPROM, 0000 to %3.").arg(name).arg(device->Data.Size / 1024).arg(last));
    } else {
        lblDataDevice->setText(QStringLiteral("The %1 has no data memory: choose the AT89S8252 or AT89S8253 in the "
                                              "Device menu to read, program or verify one.")
                                   .arg(name));
    }
}

void TfrmDataMemory::btnDataLoadClick() { main_.DataLoadClick(); }

void TfrmDataMemory::btnDataSaveClick() { main_.DataSaveClick(); }

void TfrmDataMemory::btnDataReadClick() { main_.Ended(main_.Programmer().ReadData()); }

void TfrmDataMemory::btnDataProgramClick() { main_.Ended(main_.Programmer().ProgramData()); }

void TfrmDataMemory::btnDataVerifyClick() { main_.Ended(main_.Programmer().VerifyData()); }

} // namespace qvx
