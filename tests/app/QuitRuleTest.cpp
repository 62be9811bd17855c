#include "DesktopAppDelegate.h"
#include "DesktopTestSupport.h"
#include "QuitAlert.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

namespace {

using Reply = DesktopAppDelegate::TerminateReply;

class QuitRule : public DesktopTest
{
protected:
    std::unique_ptr<DesktopAppDelegate> launch(bool answer)
    {
        launchManager();
        DesktopAppDelegate::Options options;
        options.quitDelay = std::chrono::milliseconds(150);
        options.confirmQuit = [this, answer](int running) {
            asked << running;
            return answer;
        };
        options.terminate = [this] { ++terminations; };
        auto delegate = std::make_unique<DesktopAppDelegate>(services(), options);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    QList<int> asked;
    int terminations = 0;
};

} // namespace

TEST_F(QuitRule, NothingRunningQuitsAtOnceWithoutAsking)
{
    auto delegate = launch(false);
    scheduleLater(QStringLiteral("a"));
    EXPECT_EQ(delegate->applicationShouldTerminate(), Reply::Now);
    delegate->requestQuit();
    EXPECT_TRUE(asked.isEmpty());
    EXPECT_EQ(terminations, 1);
}

TEST_F(QuitRule, CancelKeepsEveryRecordingRunning)
{
    auto delegate = launch(false);
    const Recording r = startRecording(QStringLiteral("a"));
    delegate->requestQuit();
    EXPECT_EQ(asked, QList<int>{1});
    testsupport::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(manager->runningCount(), 1);
    EXPECT_EQ(manager->recording(r.id)->status, Recording::Status::Recording);
    // Asking again asks again.
    EXPECT_EQ(delegate->applicationShouldTerminate(), Reply::Cancel);
    EXPECT_EQ(asked, (QList<int>{1, 1}));
}

TEST_F(QuitRule, StopAndQuitStopsEverythingAndEndsAfterTheDelay)
{
    auto delegate = launch(true);
    const Recording a = startRecording(QStringLiteral("a"));
    const Recording b = startRecording(QStringLiteral("b"));
    QElapsedTimer elapsed;
    elapsed.start();
    delegate->requestQuit();
    EXPECT_EQ(asked, QList<int>{2});
    EXPECT_EQ(terminations, 0) << "the process ends later, not at once";
    ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
    EXPECT_GE(elapsed.elapsed(), 140);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(a.id)->status, Recording::Status::Stopped);
    EXPECT_EQ(manager->recording(b.id)->status, Recording::Status::Stopped);
    const QByteArray written = testsupport::readFile(QDir(folder.path()).filePath(a.fileName));
    EXPECT_GT(written.size(), 0) << "what was recorded stays on disk";
    // A second quit while stopping neither asks nor ends twice.
    delegate->requestQuit();
    testsupport::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(asked.size(), 1);
    EXPECT_EQ(terminations, 1);
}

TEST_F(QuitRule, TerminationSignalStopsWithoutAsking)
{
    auto delegate = launch(false);
    startRecording(QStringLiteral("a"));
    delegate->terminateWithoutAsking();
    EXPECT_TRUE(asked.isEmpty());
    ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
    EXPECT_EQ(manager->runningCount(), 0);
}

TEST(QuitAlertTexts, RunningTheAlertAnswersWhetherStopAndQuitWasChosen)
{
    EXPECT_EQ(QuitAlert::make(1)->text(), QStringLiteral("A recording is still running."));
    EXPECT_EQ(QuitAlert::make(3)->text(), QStringLiteral("3 recordings are still running."));
    // Return chooses the default button, Escape the cancel button.
    for (const auto &[key, expected] : {std::pair{Qt::Key_Return, true}, std::pair{Qt::Key_Escape, false}}) {
        QTimer::singleShot(0, [key = key] {
            QWidget *box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            QTest::keyClick(box, key);
        });
        EXPECT_EQ(QuitAlert::run(2), expected);
    }
}
