#pragma once

#include <QFont>
#include <QString>

namespace korvinet::app {

// The windows' form font, standing in for "MS Sans Serif" 8 point: a sans
// face at a size whose metrics keep every caption inside its control (the
// check boxes are the tightest).
inline QFont FormFont() {
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(10);
    return font;
}

// base at another pixel size and weight, optionally in another family.
inline QFont SizedFont(const QFont& base, int pixels, bool bold, const QString& family = {}) {
    QFont font = base;
    if (!family.isEmpty())
        font.setFamily(family);
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

} // namespace korvinet::app
