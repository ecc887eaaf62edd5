// The shell on a real X11 desktop: the tray icon in a real tray (trayer, an
// embedded-tray host) and the settings window under a real window manager (openbox),
// used the way a user uses them.
#include "ShellFakes.h"
#include "app/Contrast.h"
#include "app/MenuContent.h"
#include "app/StatusIcon.h"
#include "app/TarnellApp.h"
#include "bindings/BindingStore.h"
#include "bindings/FileUrl.h"
#include "support/QtApplication.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QWindow>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <vector>
#include <xcb/xcb.h>

namespace tarnell::app {
namespace {

using namespace tarnell::testing;

// Runs a tool to its end while this program keeps handling its events, as it would
// while a user clicks.
bool runTool(const QString& program, const QStringList& arguments, QByteArray* output = nullptr) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted() ||
        !waitFor([&process] { return process.state() == QProcess::NotRunning; }) ||
        process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        return false;
    }
    if (output) {
        *output = process.readAllStandardOutput();
    }
    return true;
}

std::vector<QRect> windowsOfClass(const QString& windowClass) {
    QByteArray ids;
    runTool(QStringLiteral("xdotool"),
            {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--class"),
             windowClass},
            &ids);
    std::vector<QRect> windows;
    for (const QByteArray& id : ids.split('\n')) {
        QByteArray shape;
        if (id.isEmpty() || !runTool(QStringLiteral("xdotool"),
                                     {QStringLiteral("getwindowgeometry"),
                                      QStringLiteral("--shell"), QString::fromLatin1(id)},
                                     &shape)) {
            continue;
        }
        QRect geometry;
        for (const QByteArray& line : shape.split('\n')) {
            const auto value = [&line](const char* key) {
                return line.startsWith(key) ? line.mid(static_cast<int>(qstrlen(key))).toInt() : -1;
            };
            if (const int x = value("X="); x >= 0) {
                geometry.moveLeft(x);
            }
            if (const int y = value("Y="); y >= 0) {
                geometry.moveTop(y);
            }
            if (const int width = value("WIDTH="); width >= 0) {
                geometry.setWidth(width);
            }
            if (const int height = value("HEIGHT="); height >= 0) {
                geometry.setHeight(height);
            }
        }
        windows.push_back(geometry);
    }
    return windows;
}

// The icon's window as the X server sees it: a window of this program inside the
// tray's panel, found with xdotool. Empty until the tray has taken the icon in.
QRect trayIconWindow() {
    for (const QRect& panel : windowsOfClass(QStringLiteral("trayer"))) {
        for (const QRect& window : windowsOfClass(QStringLiteral("tarnell"))) {
            if (panel.contains(window)) {
                return window;
            }
        }
    }
    return {};
}

// Clicks or types as the user does, through the X server.
bool click(const QPoint& at, int button) {
    return runTool(QStringLiteral("xdotool"),
                   {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                    QStringLiteral("click"), QString::number(button)});
}

bool pressKeys(const QString& keys) {
    return runTool(QStringLiteral("xdotool"), {QStringLiteral("key"), keys});
}

// Asks the window manager to close the window, as its title bar's close button does.
void closeThroughWindowManager(WId window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    xcb_connection_t* connection = x11->connection();
    const QByteArray name("_NET_CLOSE_WINDOW");
    xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
        connection,
        xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(name.size()), name.constData()),
        nullptr);
    ASSERT_NE(atom, nullptr);
    xcb_client_message_event_t request{};
    request.response_type = XCB_CLIENT_MESSAGE;
    request.format = 32;
    request.window = static_cast<xcb_window_t>(window);
    request.type = atom->atom;
    request.data.data32[0] = XCB_CURRENT_TIME;
    request.data.data32[1] = 2; // from a pager or task bar, on the user's behalf
    std::free(atom);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    xcb_send_event(connection, 0, root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&request));
    xcb_flush(connection);
}

// The share of the image, laid on a panel of this colour, that stands out from the
// panel at 3:1 or more, the contrast that graphics need to be made out.
double shareStandingOutFrom(const QIcon& icon, const QColor& panel) {
    QImage shown(22, 22, QImage::Format_RGB32);
    shown.fill(panel);
    QPainter(&shown).drawPixmap(0, 0, icon.pixmap(22));
    int standing = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            standing += contrastRatio(shown.pixelColor(x, y), panel) >= 3.0 ? 1 : 0;
        }
    }
    return static_cast<double>(standing) / (shown.width() * shown.height());
}

