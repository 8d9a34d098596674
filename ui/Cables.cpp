#include "Cables.h"
#include "PortOptions.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QVBoxLayout>

namespace qvx {

namespace {

// The GPIO chips the kernel offers, by their device names.
QStringList GpioChips()
{
    return QDir(QStringLiteral("/dev")).entryList({QStringLiteral("gpiochip*")}, QDir::System | QDir::Files,
                                                  QDir::Name);
}

// The serial ports an Arduino may be on: USB CDC boards (/dev/ttyACMn) and
// those with a USB serial chip (/dev/ttyUSBn).
QStringList SerialPorts()
{
    QStringList ports;
    for (const QString& name : QDir(QStringLiteral("/dev"))
                                   .entryList({QStringLiteral("ttyACM*"), QStringLiteral("ttyUSB*")},
                                              QDir::System | QDir::Files, QDir::Name))
        ports << QStringLiteral("/dev/") + name;
    return ports;
}

std::string Text(const QString& value) { return value.trimmed().toStdString(); }

} // namespace

const std::vector<Cable>& Cables()
{
    static const std::vector<Cable> cables = {
        {"FT232RUSBcable1", "FT232R USB cable...", "FT232R USB cable", "ftdi", "ftdi",
         "An FTDI FT232R (USB ID 0403:6001) in synchronous bit-bang mode. Leave the serial number empty to "
         "use the first FT232R found; lsusb -v shows a cable's serial number as iSerial. The pin map names "
         "the pins of MOSI/MISO/SCK/RST and an optional sense line: txd, rxd, rts, cts, dtr, dsr, dcd, ri "
         "or d0 to d7.",
         {{"serial", "Serial number:", "empty: the first FT232R found"},
          {"pins", "Pin map:", "txd/rxd/rts/dtr"},
          {"rate", "Bit-bang rate:", "1000000 bytes a second"}}},
        {"GPIOlines1", "GPIO lines...", "GPIO lines", "gpio", "gpio:gpiochip0,rst=25,mosi=10,sck=11,miso=9",
         "Linux GPIO lines of one GPIO chip, numbered as gpioinfo lists them. A Raspberry Pi's header is "
         "gpiochip0 (the chip labelled pinctrl-rp1 on a Raspberry Pi 5); its SPI0 pins are the lines filled "
         "in. The sense line is optional.",
         {{"", "GPIO chip:", "gpiochip0", GpioChips},
          {"rst", "RST line:", "25"},
          {"mosi", "MOSI line:", "10"},
          {"sck", "SCK line:", "11"},
          {"miso", "MISO line:", "9"},
          {"sense", "Sense line:", "none"}}},
        {"ArduinoasISP1", "Arduino as ISP...", "Arduino as ISP", "arduino", "arduino:/dev/ttyACM0",
         "An Arduino running the ArduinoISP example sketch (File > Examples > ArduinoISP in the Arduino IDE), "
         "its pins 10, 11, 12 and 13 wired to the target's RST, MOSI, MISO and SCK, and a 10 uF capacitor "
         "from its RESET to GND so that opening the port does not reset it. It programs the AT89S51 and "
         "AT89S52. An Uno or a Leonardo is /dev/ttyACMn, a board with a CH340 or FT232R chip /dev/ttyUSBn; the "
         "baud rate is the sketch's BAUDRATE, 19200 unless it was changed.",
         {{"", "Serial port:", "/dev/ttyACM0", SerialPorts}, {"baud", "Baud rate:", "19200"}}},
        {"USBasp1", "USBasp...", "USBasp", "usbasp", "usbasp",
         "A USBasp (USB ID 16C0:05DC) with firmware 1.11 or later, which enters the AT89S programming mode "
         "itself; the original firmware cannot. It programs the AT89S51 and AT89S52. Leave the serial number "
         "empty to use the first USBasp found; lsusb -v shows it as iSerial.",
         {{"serial", "Serial number:", "empty: the first USBasp found"}}},
    };
    return cables;
}

const Cable* CableOf(const std::string& spec)
{
    const std::string form = spec.substr(0, spec.find(':'));
    for (const Cable& cable : Cables())
        if (form == cable.Form)
            return &cable;
    return nullptr;
}

QStringList CableValues(const Cable& cable, const std::string& spec)
{
    QStringList values;
    for (size_t i = 0; i < cable.Fields.size(); ++i)
        values << QString();
    if (CableOf(spec) != &cable)
        return values;
    const size_t colon = spec.find(':');
    if (colon == std::string::npos)
        return values;
    bool first = true;
    for (const PortOption& option : SplitPortOptions(std::string_view(spec).substr(colon + 1))) {
        for (size_t i = 0; i < cable.Fields.size(); ++i) {
            const std::string_view key = cable.Fields[i].Key;
            const bool bare = key.empty() && first && !option.hasValue;
            if (bare || (!key.empty() && option.hasValue && option.key == key))
                values[qsizetype(i)] = QString::fromUtf8(bare ? option.text.data() : option.value.data(),
                                                         qsizetype(bare ? option.text.size() : option.value.size()));
        }
        first = false;
    }
    return values;
}

std::string CableSpec(const Cable& cable, const QStringList& values)
{
    std::string options;
    for (size_t i = 0; i < cable.Fields.size() && qsizetype(i) < values.size(); ++i) {
        const std::string value = Text(values[qsizetype(i)]);
        if (value.empty())
            continue;
        const std::string key = cable.Fields[i].Key;
        options += (options.empty() ? "" : ",") + (key.empty() ? value : key + "=" + value);
    }
    return options.empty() ? std::string(cable.Form) : cable.Form + (":" + options);
}

std::optional<QStringList> AskCableSettings(QWidget* parent, const Cable& cable, const QStringList& values)
{
    QDialog dialog(parent);
    dialog.setObjectName(QString::fromLatin1(cable.MenuName) + QStringLiteral("Dialog"));
    dialog.setWindowTitle(QString::fromLatin1(cable.Name));
    auto* layout = new QVBoxLayout(&dialog);
    auto* help = new QLabel(QString::fromLatin1(cable.Help), &dialog);
    help->setWordWrap(true);
    help->setMinimumWidth(380);
    layout->addWidget(help);
    auto* form = new QFormLayout;
    layout->addLayout(form);
    std::vector<QLineEdit*> fields;
    for (size_t i = 0; i < cable.Fields.size(); ++i) {
        const CableField& field = cable.Fields[i];
        const QString value = qsizetype(i) < values.size() ? values[qsizetype(i)] : QString();
        QLineEdit* edit = nullptr;
        if (field.Choices) {
            auto* box = new QComboBox(&dialog);
            box->setEditable(true);
            box->addItems(field.Choices());
            box->setCurrentText(value);
            edit = box->lineEdit();
            form->addRow(QString::fromLatin1(field.Label), box);
        } else {
            edit = new QLineEdit(value, &dialog);
            form->addRow(QString::fromLatin1(field.Label), edit);
        }
        edit->setPlaceholderText(QString::fromLatin1(field.Hint));
        fields.push_back(edit);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    QStringList answer;
    for (QLineEdit* edit : fields)
        answer << edit->text();
    return answer;
}

} // namespace qvx
