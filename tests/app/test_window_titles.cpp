// Window titles as the window system receives them: each window's
// _NET_WM_NAME read back from the X server of a virtual display, so that
// nothing the toolkit adds on the way goes unseen.
#include "app/about_window.h"
#include "app/app_identity.h"
#include "app/qt_ui_services.h"
#include "main_window_rig.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <xcb/xcb.h>

namespace korvinet::app {

namespace {

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name),
        nullptr);
    xcb_atom_t atom = XCB_ATOM_NONE;
    if (reply)
        atom = reply->atom;
    std::free(reply);
    return atom;
}

// The title the X server holds for a shown window.
QString ServerTitle(QWidget* window) {
    auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11)
        return QStringLiteral("(not on X11)");
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window->winId());
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(connection,
                               xcb_get_property(connection, 0, id, Atom(connection, "_NET_WM_NAME"),
                                                Atom(connection, "UTF8_STRING"), 0, 1024),
                               nullptr);
    QString title;
    if (reply) {
        title = QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(reply)),
                                  xcb_get_property_value_length(reply));
        std::free(reply);
    }
    return title;
}

// Runs `open`, which brings up a modal box, reads the box's title while it
// waits for the user and closes it.
QString BoxTitle(const std::function<void()>& open) {
    QString title = QStringLiteral("(no box)");
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&title] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        title = ServerTitle(box);
        box->done(0);
    });
    poll.start();
    QTimer::singleShot(10000, &poll, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close(); // never hang the run
    });
    open();
    return title;
}

} // namespace

class WindowTitlesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        NameApplication();
    }

    void titlesAreTheCaptionsAlone() {
        testing::MainWindowRig rig;
        TFormMain& w = rig.Open();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(ServerTitle(&w), QStringLiteral("Korvinet - Quorsa Technologies"));

        TFormAbout about;
        about.show();
        QVERIFY(QTest::qWaitForWindowExposed(&about));
        QCOMPARE(ServerTitle(&about), QStringLiteral("FormAbout"));

        QtUiServices ui;
        ui.SetOwner(&w);
        QCOMPARE(BoxTitle([&ui] { (void)ui.Confirm(QStringLiteral("Continue?")); }),
                 QStringLiteral("Confirm"));
        QCOMPARE(BoxTitle([&ui] { ui.Message(QStringLiteral("Saved.")); }),
                 QStringLiteral("Korvinet"));
        QCOMPARE(BoxTitle([&ui] { ui.ErrorBox(QStringLiteral("Failed.")); }),
                 QStringLiteral("Korvinet"));
    }
};

} // namespace korvinet::app

QTEST_MAIN(korvinet::app::WindowTitlesTest)
#include "test_window_titles.moc"
