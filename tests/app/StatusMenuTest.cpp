#include "DesktopAppDelegate.h"
#include "DesktopTestSupport.h"
#include "MainWindowController.h"
#include "RecordingDotIcon.h"
#include "StatusTexts.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QMainWindow>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {

// The menu's lines as the user reads them: separators as "-", disabled
// entries in brackets, the shortcut after a tab.
QStringList lines(const QList<QAction *> &actions)
{
    QStringList result;
    for (const QAction *action : actions) {
        QString line = action->isSeparator() ? QStringLiteral("-") : action->text();
        if (!action->isSeparator() && !action->isEnabled())
            line = QLatin1Char('[') + line + QLatin1Char(']');
        if (!action->shortcut().isEmpty())
            line += QLatin1Char('\t') + action->shortcut().toString(QKeySequence::PortableText);
        result << line;
    }
    return result;
}

class StatusMenu : public DesktopTest
{
protected:
    std::unique_ptr<DesktopAppDelegate> launch()
    {
        launchManager();
        DesktopAppDelegate::Options options;
        options.terminate = [] {};
        auto delegate = std::make_unique<DesktopAppDelegate>(services(), options);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    // Opens the tray menu as the panel does, which rebuilds it first.
    static QStringList openMenu(DesktopAppDelegate &delegate)
    {
        QMenu *menu = delegate.statusMenu();
        menu->popup(QPoint(0, 0));
        const QStringList result = lines(menu->actions());
        menu->hide();
        return result;
    }

    static QImage iconImage(DesktopAppDelegate &delegate)
    {
        return delegate.statusItem()->icon().pixmap(32, 32).toImage();
    }
};

const QString kAddress = StatusTexts::address(RecordingServer::localIPv4Address());

} // namespace

TEST_F(StatusMenu, IdleShowsTheHollowDotAndCountsScheduledRecordings)
{
    auto delegate = launch();
    EXPECT_EQ(openMenu(*delegate), (QStringList{QStringLiteral("[Not recording]"), QStringLiteral("-"),
                                                QStringLiteral("Open Tivolux Recorder…"),
                                                QStringLiteral("Copy Address for Tivolux"), QStringLiteral("-"),
                                                QStringLiteral("Quit Tivolux Recorder\tCtrl+Q")}));
    EXPECT_EQ(delegate->statusItem()->toolTip(), QStringLiteral("Tivolux Recorder · ") + kAddress);
    // The hollow dot: a ring with nothing inside it.
    const QImage image = iconImage(*delegate);
    EXPECT_EQ(qAlpha(image.pixel(16, 16)), 0);
    EXPECT_GT(qAlpha(image.pixel(16, 5)), 0);

    // Scheduled recordings are counted on the idle line.
    for (const char *channel : {"a", "b", "c"})
        scheduleLater(QString::fromLatin1(channel));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("[Not recording · 3 scheduled]"));
}

TEST_F(StatusMenu, RunningRecordingsTurnTheDotRedAndOfferStopAll)
{
    auto delegate = launch();
    // A change of counts while the menu is closed only changes the icon; the
    // menu is rebuilt as it opens.
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("[Not recording]"));
    const Recording first = startRecording(QStringLiteral("a"));
    const Recording second = startRecording(QStringLiteral("b"));
    EXPECT_EQ(delegate->statusMenu()->actions().first()->text(), QStringLiteral("Not recording"));
    EXPECT_EQ(openMenu(*delegate),
              (QStringList{QStringLiteral("[Recording 2 programmes]"), QStringLiteral("-"),
                           QStringLiteral("Open Tivolux Recorder…"), QStringLiteral("Copy Address for Tivolux"),
                           QStringLiteral("Stop All Recordings"), QStringLiteral("-"),
                           QStringLiteral("Quit Tivolux Recorder\tCtrl+Q")}));
    const QColor centre = iconImage(*delegate).pixelColor(16, 16);
    EXPECT_EQ(centre, RecordingDotIcon::recordingRed());

    scheduleLater(QStringLiteral("c"));
    scheduleLater(QStringLiteral("d"));
    manager->stop(second.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 1; }));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("[Recording 1 programme · 2 scheduled]"));

    // "Stop All Recordings" stops the one still running.
    QMenu *menu = delegate->statusMenu();
    menu->popup(QPoint(0, 0));
    for (QAction *action : menu->actions()) {
        if (action->text() == QStringLiteral("Stop All Recordings"))
            action->trigger();
    }
    menu->hide();
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(first.id)->status, Recording::Status::Stopped);
    EXPECT_EQ(qAlpha(iconImage(*delegate).pixel(16, 16)), 0) << "the dot is hollow again";
}

TEST_F(StatusMenu, CopyAddressPutsTheShownAddressOnTheClipboard)
{
    auto delegate = launch();
    QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
    QMenu *menu = delegate->statusMenu();
    menu->popup(QPoint(0, 0));
    menu->actions().at(3)->trigger();
    menu->hide();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kAddress);
    EXPECT_EQ(delegate->mainWindow().addressLabel()->text(), kAddress);
}

TEST_F(StatusMenu, WindowIsShownAtLaunchAndReopenShowsTheSameWindowAfterClosing)
{
    auto delegate = launch();
    QMainWindow *window = delegate->mainWindow().window();
    EXPECT_TRUE(window->isVisible());
    const QRect frame = window->geometry();
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed());

    QMenu *menu = delegate->statusMenu();
    menu->popup(QPoint(0, 0));
    menu->actions().at(2)->trigger(); // "Open Tivolux Recorder…"
    menu->hide();
    EXPECT_EQ(delegate->mainWindow().window(), window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->geometry(), frame);

    window->hide();
    emit delegate->statusItem()->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(window->isVisible());
}
