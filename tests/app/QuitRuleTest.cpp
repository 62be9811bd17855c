#include "DesktopTestSupport.h"
#include "QuitAlert.h"

#include <QTest>
#include <QTimer>
#include <QtGui/private/qguiapplication_p.h>

// The desktop's quit rule: the rule both front ends share, with a question
// first; the headless program's use of it is in ProgramEndTest.
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

    bool answer = false;
    QList<int> asked;
};

} // namespace

TEST_F(DesktopQuit, NothingRunningQuitsAtOnceCancelKeepsRecordingAndStopAndQuitEndsAfterTheDelay)
{
    auto delegate = launchAsking();
    scheduleLater(QStringLiteral("later"));
    delegate->requestQuit();
    EXPECT_EQ(terminations, 1) << "with nothing running it quits at once, unasked";
    EXPECT_TRUE(asked.isEmpty());
    terminations = 0;
    const Recording a = startRecording(QStringLiteral("a"));
    const Recording b = startRecording(QStringLiteral("b"));
    delegate->requestQuit();
    EXPECT_EQ(asked, QList<int>{2}) << "only running recordings are asked about";
    EXPECT_EQ(manager->runningCount(), 2);

    answer = true;
    delegate->requestQuit();
    EXPECT_EQ(asked, (QList<int>{2, 2}));
    EXPECT_EQ(terminations, 0) << "the process ends later, not at once";
    ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(a.id)->status, Recording::Status::Stopped);
    EXPECT_EQ(manager->recording(b.id)->status, Recording::Status::Stopped);
    EXPECT_GT(QFileInfo(QDir(folder.path()).filePath(a.fileName)).size(), 0) << "what was recorded stays on disk";
    // Quitting again after that neither asks nor ends twice.
    delegate->requestQuit();
    delegate->terminateWithoutAsking();
    EXPECT_EQ(asked.size(), 2);
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
        EXPECT_EQ(saved[0].status, Recording::Status::Stopped) << "saved before the recorder reports";
        EXPECT_GE(saved[0].endDate, before);
        EXPECT_LE(saved[0].endDate, now());
        EXPECT_EQ(saved[1].id, later.id);
        EXPECT_EQ(saved[1].status, Recording::Status::Scheduled);
        EXPECT_TRUE(asked.isEmpty());
        EXPECT_EQ(terminations, 0) << "the recorders get the quit delay";
        ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
        EXPECT_EQ(manager->runningCount(), 0);
        manager->deleteRecording(r.id);
        manager->deleteRecording(later.id);
    }
}

TEST(QuitAlert, ReturnChoosesStopAndQuitAndEscapeCancels)
{
    for (const auto &[key, expected] : {std::pair{Qt::Key_Return, true}, std::pair{Qt::Key_Escape, false}}) {
        QTimer::singleShot(0, [key = key] { QTest::keyClick(QApplication::activeModalWidget(), key); });
        EXPECT_EQ(QuitAlert::run(2), expected);
    }
}