// A settings form of the window's usual size.
std::unique_ptr<QWidget> fixedForm(BindingStore&, engine::HyperKeyMonitor&, bool) {
    auto form = std::make_unique<QWidget>();
    form->setFixedSize(460, 360);
    return form;
}

class TrayIconTest : public ::testing::Test, protected ShellFakes {
protected:
    void SetUp() override {
        // No session bus: the embedded tray is the one to use.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/tarnell-test-bus");
        qtApplication();
    }
    void TearDown() override {
        tray.terminate();
        tray.waitForFinished();
        // The next test starts without a tray.
        waitFor([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }, 5000);
    }

    // The panel with its tray comes up.
    void startTray() {
        tray.start(QStringLiteral("trayer"),
                   {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"),
                    QStringLiteral("right"), QStringLiteral("--widthtype"),
                    QStringLiteral("request"), QStringLiteral("--height"), QStringLiteral("28"),
                    QStringLiteral("--SetDockType"), QStringLiteral("false"),
                    QStringLiteral("--transparent"), QStringLiteral("false"),
                    QStringLiteral("--tint"), QStringLiteral("0x2e3436")});
        ASSERT_TRUE(tray.waitForStarted()) << "trayer did not start";
        ASSERT_TRUE(waitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }))
            << "no tray appeared";
    }

    // The icon's window in the tray once it is embedded and Qt knows where it is.
    static QRect embeddedIconWindow(QSystemTrayIcon* icon) {
        QRect window;
        EXPECT_TRUE(waitFor([icon, &window] {
            window = trayIconWindow();
            return !window.isEmpty() && icon->geometry() == window;
        })) << "the icon never settled in the tray";
        return window;
    }

    QProcess tray;
};

TEST_F(TrayIconTest, ClickingTheIconOpensTheCurrentMenu) {
    startTray();
    if (HasFatalFailure()) {
        return;
    }
    applications.names = {{"/usr/share/applications/firefox-esr.desktop", "Firefox ESR"},
                          {"/usr/share/applications/org.gnome.Nautilus.desktop", "Files"},
                          {"/usr/share/applications/foot.desktop", "Foot"}};
    TarnellApp app(dependencies());
    auto setKey = [](const char* key, const char* path) {
        AppBinding binding;
        binding.key = key;
        binding.appURL = fileUrlFromPath(path);
        return binding;
    };
    app.appDelegate().store().setBindings(
        {setKey("t", "/usr/share/applications/foot.desktop"),
         setKey("b", "/usr/share/applications/firefox-esr.desktop"),
         setKey("f", "/usr/share/applications/org.gnome.Nautilus.desktop")});

    QSystemTrayIcon* icon = app.statusIcon().trayIcon();
    ASSERT_NE(icon, nullptr) << "on X11 the icon goes up at once";
    EXPECT_TRUE(icon->isVisible());
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Tarnell"));
    EXPECT_EQ(icon->contextMenu(), app.menuContent().menu());
    // Nothing tints the image in an embedded tray: it must stand out from light and
    // dark panels alike.
    for (const QColor& panel : {QColor(Qt::white), QColor(0xef, 0xef, 0xef),
                                QColor(0x2e, 0x34, 0x36), QColor(Qt::black)}) {
        EXPECT_GE(shareStandingOutFrom(icon->icon(), panel), 0.25) << panel.name().toStdString();
    }

    // Embedded: the icon has a place on the screen, inside the tray's strip at the top.
    ASSERT_TRUE(waitFor([icon] { return !icon->geometry().isEmpty(); })) << "never embedded";
    QRect window;
    ASSERT_TRUE(waitFor([&window] {
        window = trayIconWindow();
        return !window.isEmpty();
    })) << "xdotool finds no icon window in the tray";

    // What the icon hears, to tell a click that never arrived from a menu that did not
    // open.
    QStringList heard;
    QObject::connect(icon, &QSystemTrayIcon::activated,
                     [&heard](QSystemTrayIcon::ActivationReason reason) {
                         heard << QString::number(static_cast<int>(reason));
                     });

    // A right click on the icon opens the menu, as the tray delivers it.
    QMenu* menu = app.menuContent().menu();
    const QPoint centre = window.center();
    // Qt learns where the tray put the icon once the embedding is complete.
    ASSERT_TRUE(waitFor([icon, &window] { return icon->geometry() == window; }));
    ASSERT_TRUE(
        runTool(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(centre.x()),
                 QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("3")}));
    ASSERT_TRUE(waitFor([menu] { return menu->isVisible(); }))
        << "the menu did not open; activations heard: " << heard.join(u',').toStdString();
    QStringList texts;
    for (const QAction* action : menu->actions()) {
        texts << (action->isSeparator() ? QStringLiteral("---") : action->text());
    }
    EXPECT_EQ(texts, (QStringList{QStringLiteral("Waiting for Accessibility access…"),
                                  QStringLiteral("---"), QStringLiteral("⇪ B   Firefox ESR"),
                                  QStringLiteral("⇪ F   Files"), QStringLiteral("⇪ T   Foot"),
                                  QStringLiteral("---"), QStringLiteral("Settings…"),
                                  QStringLiteral("Quit Tarnell")}));

    // Access arriving while the menu is open changes it in place.
    fakes.trust.trusted = true;
    fakes.timers.tick();
    ASSERT_TRUE(waitFor([menu] { return menu->actions().size() == 6; }));
    EXPECT_TRUE(menu->isVisible());

    // A left click opens it as well.
    menu->hide();
    ASSERT_TRUE(waitFor([menu] { return !menu->isVisible(); }));
    ASSERT_TRUE(
        runTool(QStringLiteral("xdotool"),
                {QStringLiteral("mousemove"), QString::number(centre.x()),
                 QString::number(centre.y()), QStringLiteral("click"), QStringLiteral("1")}));
    EXPECT_TRUE(waitFor([menu] { return menu->isVisible(); }))
        << "a left click opened nothing; activations heard: " << heard.join(u',').toStdString();
    menu->hide();
}

