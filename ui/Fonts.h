// The fonts of both windows, chosen in one place.
//
// The window design names Windows faces (MS Sans Serif, Tahoma, AngsanaUPC)
// in point sizes at 96 dots per inch. Each is used when installed; otherwise
// a metric-compatible face stands in. All sizes are in pixels so that the
// fixed layout holds whatever the screen's dots per inch.
#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace qvx {

// MS Sans Serif 8 pt, character height 11 px: every control unless stated.
QFont WindowFont();
// The same face at 10 pt, height 13 px (the file-name label, the about
// window's web address).
QFont LargeWindowFont();
// Tahoma 8 pt (about window).
QFont TahomaFont();
// AngsanaUPC at a character height of 29 px (about window's series name).
QFont AngsanaFont();

// The first of `families` that is installed, or the last one when none is.
QString PickFamily(const QStringList& families);

} // namespace qvx
