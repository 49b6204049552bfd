#include "app/main_window.h"

namespace korvinet {

bool TFormMain::SaveChartAs(const QString&, int) {
    return false;
}

void TFormMain::SaveAsCSVClick() {}

void TFormMain::SaveAsImage1Click() {}

void TFormMain::Print1Click() {}

void TFormMain::CopyToClipboard1Click() {}

void TFormMain::OpenDataFileClick() {}

} // namespace korvinet
