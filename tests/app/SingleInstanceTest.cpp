#include "RecorderClaim.h"
#include "RecordingsFolderLock.h"
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <future>
#include <unistd.h>

// Locks are per open file, so two holders in one process exclude each other
// as two processes would. A later launch blocks while it waits for the
// answer, so it runs on a thread of its own while the running copy's event
// loop turns here.
namespace {

using namespace std::chrono_literals;
using Mode = SingleInstance::Mode;
using HandOver = SingleInstance::HandOver;

qint64 heldBy(const ExclusiveLock::Result &result)
{
    const auto *held = std::get_if<ExclusiveLock::HeldElsewhere>(&result);
    return held ? held->pid : -1;
}

bool isTaken(const ExclusiveLock::Result &result)
{
    return std::holds_alternative<ExclusiveLock::Taken>(result);
}

class Instances : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(runtime.isValid() && recordings.isValid()); }

    HandOver askFromAnotherLaunch(std::chrono::milliseconds timeout = SingleInstance::kHandOverTimeout)
    {
        auto asked = std::async(std::launch::async, [&] {
            SingleInstance later(Mode::Desktop, runtime.path());
            return later.askToShow(timeout);
        });
        EXPECT_TRUE(testsupport::waitUntil([&] { return asked.wait_for(0s) == std::future_status::ready; }));
        return asked.get();
    }

    QString lockFile(const QString &folder) const
    {
        return QDir(folder).filePath(QLatin1String(RecordingsFolderLock::kFileName));
    }

    QTemporaryDir runtime;
    QTemporaryDir recordings;
};

} // namespace

TEST_F(Instances, LocksExcludeEveryOtherHolderNameItsProcessAndMoveOnlyToAFolderNobodyElseOwns)
{
    const QString path = runtime.filePath(QStringLiteral("a.lock"));
    ExclusiveLock first;
    ExclusiveLock second;
    ASSERT_TRUE(isTaken(first.tryLock(path)));
    EXPECT_TRUE(isTaken(first.tryLock(path))) << "asking again keeps it";
    EXPECT_EQ(heldBy(second.tryLock(path)), qint64(::getpid()));
    first.release();
    EXPECT_TRUE(isTaken(second.tryLock(path)));
    EXPECT_TRUE(std::holds_alternative<ExclusiveLock::Failed>(first.tryLock(QStringLiteral("/dev/null/a.lock"))));

    QTemporaryDir other;
    RecordingsFolderLock folderLock;
    ExclusiveLock elsewhere;
    ASSERT_TRUE(isTaken(folderLock.moveTo(recordings.path())));
    ASSERT_TRUE(isTaken(elsewhere.tryLock(lockFile(other.path()))));
    EXPECT_EQ(heldBy(folderLock.moveTo(other.path())), qint64(::getpid()));
    ExclusiveLock probe;
    EXPECT_GT(heldBy(probe.tryLock(lockFile(recordings.path()))), 0) << "a refused move keeps the folder held";
    ASSERT_TRUE(isTaken(folderLock.moveTo(other.filePath(QStringLiteral("new/inner"))))) << "a missing folder is made";
    EXPECT_TRUE(isTaken(probe.tryLock(lockFile(recordings.path())))) << "a move lets go of the old folder";
}

TEST_F(Instances, ALaterLaunchGetsTheDesktopWindowShownOrLearnsTheCopyIsHeadless)
{
    auto owner = std::make_unique<SingleInstance>(Mode::Desktop, runtime.path());
    ASSERT_TRUE(isTaken(owner->claim()));
    QSignalSpy shown(owner.get(), &SingleInstance::showRequested);
    SingleInstance later(Mode::Desktop, runtime.path());
    EXPECT_EQ(heldBy(later.claim()), qint64(::getpid()));
    EXPECT_EQ(askFromAnotherLaunch(), HandOver::Shown);
    EXPECT_EQ(shown.size(), 1);
    EXPECT_EQ(askFromAnotherLaunch(), HandOver::Shown) << "every later launch is answered";
    EXPECT_EQ(shown.size(), 2);

    // Ended, the owner leaves the name to the next one, even when a socket
    // file of a killed copy is in the way.
    owner.reset();
    testsupport::writeFile(runtime.filePath(QLatin1String(SingleInstance::kSocketName)), "left over");
    SingleInstance headless(Mode::Headless, runtime.path());
    ASSERT_TRUE(isTaken(headless.claim()));
    QSignalSpy headlessShown(&headless, &SingleInstance::showRequested);
    EXPECT_EQ(askFromAnotherLaunch(), HandOver::RunningHeadless);
    EXPECT_TRUE(headlessShown.isEmpty());
}

TEST_F(Instances, ACopyThatHoldsTheLockButDoesNotAnswerIsGivenUpOnInTime)
{
    ExclusiveLock silent;
    ASSERT_TRUE(isTaken(silent.tryLock(runtime.filePath(QLatin1String(SingleInstance::kLockFileName)))));
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(askFromAnotherLaunch(300ms), HandOver::NoAnswer);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 3s);
}

TEST_F(Instances, ALaunchOnAFolderAnotherRecorderOwnsEndsAndAnUnlockableFolderDoesNotStopIt)
{
    QTemporaryDir otherRuntime;
    ExclusiveLock otherRecorder;
    ASSERT_TRUE(isTaken(otherRecorder.tryLock(lockFile(recordings.path()))));

    SingleInstance desktop(Mode::Desktop, otherRuntime.path());
    const auto refusal = claimRecorder(desktop, false, recordings.path());
    ASSERT_TRUE(refusal);
    EXPECT_NE(refusal->exitStatus, 0);
    EXPECT_TRUE(refusal->line.contains(recordings.path()) && refusal->line.contains(QString::number(::getpid())))
        << refusal->line.toStdString();
    EXPECT_FALSE(refusal->alert.isEmpty()) << "the desktop says it in a message box";

    SingleInstance other(Mode::Headless, runtime.path());
    EXPECT_FALSE(claimRecorder(other, true, QStringLiteral("/dev/null/recordings")));
}
