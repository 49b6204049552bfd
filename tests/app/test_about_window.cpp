// The About window: its layout, the version it shows, where its links lead
// and how Help > "About" shows it.

#include "app/about_window.h"
#include "main_window_rig.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>

namespace korvinet::app {

using testing::MainWindowRig;

class AboutWindowTest : public QObject {
    Q_OBJECT

private slots:
    void controlsSitAtTheirPlaces_data() {
        QTest::addColumn<QPoint>("position");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, int x, int y, const QString& text) {
            QTest::newRow(name) << QPoint(x, y) << text;
        };
        row("Website", 20, 60, QStringLiteral("www.quorsa.example"));
        row("InfoEmail", 300, 60, QStringLiteral("info@quorsa.example"));
        row("Label3", 146, 90, QStringLiteral("Korvinet"));
        row("Version", 232, 90, QStringLiteral("vX.X.X.X"));
        row("Label2", 10, 130, QStringLiteral("Website:"));
        row("SWWebsite", 80, 130,
            QStringLiteral("http://www.quorsa.example/files/software/Korvinet/"));
        row("Label1", 10, 150, QStringLiteral("Support:"));
        row("EmailSoftware", 80, 150, QStringLiteral("software@quorsa.example"));
    }
    void controlsSitAtTheirPlaces() {
        QFETCH(QPoint, position);
        QFETCH(QString, text);
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.UpdateHostName = QStringLiteral("www.quorsa.example");
        TFormAbout about;
        w.SetAboutWindow(&about);
        auto* label = about.findChild<QLabel*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(label);
        QCOMPARE(label->parentWidget(), &about);
        QCOMPARE(label->pos(), position);
        QCOMPARE(label->text(), text);
        // Auto-sized: the whole text is visible and nothing hangs off the window.
        QVERIFY(label->width() >= label->fontMetrics().horizontalAdvance(text));
        QVERIFY(about.rect().contains(label->geometry()));
    }

