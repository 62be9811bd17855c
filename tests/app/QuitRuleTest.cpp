#include "DesktopTestSupport.h"
#include "QuitAlert.h"

#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>

// The tray menu, closing the window, and the quit rule both front ends
// share, with a question first; the headless program's use of the rule is in
// ProgramEndTest.
namespace {

class DesktopQuit : public DesktopTest
{
protected:
    std::unique_ptr<DesktopAppDelegate> launchAsking()
    {
        DesktopAppDelegate::Options options;
        options.quitDelay = std::chrono::milliseconds(150);
        options.confirmQuit = [this](int running) {
            asked << running;
            return answer;
        };
        return launch(options);
    }

    // Opens the tray menu as the panel does, which rebuilds it first, and
    // triggers the entry titled `trigger` if there is one.
    static QStringList openMenu(DesktopAppDelegate &delegate, const QString &trigger = {})
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

    bool answer = false;
    QList<int> asked;
};

} // namespace

TEST_F(DesktopQuit, MenuCountsFollowTheRecordingsAndQuittingAsksOnlyWhileOneRuns)
{
    auto delegate = launchAsking();
    EXPECT_FALSE(QGuiApplication::quitOnLastWindowClosed()) << "closing the window must not end the recordings";
    scheduleLater(QStringLiteral("later"));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Not recording · 1 scheduled"));
    EXPECT_FALSE(openMenu(*delegate).contains(QStringLiteral("Stop All Recordings")));

    const Recording a = startRecording(QStringLiteral("a"));
    const Recording b = startRecording(QStringLiteral("b"));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Recording 2 programmes · 1 scheduled"));
    delegate->requestQuit();
    EXPECT_EQ(asked, QList<int>{2}) << "only running recordings are asked about";
    EXPECT_EQ(manager->runningCount(), 2) << "a cancelled quit stops nothing";
    manager->stop(b.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 1; }));
    EXPECT_EQ(openMenu(*delegate).first(), QStringLiteral("Recording 1 programme · 1 scheduled"));

    openMenu(*delegate, QStringLiteral("Stop All Recordings"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(a.id)->status, Status::Stopped);
    EXPECT_EQ(terminations, 0);
    delegate->requestQuit();
    EXPECT_EQ(terminations, 1) << "with nothing running it quits at once, unasked";
    EXPECT_EQ(asked.size(), 1);
}

TEST_F(DesktopQuit, StopAndQuitEndsAfterTheDelayKeepingWhatWasRecordedAndEndsOnlyOnce)
{
    auto delegate = launchAsking();
    const Recording a = startRecording(QStringLiteral("a"));
    const Recording b = startRecording(QStringLiteral("b"));
    answer = true;
    delegate->requestQuit();
    EXPECT_EQ(asked, QList<int>{2});
    EXPECT_EQ(terminations, 0) << "the process ends later, not at once";
    ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(a.id)->status, Status::Stopped);
    EXPECT_EQ(manager->recording(b.id)->status, Status::Stopped);
    EXPECT_GT(QFileInfo(path(a.fileName)).size(), 0) << "what was recorded stays on disk";
    // Quitting again after that neither asks nor ends twice.
    delegate->requestQuit();
    delegate->terminateWithoutAsking();
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(terminations, 1);
}

// Logging out reaches the application as Qt's session signals; a
// termination signal comes the same way. The session may end the process
// before the recorders report, so the index must say "stopped" at once.
TEST_F(DesktopQuit, LogoutAndTerminationSaveRunningRecordingsAsStoppedWithoutAsking)
{
    const std::pair<const char *, std::function<void(DesktopAppDelegate &)>> endings[] = {
        {"commit data", [](DesktopAppDelegate &) { QGuiApplicationPrivate::instance()->commitData(); }},
        {"save state", [](DesktopAppDelegate &) { QGuiApplicationPrivate::instance()->saveState(); }},
        {"termination signal", [](DesktopAppDelegate &d) { d.terminateWithoutAsking(); }},
    };
    for (const auto &[name, end] : endings) {
        SCOPED_TRACE(name);
        terminations = 0;
        auto delegate = launchAsking();
        const Recording r = startRecording(QStringLiteral("a"));
        const Recording later = scheduleLater(QStringLiteral("later"));
        const QDateTime before = now().addSecs(-1);
        end(*delegate);
        QList<Recording> saved = readIndex(folder.path());
        std::stable_partition(saved.begin(), saved.end(), [&](const Recording &s) { return s.id == r.id; });
        ASSERT_EQ(saved.size(), 2);
        EXPECT_EQ(saved[0].status, Status::Stopped) << "saved before the recorder reports";
        EXPECT_GE(saved[0].endDate, before);
        EXPECT_LE(saved[0].endDate, now());
        EXPECT_EQ(saved[1].id, later.id);
        EXPECT_EQ(saved[1].status, Status::Scheduled);
        EXPECT_TRUE(asked.isEmpty());
        EXPECT_EQ(terminations, 0) << "the recorders get the quit delay";
        ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
        EXPECT_EQ(manager->runningCount(), 0);
        manager->deleteRecording(r.id);
        manager->deleteRecording(later.id);
    }
}

TEST_F(DesktopQuit, WithoutATrayClosingMinimisesTheWindowAndATrayThatComesOrGoesIsFollowed)
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

TEST(QuitAlert, ReturnChoosesStopAndQuitAndEscapeCancels)
{
    for (const auto &[key, expected] : {std::pair{Qt::Key_Return, true}, std::pair{Qt::Key_Escape, false}}) {
        QTimer::singleShot(0, [key = key] { QTest::keyClick(QApplication::activeModalWidget(), key); });
        EXPECT_EQ(QuitAlert::run(2), expected);
    }
}
