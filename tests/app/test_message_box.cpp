// The desktop's message box as the device information shows in it.
#include "app/qt_ui_services.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <gtest/gtest.h>

namespace korvinet::app {
namespace {

// Where the text after the last tab of each line starts, as the box's label
// lays it out; the box's own text is returned in *held.
std::vector<qreal> ValueColumns(const QString& text, QString* held) {
    std::vector<qreal> columns;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        poll.stop();
        *held = box->text();
        const auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        const auto* document = label ? label->findChild<QTextDocument*>() : nullptr;
        for (QTextBlock b = document ? document->begin() : QTextBlock(); b.isValid();
             b = b.next()) {
            const QTextLine line = b.layout()->lineForTextPosition(0);
            columns.push_back(line.cursorToX(b.text().lastIndexOf(QLatin1Char('\t')) + 1));
        }
        box->accept();
    });
    poll.start(10);
    QtUiServices().Message(text);
    return columns;
}

TEST(MessageBox, DeviceInformationValuesLineUpAndTheTextStaysAsBuilt) {
    const QString text = QString::fromUtf8(
        "Model:\t\t\tKVT-PULSE1\nSerial Number:\t\tKV100001\nCOM Port:\t\tCOM4\n"
        "Range:\t\t\t0 - 1000 mR/hr\nSensitivity:\t\t600 cpm/mR/hr\n"
        "Dead Time:\t\t90 \u00b5S\nDetects:\t\t BETA, GAMMA\nAccuracy:\t\t\u00b115%");
    QString held;
    const std::vector<qreal> columns = ValueColumns(text, &held);
    EXPECT_EQ(held, text);
    ASSERT_EQ(columns.size(), 8u);
    for (std::size_t i = 1; i < columns.size(); ++i)
        EXPECT_EQ(columns[i], columns[0]) << "line " << i + 1;
}

} // namespace
} // namespace korvinet::app