    void windowLogoAndButton() {
        TFormAbout about;
        QCOMPARE(about.windowTitle(), QStringLiteral("FormAbout"));
        QCOMPARE(about.geometry(), QRect(332, 205, 450, 250));
        QCOMPARE(about.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(!about.isVisible());

        QCOMPARE(about.Image1->geometry(), QRect(20, 10, 400, 43));
        QCOMPARE(about.Image1->pixmap().size(), QSize(400, 43));
        QCOMPARE(about.Image1->cursor().shape(), Qt::PointingHandCursor);
        const QImage logo = TFormAbout::MakeLogo();
        QCOMPARE(logo.size(), QSize(400, 43));
        QCOMPARE(logo.format(), QImage::Format_Indexed8);
        QVERIFY(logo.colorCount() <= 256);
        QSet<QRgb> colours;
        for (int y = 0; y < logo.height(); ++y)
            for (int x = 0; x < logo.width(); ++x)
                colours.insert(logo.pixel(x, y));
        QVERIFY2(colours.size() > 3, "the logo is drawn, not blank");

        QCOMPARE(about.ButtonCheckForUpdates->geometry(), QRect(140, 180, 150, 25));
        QCOMPARE(about.ButtonCheckForUpdates->text(), QStringLiteral("Check for Updates Now"));
    }

    void labelsLookAsLinksOrTitles() {
        TFormAbout about;
        for (QLabel* link :
             {about.Website, about.InfoEmail, about.SWWebsite, about.EmailSoftware}) {
            QCOMPARE(link->palette().color(QPalette::WindowText), QColor(Qt::blue));
            QVERIFY(link->font().bold());
            QVERIFY(link->font().underline());
            QCOMPARE(link->font().pixelSize(), 13);
            QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        }
        for (QLabel* title : {about.Label3, about.Version}) {
            QCOMPARE(title->font().family(), QStringLiteral("Arial"));
            QVERIFY(title->font().bold());
            QCOMPARE(title->font().pixelSize(), 16);
            QCOMPARE(title->palette().color(QPalette::WindowText), QColor(Qt::black));
        }
        for (QLabel* caption : {about.Label1, about.Label2}) {
            QVERIFY(caption->font().bold());
            QVERIFY(!caption->font().underline());
            QCOMPARE(caption->font().pixelSize(), 13);
            QCOMPARE(caption->palette().color(QPalette::WindowText), QColor(Qt::black));
        }
    }

    void linksOpenTheirTargets_data() {
        QTest::addColumn<QString>("target");
        QTest::newRow("Image1") << QStringLiteral("http://www.quorsa.example/");
        QTest::newRow("Website") << QStringLiteral("http://www.quorsa.example/");
        QTest::newRow("SWWebsite")
            << QStringLiteral("http://www.quorsa.example/files/software/Korvinet/");
        QTest::newRow("EmailSoftware") << QStringLiteral("mailto:software@quorsa.example");
        QTest::newRow("InfoEmail") << QStringLiteral("mailto:info@quorsa.example");
    }
    void linksOpenTheirTargets() {
        QFETCH(QString, target);
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.UpdateHostName = QStringLiteral("www.quorsa.example");
        TFormAbout about;
        w.SetAboutWindow(&about);
        w.About1Click();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        auto* label = about.findChild<QLabel*>(QString::fromLatin1(QTest::currentDataTag()));
        QVERIFY(label);

        QTest::mouseClick(label, Qt::RightButton);
        QVERIFY(rig.ui.Calls().isEmpty()); // only the left button clicks
        QTest::mouseClick(label, Qt::LeftButton);

        QCOMPARE(rig.ui.Texts(QStringLiteral("ShellOpen")), QStringList{target});
        QCOMPARE(rig.ui.Calls().size(), 1);
    }

    // Each showing reads the version anew: "v" and the version, "v" alone
    // when the program carries none.
    void versionShownEachTime() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        TFormAbout about;
        w.SetAboutWindow(&about);
        QCOMPARE(about.Version->text(), QStringLiteral("vX.X.X.X"));
        w.About1->trigger();
        QCOMPARE(about.Version->text(), QStringLiteral("v1.0.3.0"));
        about.close();
        QVERIFY(!about.isVisible());
        w.ProgramVersion.clear();
        w.About1->trigger();
        QVERIFY(about.isVisible());
        QCOMPARE(about.Version->text(), QStringLiteral("v"));
        QVERIFY(rig.ui.Calls().isEmpty());
    }

    void aboutIsOneWindowBroughtToTheFront() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        TFormAbout about;
        w.SetAboutWindow(&about);
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        const qsizetype windows = QApplication::topLevelWidgets().size();

        for (int round = 0; round < 3; ++round) {
            w.About1->trigger();
            QVERIFY(QTest::qWaitForWindowActive(&about));
            QVERIFY(w.isVisible()); // not modal: the main window stays usable
            QVERIFY(w.isEnabled());
            if (round == 1)
                about.close(); // closing only hides it
            else
                w.activateWindow();
            QTRY_VERIFY(round == 1 ? !about.isVisible() : w.isActiveWindow());
        }
        // Still the one About window: no second one was made.
        QCOMPARE(QApplication::topLevelWidgets().size(), windows);
        int abouts = 0;
        for (QWidget* top : QApplication::topLevelWidgets())
            abouts += qobject_cast<TFormAbout*>(top) ? 1 : 0;
        QCOMPARE(abouts, 1);
    }

    // A picture of the window as shown, for a look by eye.
    void screenshot() {
        MainWindowRig rig;
        TFormMain& w = rig.Open();
        TFormAbout about;
        w.SetAboutWindow(&about);
        w.About1Click();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        // Place and outer size are the frame's; the picture is what is inside.
        QTRY_COMPARE(about.frameGeometry(), QRect(332, 205, 450, 250));
        const QPixmap picture = about.grab();
        QCOMPARE(picture.size(), about.size());
        const QString file = QDir::current().filePath(QStringLiteral("about_window.png"));
        QVERIFY(picture.save(file));
        qInfo().noquote() << "About window picture:" << file;
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::AboutWindowTest)
#include "test_about_window.moc"
