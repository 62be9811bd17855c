#include "DesktopAppDelegate.h"
#include "DesktopTestSupport.h"
#include "QuitAlert.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

namespace {

class QuitRule : public DesktopTest
{
protected:
    std::unique_ptr<DesktopAppDelegate> launch()
    {
        DesktopAppDelegate::Options options;
        options.quitDelay = std::chrono::milliseconds(150);
        options.confirmQuit = [this](int running) {
            asked << running;
            return answer;
        };
        options.terminate = [this] { ++terminations; };
        auto delegate = std::make_unique<DesktopAppDelegate>(startServices(), options);
        delegate->applicationDidFinishLaunching();
        return delegate;
    }

    bool answer = false;
    QList<int> asked;
    int terminations = 0;
};

} // namespace

TEST_F(QuitRule, CancelKeepsRecordingAndStopAndQuitStopsEverythingAfterTheDelay)
{
    auto delegate = launch();
    scheduleLater(QStringLiteral("later"));
    EXPECT_EQ(delegate->applicationShouldTerminate(), DesktopAppDelegate::TerminateReply::Now)
        << "with nothing running it quits at once";
    const Recording a = startRecording(QStringLiteral("a"));
    const Recording b = startRecording(QStringLiteral("b"));
    EXPECT_EQ(delegate->applicationShouldTerminate(), DesktopAppDelegate::TerminateReply::Cancel);
    EXPECT_EQ(asked, QList<int>{2}) << "only running recordings are asked about";
    testsupport::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(terminations, 0);
    EXPECT_EQ(manager->runningCount(), 2);

    answer = true;
    QElapsedTimer elapsed;
    elapsed.start();
    delegate->requestQuit();
    EXPECT_EQ(asked, (QList<int>{2, 2})) << "asking again asks again";
    EXPECT_EQ(terminations, 0) << "the process ends later, not at once";
    ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
    EXPECT_GE(elapsed.elapsed(), 140);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    EXPECT_EQ(manager->recording(a.id)->status, Recording::Status::Stopped);
    EXPECT_EQ(manager->recording(b.id)->status, Recording::Status::Stopped);
    EXPECT_GT(QFileInfo(QDir(folder.path()).filePath(a.fileName)).size(), 0) << "what was recorded stays on disk";
    // A second quit while stopping neither asks nor ends twice.
    delegate->requestQuit();
    testsupport::spin(std::chrono::milliseconds(300));
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(terminations, 1);
}

TEST_F(QuitRule, TerminationSignalStopsWithoutAsking)
{
    auto delegate = launch();
    startRecording(QStringLiteral("a"));
    delegate->terminateWithoutAsking();
    EXPECT_TRUE(asked.isEmpty());
    ASSERT_TRUE(testsupport::waitUntil([&] { return terminations == 1; }));
    EXPECT_EQ(manager->runningCount(), 0);
}

TEST(QuitAlert, ReturnChoosesStopAndQuitAndEscapeCancels)
{
    for (const auto &[key, expected] : {std::pair{Qt::Key_Return, true}, std::pair{Qt::Key_Escape, false}}) {
        QTimer::singleShot(0, [key = key] {
            QWidget *box = QApplication::activeModalWidget();
            ASSERT_NE(box, nullptr);
            QTest::keyClick(box, key);
        });
        EXPECT_EQ(QuitAlert::run(2), expected);
    }
}
