#pragma once

#include <QWidget>

namespace korvinet {

// The program's About window: created hidden at start-up, shown by
// Help > "About", hidden again when closed.
class TFormAbout : public QWidget {
    Q_OBJECT

public:
    explicit TFormAbout(QWidget* parent = nullptr);
};

} // namespace korvinet
