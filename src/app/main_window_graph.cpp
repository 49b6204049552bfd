#include "app/main_window.h"

namespace korvinet {

void TFormMain::ApplyGraphSettings() {}

void TFormMain::Chart1AfterDraw() {}

void TFormMain::ButtonCopyStatisticsClick() {}

int TFormMain::GraphPointCount() const {
    return 0;
}

} // namespace korvinet
