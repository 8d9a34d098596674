#include "PictureBox.h"
#include "JpegImage.h"

#include <QFile>
#include <QMouseEvent>
#include <QPixmap>
#include <QtDebug>

namespace qvx {

PictureBox::PictureBox(QWidget* parent) : QLabel(parent)
{
    setScaledContents(true);
}

bool PictureBox::LoadJpeg(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning("Cannot read the picture %s: %s", qPrintable(path), qPrintable(file.errorString()));
        return false;
    }
    QString error;
    QImage image = DecodeJpeg(file.readAll(), &error);
    if (image.isNull()) {
        qWarning("Cannot decode the picture %s: %s", qPrintable(path), qPrintable(error));
        return false;
    }
    picture_ = image;
    setPixmap(QPixmap::fromImage(picture_));
    return true;
}

void PictureBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QLabel::mouseDoubleClickEvent(event);
    emit doubleClicked();
}

} // namespace qvx
