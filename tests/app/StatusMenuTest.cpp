#include "DesktopTestSupport.h"

#include <QMenu>

namespace {

using StatusMenu = DesktopTest;

// Opens the tray menu as the panel does, which rebuilds it first, and
// triggers the entry titled `trigger` if there is one.
QStringList openMenu(DesktopAppDelegate &delegate, const QString &trigger = {})
{
    QMenu *menu = delegate.statusMenu();
    menu->popup(QPoint(0, 0));
    QStringList result;
    for (QAction *action : menu->actions()) {
        result << action->text();
        if (action->text() == trigger)
            action->trigger();
    }
    menu->hide();
    return result;
}

} // namespace

TEST_F(StatusMenu, CountsFollowTheRecordingsAndStopAllStopsThem)
{
    auto delegate = launch();
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed()) << "closing the window must not end the recordings";
    scheduleLater(QStringLiteral("c"));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Not recording · 1 scheduled"));
    EXPECT_FALSE(openMenu(*delegate).contains(QStringLiteral("Stop All Recordings")));

    const Recording first = startRecording(QStringLiteral("a"));
    const Recording second = startRecording(QStringLiteral("b"));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Recording 2 programmes · 1 scheduled"));
    manager->stop(second.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 1; }));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Recording 1 programme · 1 scheduled"));

    openMenu(*delegate, QStringLiteral("Stop All Recordings"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(first.id)->status, Recording::Status::Stopped);
    EXPECT_EQ(terminations, 0);
}

TEST_F(StatusMenu, WithoutATrayClosingMinimisesTheWindowAndATrayThatComesOrGoesIsFollowed)
{
    bool tray = false;
    DesktopAppDelegate::Options options;
    options.trayAvailable = [&tray] { return tray; };
    options.trayCheckInterval = std::chrono::milliseconds(10);
    auto delegate = launch(options);
    QMainWindow *window = delegate->mainWindow().window();
    ElidingLabel *hint = delegate->mainWindow().hintLine();
    const QString usualHint = hint->fullText();
    const auto minimized = [window] { return bool(window->windowState() & Qt::WindowMinimized); };
    ASSERT_TRUE(window->isVisible());

    window->close();
    EXPECT_TRUE(window->isVisible() && minimized()) << "the window stays in the task bar";
    EXPECT_EQ(hint->fullText(),
              QStringLiteral("This desktop has no tray: closing minimises the window, and the recorder keeps running."));
    delegate->applicationShouldHandleReopen();
    EXPECT_FALSE(minimized());
    window->close();
    EXPECT_TRUE(window->isVisible() && minimized());
    EXPECT_EQ(hint->fullText(), usualHint) << "the notice is given once";

    // A tray appears: closing hides the window behind the tray icon again.
    tray = true;
    delegate->applicationShouldHandleReopen();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        window->close();
        return !window->isVisible();
    }));
    // The tray goes while the window is hidden: the window comes back,
    // minimised, so that the recorder stays within reach.
    tray = false;
    ASSERT_TRUE(testsupport::waitUntil([&] { return window->isVisible(); }));
    EXPECT_TRUE(minimized());
}
