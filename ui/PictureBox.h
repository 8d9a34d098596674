// A picture stretched to its box, as the two windows show their JPEG
// pictures. It tells about double clicks.
#pragma once

#include <QImage>
#include <QLabel>

namespace qvx {

class PictureBox : public QLabel {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    // Shows the JPEG file at `path` (a file or a Qt resource), decoded with
    // libjpeg. False when it cannot be read or decoded; the box stays empty.
    bool LoadJpeg(const QString& path);
    const QImage& Picture() const { return picture_; }

signals:
    void doubleClicked();

protected:
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QImage picture_;
};

} // namespace qvx