TEST_F(TrayIconTest, CtrlCommaAndCtrlQWorkWhileTheMenuIsOpen) {
    startTray();
    if (HasFatalFailure()) {
        return;
    }
    TarnellApp app(dependencies(fixedForm));
    QSystemTrayIcon* icon = app.statusIcon().trayIcon();
    ASSERT_NE(icon, nullptr);
    const QPoint centre = embeddedIconWindow(icon).center();
    // The two commands come last, and are the same actions in every rebuild.
    QMenu* menu = app.menuContent().menu();
    QAction* settings = menu->actions().at(menu->actions().size() - 2);
    QAction* quit = menu->actions().back();
    ASSERT_EQ(quit->text(), QStringLiteral("Quit Tarnell"));
    // The menu is Tarnell's own here, so the hints it shows must work.
    EXPECT_FALSE(settings->shortcut().isEmpty());
    int quits = 0;
    QObject::connect(quit, &QAction::triggered, [&quits] { ++quits; });

    ASSERT_TRUE(click(centre, 3));
    ASSERT_TRUE(waitFor([menu] { return menu->isVisible(); }));
    ASSERT_TRUE(pressKeys(QStringLiteral("ctrl+comma")));
    EXPECT_TRUE(waitFor([&app] {
        return app.appDelegate().settingsWindow() &&
               app.appDelegate().settingsWindow()->isVisible();
    })) << "Ctrl+, did not open the settings";
    EXPECT_TRUE(waitFor([menu] { return !menu->isVisible(); }));

    // A left click this time: a second right click so soon would be a double click.
    ASSERT_TRUE(click(centre, 1));
    ASSERT_TRUE(waitFor([menu] { return menu->isVisible(); }));
    ASSERT_TRUE(pressKeys(QStringLiteral("ctrl+q")));
    EXPECT_TRUE(waitFor([&quits] { return quits == 1; })) << "Ctrl+Q did not quit";
    EXPECT_TRUE(waitFor([menu] { return !menu->isVisible(); }));
}

TEST_F(TrayIconTest, ClosingTheSettingsWindowHidesItAndKeepsItsNativeWindow) {
    TarnellApp app(dependencies(fixedForm));
    AppDelegate& delegate = app.appDelegate();
    delegate.showSettingsWindow();
    QWidget* window = delegate.settingsWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(waitFor([window] { return window->windowHandle()->isExposed(); }));
    const WId native = window->winId();

    closeThroughWindowManager(native);
    ASSERT_TRUE(waitFor([window] { return window->isHidden(); }))
        << "the window manager's close did not hide the window";

    delegate.showSettingsWindow();
    ASSERT_TRUE(waitFor([window] { return window->windowHandle()->isExposed(); }));
    EXPECT_EQ(window->winId(), native) << "shown again as a new window";
}

TEST_F(TrayIconTest, ATrayThatComesUpLaterStillGetsTheIcon) {
    TarnellApp app(dependencies());
    QCoreApplication::processEvents();
    EXPECT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());

    startTray();
    if (HasFatalFailure()) {
        return;
    }
    EXPECT_TRUE(waitFor([] { return !trayIconWindow().isEmpty(); }))
        << "the icon never reached the tray";
}

} // namespace
} // namespace tarnell::app
