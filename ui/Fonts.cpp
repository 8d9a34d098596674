#include "Fonts.h"

#include <QFontDatabase>

namespace qvx {

namespace {

struct Face {
    const char* family;
    int pixelSize; // the size that gives this face the design's look
};

QFont Pick(std::initializer_list<Face> faces, bool bold = false)
{
    const QStringList installed = QFontDatabase::families();
    const Face* chosen = nullptr;
    for (const Face& face : faces) {
        chosen = &face;
        if (installed.contains(QString::fromLatin1(face.family), Qt::CaseInsensitive))
            break;
    }
    QFont font(QString::fromLatin1(chosen->family));
    font.setPixelSize(chosen->pixelSize);
    font.setBold(bold);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

} // namespace

QString PickFamily(const QStringList& families)
{
    const QStringList installed = QFontDatabase::families();
    for (const QString& family : families)
        if (installed.contains(family, Qt::CaseInsensitive))
            return family;
    return families.isEmpty() ? QString() : families.last();
}

// Liberation Sans has the metrics of Arial, whose widths are close to those
// of MS Sans Serif at these small sizes.
QFont WindowFont()
{
    return Pick({{"MS Sans Serif", 11}, {"Microsoft Sans Serif", 11}, {"Liberation Sans", 11},
                 {"Arimo", 11}, {"DejaVu Sans", 10}});
}

QFont LargeWindowFont()
{
    return Pick({{"MS Sans Serif", 13}, {"Microsoft Sans Serif", 13}, {"Liberation Sans", 13},
                 {"Arimo", 13}, {"DejaVu Sans", 12}});
}

QFont TahomaFont()
{
    return Pick({{"Tahoma", 11}, {"Liberation Sans", 11}, {"Arimo", 11}, {"DejaVu Sans Condensed", 11},
                 {"DejaVu Sans", 10}});
}

// AngsanaUPC draws its Latin letters small for their size: at 29 px its
// capitals are about as tall as those of a condensed sans at 20 px.
QFont AngsanaFont()
{
    return Pick({{"AngsanaUPC", 29}, {"Angsana New", 29}, {"Liberation Sans Narrow", 21},
                 {"DejaVu Sans Condensed", 18}, {"DejaVu Sans", 16}});
}

} // namespace qvx
