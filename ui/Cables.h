// The cables the Port menu offers after the parallel port's LPT1 and LPT2,
// one table row each: the menu item, the port form (as QVX_PORT and --port
// take it) it makes, and the fields its dialog asks for. A cable to come is
// one more row.
#pragma once

#include <QStringList>

#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace qvx {

struct CableField {
    const char* Key;   // the option's name; empty: the value comes first, bare (the GPIO chip)
    const char* Label; // the field's label in the dialog
    const char* Hint;  // shown in the field while it is empty
    // Values to offer in a drop-down list (the GPIO chips there are); null
    // for a plain text field.
    QStringList (*Choices)() = nullptr;
};

struct Cable {
    const char* MenuName; // the menu item's identifier
    const char* Caption;  // the menu item's caption
    const char* Name;     // the cable in messages and in the about window
    const char* Form;     // the port form's name: "ftdi"
    const char* Defaults; // the form whose values fill the dialog at first
    const char* Help;     // the dialog's text above the fields
    std::vector<CableField> Fields;
};

// The rows, in the order of the Port menu.
const std::vector<Cable>& Cables();

// The row whose form `spec` is; null for the parallel port, the simulated
// cable and anything else.
const Cable* CableOf(const std::string& spec);

// The values `spec` gives the cable's fields, in the fields' order (empty
// where it gives none, and all empty when `spec` is no form of this cable).
QStringList CableValues(const Cable& cable, const std::string& spec);

// The port form the values make: "ftdi", "ftdi:serial=A50285BI",
// "gpio:gpiochip0,rst=25,mosi=10,sck=11,miso=9", "arduino:/dev/ttyACM0".
// Empty values are left out.
std::string CableSpec(const Cable& cable, const QStringList& values);

// The cable's dialog: a field for each of the cable's fields, `values`
// filled in. The values the user confirmed, or nothing when cancelled.
std::optional<QStringList> AskCableSettings(QWidget* parent, const Cable& cable, const QStringList& values);

} // namespace qvx
