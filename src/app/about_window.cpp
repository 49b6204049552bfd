#include "app/about_window.h"

namespace korvinet {

TFormAbout::TFormAbout(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("FormAbout"));
    setWindowTitle(QStringLiteral("FormAbout"));
    setGeometry(332, 205, 450, 250);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    // Closing only hides it; it lives until the program ends.
    setAttribute(Qt::WA_DeleteOnClose, false);
    setAttribute(Qt::WA_QuitOnClose, false);
}

} // namespace korvinet
