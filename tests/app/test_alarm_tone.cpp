// The alarm tone of the desktop UI services: a real 1000 Hz sine in a WAV
// file, handed to a sound player without waiting for it.
#include "app/qt_ui_services.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>
#include <gtest/gtest.h>

namespace korvinet::app {
namespace {

template <class T> T Le(const QByteArray& bytes, int at) {
    return qFromLittleEndian<T>(bytes.constData() + at);
}

TEST(AlarmTone, WavHoldsOneSecondOfA1000HzSine) {
    const QByteArray wav = QtUiServices::ToneWav(1000, 1000, 22050);
    ASSERT_EQ(wav.size(), 44 + 2 * 22050);
    EXPECT_EQ(wav.mid(0, 4), "RIFF");
    EXPECT_EQ(Le<quint32>(wav, 4), quint32(wav.size() - 8));
    EXPECT_EQ(wav.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(Le<quint16>(wav, 20), 1);      // PCM
    EXPECT_EQ(Le<quint16>(wav, 22), 1);      // mono
    EXPECT_EQ(Le<quint32>(wav, 24), 22050u); // sample rate
    EXPECT_EQ(Le<quint16>(wav, 34), 16);     // bits
    EXPECT_EQ(wav.mid(36, 4), "data");
    EXPECT_EQ(Le<quint32>(wav, 40), 2u * 22050);

    int rising = 0, peak = 0;
    qint16 previous = 0;
    for (int i = 0; i < 22050; ++i) {
        const qint16 v = Le<qint16>(wav, 44 + 2 * i);
        if (previous < 0 && v >= 0)
            ++rising;
        peak = std::max(peak, int(std::abs(v)));
        previous = v;
    }
    EXPECT_NEAR(rising, 1000, 1);
    EXPECT_NEAR(peak, 16383, 50);
    // Faded in and out: no click at either end.
    EXPECT_LT(std::abs(Le<qint16>(wav, 44 + 2)), 200);
    EXPECT_LT(std::abs(Le<qint16>(wav, wav.size() - 2)), 200);
}

// A folder with stand-in players: shell scripts that note their arguments
// and keep a copy of the file they were given.
class TonePlayerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;

    void AddPlayer(const QString& name, int exitCode) {
        QFile script(dir.filePath(name));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\n"
                                    "echo \"$@\" >> '%1/calls'\n"
                                    "for last; do :; done\n"
                                    "cp \"$last\" '%1/played.wav'\n"
                                    "exit %2\n")
                         .arg(dir.path())
                         .arg(exitCode)
                         .toUtf8());
        script.close();
        script.setPermissions(script.permissions() | QFile::ExeOwner);
    }

    QStringList Calls() const {
        QFile file(dir.filePath(QStringLiteral("calls")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

    // Lets the player run to its end and its end be seen.
    void WaitForCalls(int count, int limitMs = 10000) {
        QElapsedTimer waited;
        waited.start();
        while (Calls().size() < count && !waited.hasExpired(limitMs)) {
            QCoreApplication::processEvents();
            QThread::msleep(10);
        }
        for (int i = 0; i < 20; ++i) {
            QCoreApplication::processEvents();
            QThread::msleep(10);
        }
    }
};

TEST_F(TonePlayerTest, FirstPlayerFoundPlaysTheTone) {
    AddPlayer(QStringLiteral("aplay"), 0);
    AddPlayer(QStringLiteral("paplay"), 0);
    QtUiServices ui;
    ui.SetToneOutput({dir.path()}, false);
    ui.Beep(1000, 1000);
    WaitForCalls(1);
    ASSERT_EQ(Calls().size(), 1);
    EXPECT_FALSE(Calls().front().startsWith(QLatin1String("-q"))); // paplay, not aplay
    QFile played(dir.filePath(QStringLiteral("played.wav")));
    ASSERT_TRUE(played.open(QIODevice::ReadOnly));
    EXPECT_EQ(played.readAll(), QtUiServices::ToneWav(1000, 1000, 22050));
}

TEST_F(TonePlayerTest, AplayIsToldToBeQuiet) {
    AddPlayer(QStringLiteral("aplay"), 0);
    QtUiServices ui;
    ui.SetToneOutput({dir.path()}, false);
    ui.Beep(1000, 200);
    WaitForCalls(1);
    ASSERT_EQ(Calls().size(), 1);
    EXPECT_TRUE(Calls().front().startsWith(QLatin1String("-q ")));
}

// A player that cannot reach a sound server is not tried again.
TEST_F(TonePlayerTest, FailingPlayerIsDropped) {
    AddPlayer(QStringLiteral("pw-play"), 1);
    QtUiServices ui;
    ui.SetToneOutput({dir.path()}, false);
    ui.Beep(1000, 100);
    WaitForCalls(1);
    ui.Beep(1000, 100);
    WaitForCalls(2, 1000);
    EXPECT_EQ(Calls().size(), 1);
}

} // namespace
} // namespace korvinet::app
