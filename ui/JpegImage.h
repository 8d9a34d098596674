// JPEG pictures decoded with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

namespace qvx {

// Decodes a JPEG file held in memory into an RGB image. Returns a null image
// and fills `error` (when given) when the data is no JPEG or is damaged.
QImage DecodeJpeg(const QByteArray& data, QString* error = nullptr);

} // namespace qvx
