#include "app/main_window.h"

#include "graph/chart.h"

#include "platform/regional.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

namespace korvinet::app {

void TFormMain::ButtonRefreshClick() {
    SelectDevice->clear();
    const int found = Recording.ListCounters();
    if (found > 0) {
        // Each entry remembers its device, which Connect looks for again.
        for (int i = 0; i < found; ++i) {
            const device::TCounter::DeviceIdentity& device = Counter.DeviceIdentities().at(i);
            SelectDevice->addItem(Counter.DeviceNames().at(i),
                                  QStringList{device.SerialNumber, device.Description});
        }
        SelectDevice->setCurrentIndex(0);
        if (SelectDevice->count() == 1)
            OpenCloseDeviceClick();
        return;
    }
    SelectDevice->addItem(QStringLiteral("(None Found)"));
    SelectDevice->setCurrentIndex(0);
    OpenCloseDevice->setText(QStringLiteral("Search for Device"));
    // While the window is still being built nobody is waiting for the search.
    if (isVisible())
        deps_.ui.Message(
            QStringLiteral("No devices found, please check connections and try again."));
}

void TFormMain::OpenCloseDeviceClick() {
    if (Counter.IsOpen()) {
        if (!Recording.Disconnect())
            ShowDeviceError();
    } else if (Counter.DeviceNames().isEmpty()) {
        ButtonRefreshClick();
    } else if (GraphPointCount() == 0 ||
               deps_.ui.Confirm(QStringLiteral(
                   "Starting a new connection will clear the graph data.  Continue?"))) {
        // The entries name the devices the last search found, and the driver
        // numbers devices by their place among those attached now: list
        // again and open the chosen device wherever it is. One that is gone
        // searches afresh rather than opening whatever took its place.
        const int entry = SelectDevice->currentIndex();
        const QStringList chosen = SelectDevice->itemData(entry).toStringList();
        Recording.ListCounters();
        const int at = chosen.size() == 2 ? Counter.FindDevice({chosen[0], chosen[1]}, entry) : -1;
        if (at < 0) {
            ButtonRefreshClick();
        } else if (const recording::Recorder::Connection connection =
                       Recording.Connect(at, WantedCounterSettings());
                   connection != recording::Recorder::Connection::NotOpened) {
            ClearGraph();
            ShowConnected(connection);
            return;
        } else {
            ShowDeviceError();
        }
    }
    UpdateConnectionState();
}

void TFormMain::ShowStoredUnit() {
    // A data file opened earlier may have switched the list (and the axis of
    // the graph that connecting has just cleared) to the file's unit, while
    // readings now come in the stored unit: make both name the unit in force.
    const int stored = Options.UnitsIndex;
    if (stored < 0 || stored >= ValUnits->count() || ValUnits->currentIndex() == stored)
        return;
    ValUnits->setCurrentIndex(stored);
    if (Series1.IsEmpty())
        Chart1->SetLeftAxisTitle(Counter.UnitName());
}

void TFormMain::UpdateConnectionState() {
    if (Counter.IsOpen()) {
        ShowConnected(Recording.SetUp(WantedCounterSettings()));
        return;
    }
    SelectDevice->setEnabled(true);
    ButtonDeviceInfo->hide();
    ButtonRefresh->show();
    CountTimer->stop();
    if (Recording.ListCounters() > 0)
        OpenCloseDevice->setText(QStringLiteral("Connect to Device"));
    LabelStatus->setText(QStringLiteral("Not Connected"));
    LabelCountsStopped->clear();
    ShowCounterNote();
    ProgressBarSample->setValue(0);
    TimerProgressBar->stop();
    ShowAlarmControls();
}

void TFormMain::ShowConnected(recording::Recorder::Connection connection) {
    SelectDevice->setEnabled(false);
    ButtonRefresh->hide();
    ButtonDeviceInfo->show();
    // A counter without a speaker just stays silent; a driver failure,
    // though, has closed the counter, and the error is shown.
    if (connection == recording::Recorder::Connection::Closed) {
        ShowDeviceError();
        return;
    }
    ShowStoredUnit();
    // A counter without a calibration reads in CPM whatever unit is stored:
    // the list and the graph say so.
    if (Counter.CpmOnly() && ValUnits->currentIndex() != Counter.UnitCode()) {
        ValUnits->setCurrentIndex(Counter.UnitCode());
        if (Series1.IsEmpty())
            Chart1->SetLeftAxisTitle(Counter.UnitName());
    }
    ShowCounterNote();
    OpenCloseDevice->setText(QStringLiteral("Disconnect ") + Counter.Info().PortName);
    // A failed restart of the count closed the counter; the averaging time
    // was applied all the same.
    if (connection == recording::Recorder::Connection::NotRestarted)
        ShowDeviceError();
    ShowAveragingEntry();
    // Closed now: the disconnected state and its error have been shown, and
    // the timers stay off.
    if (!Counter.IsOpen())
        return;
    LabelStatus->setText(QStringLiteral("Next Sample Timer:"));
    CountTimer->start();
    TimerProgressBar->start();
    ShowAlarmControls();
}

void TFormMain::ShowAlarmControls() {
    LabelStatus->adjustSize();
    EditAlarmLevel->setEnabled(Options.AlarmEnabled);
    AlarmBuzzer->setEnabled(Options.AlarmEnabled);
}

void TFormMain::ShowDeviceError() {
    UpdateConnectionState();
    deps_.ui.Message(QStringLiteral("Error: ") + Counter.LastError());
}

void TFormMain::ShowCounterNote() {
    QStringList notes;
    if (Counter.IsOpen() && Counter.CpmOnly())
        notes << QStringLiteral("Readings in CPM only: this counter carries no calibration. "
                                "Choose its tube in File > Options.");
    const std::uint64_t skipped = Counter.LinkStatus().skipped;
    if (skipped > 0)
        notes << QStringLiteral("%1 lines from the counter did not read and were skipped.")
                     .arg(skipped);
    const QString text = notes.join(QLatin1Char(' '));
    if (!LabelCounterNote) {
        if (text.isEmpty())
            return;
        // Made when first needed, the window growing by its height, so the
        // window of a counter with nothing to say stays as it always was.
        LabelCounterNote = new QLabel(this);
        LabelCounterNote->setObjectName(QStringLiteral("LabelCounterNote"));
        statusBar()->addWidget(LabelCounterNote, 1);
        resize(width(), height() + statusBar()->sizeHint().height());
    }
    LabelCounterNote->setText(text);
    statusBar()->setVisible(!text.isEmpty());
}

void TFormMain::ButtonDeviceInfoClick() {
    if (Counter.Kind() != device::FtdiCounter::kKindName) {
        // Counters of the other kinds tell what they are and how they are
        // calibrated; the FTDI counter's box below stays as it always was.
        const platform::Regional& regional = deps_.regional;
        const device::CounterLinkStatus link = Counter.LinkStatus();
        QString text = QStringLiteral("Model:\t\t\t") + Counter.Info().Model +
                       QStringLiteral("\nKind:\t\t\t") + Counter.Kind() +
                       QStringLiteral("\nSerial Number:\t\t") + Counter.Info().SerialNumber +
                       QStringLiteral("\nPort:\t\t\t") + Counter.Info().PortName;
        if (Counter.CpmOnly()) {
            text += QStringLiteral("\nCalibration:\t\tnone (readings in CPM only)");
        } else {
            text += QStringLiteral("\nSensitivity:\t\t") +
                    regional.GeneralFloatText(Counter.Sensitivity() / 10) +
                    QStringLiteral(" cpm/\u00b5Sv/hr (") + Counter.CalibrationSource() +
                    QStringLiteral(")\nDead Time:\t\t") +
                    regional.GeneralFloatText(Counter.DeadTime() * 1e6) +
                    QStringLiteral(" \u00b5S");
        }
        text += QStringLiteral("\nReceived:\t\t%1 bytes").arg(link.bytes);
        if (link.lines > 0 || link.skipped > 0)
            text += QStringLiteral(", %1 lines read, %2 skipped").arg(link.lines).arg(link.skipped);
        deps_.ui.Message(text);
        return;
    }
    const device::TCounter::_Info& info = Counter.Info();
    QString detects;
    static const char* const kKinds[] = {" ALPHA,", " BETA,", " GAMMA,", " XRAY,", " NEUTRON,"};
    for (int bit = 0; bit < 5; ++bit)
        if (Counter.DetectionFlags() & (1u << bit))
            detects += QLatin1String(kKinds[bit]);
    if (!detects.isEmpty())
        detects.chop(1);
    const platform::Regional& regional = deps_.regional;
    const QString text =
        QStringLiteral("Model:\t\t\t") + info.Model + QStringLiteral("\nSerial Number:\t\t") +
        info.SerialNumber + QStringLiteral("\nCOM Port:\t\t") + info.PortName +
        QStringLiteral("\nRange:\t\t\t0 - ") + QString::number(Counter.Range()) +
        QStringLiteral(" mR/hr") + QStringLiteral("\nSensitivity:\t\t") +
        regional.GeneralFloatText(Counter.Sensitivity()) + QStringLiteral(" cpm/mR/hr") +
        QStringLiteral("\nDead Time:\t\t") + regional.GeneralFloatText(Counter.DeadTime() * 1e6) +
        QStringLiteral(" \u00b5S") + QStringLiteral("\nDetects:\t\t") + detects +
        QStringLiteral("\nAccuracy:\t\t\u00b1") + QString::number(Counter.Accuracy()) +
        QStringLiteral("%");
    deps_.ui.Message(text);
}

} // namespace korvinet::app
