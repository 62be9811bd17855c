#include "DesktopAppDelegate.h"
#include "DesktopTestSupport.h"
#include "RecordingDotIcon.h"

#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {

class StatusMenu : public DesktopTest
{
protected:
    // Opens the tray menu as the panel does, which rebuilds it first, and
    // triggers the entry titled `trigger` if there is one.
    static QStringList openMenu(DesktopAppDelegate &delegate, const QString &trigger = {})
    {
        QMenu *menu = delegate.statusMenu();
        menu->popup(QPoint(0, 0));
        QStringList result;
        for (QAction *action : menu->actions()) {
            result << action->text();
            if (!trigger.isEmpty() && action->text() == trigger)
                action->trigger();
        }
        menu->hide();
        return result;
    }

    static QColor iconCentre(DesktopAppDelegate &delegate)
    {
        return delegate.statusItem()->icon().pixmap(32, 32).toImage().pixelColor(16, 16);
    }
};

} // namespace

TEST_F(StatusMenu, CountsFollowTheRecordingsAndStopAllStopsThem)
{
    DesktopAppDelegate::Options options;
    options.terminate = [] {};
    auto delegate = std::make_unique<DesktopAppDelegate>(startServices(), options);
    delegate->applicationDidFinishLaunching();
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed()) << "closing the window must not end the recordings";
    EXPECT_EQ(iconCentre(*delegate).alpha(), 0) << "idle shows the hollow dot";
    scheduleLater(QStringLiteral("c"));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Not recording · 1 scheduled"));
    EXPECT_FALSE(openMenu(*delegate).contains(QStringLiteral("Stop All Recordings")));

    const Recording first = startRecording(QStringLiteral("a"));
    const Recording second = startRecording(QStringLiteral("b"));
    EXPECT_EQ(iconCentre(*delegate), RecordingDotIcon::recordingRed());
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Recording 2 programmes · 1 scheduled"));
    manager->stop(second.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 1; }));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Recording 1 programme · 1 scheduled"));

    openMenu(*delegate, QStringLiteral("Stop All Recordings"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(first.id)->status, Recording::Status::Stopped);
    EXPECT_EQ(iconCentre(*delegate).alpha(), 0) << "the dot is hollow again";
}
