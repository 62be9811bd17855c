#include "RecorderClaim.h"
#include "RecordingsFolderLock.h"
#include "SingleInstance.h"
#include "TestSupport.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <future>
#include <unistd.h>

// Locks are per open file, so two holders in one process exclude each other
// as two processes would. A later launch blocks while it waits for the
// answer, so it runs on a thread of its own while the running copy's event
// loop turns here. Refusals naming the running process, and a start after a
// clean end, are SecondLaunchTest's, on the real program.
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
    HandOver askFromAnotherLaunch(std::chrono::milliseconds timeout = SingleInstance::kHandOverTimeout)
    {
        auto asked = std::async(std::launch::async, [&] { return SingleInstance(Mode::Desktop, runtime.path()).askToShow(timeout); });
        EXPECT_TRUE(testsupport::waitUntil([&] { return asked.wait_for(0s) == std::future_status::ready; }));
        return asked.get();
    }
    static QString lockFile(const QTemporaryDir &folder) { return folder.filePath(QLatin1String(RecordingsFolderLock::kFileName)); }

    QTemporaryDir runtime;
};

} // namespace

TEST_F(Instances, LocksSurviveBeingAskedAgainAndMoveOnlyToAFolderNobodyElseOwns)
{
    ExclusiveLock first;
    ASSERT_TRUE(isTaken(first.tryLock(runtime.filePath(QStringLiteral("a.lock")))));
    EXPECT_TRUE(isTaken(first.tryLock(runtime.filePath(QStringLiteral("a.lock"))))) << "asking again keeps it";
    EXPECT_EQ(heldBy(ExclusiveLock().tryLock(runtime.filePath(QStringLiteral("a.lock")))), qint64(::getpid()));

    QTemporaryDir recordings;
    QTemporaryDir other;
    RecordingsFolderLock folderLock;
    ExclusiveLock elsewhere;
    ASSERT_TRUE(isTaken(folderLock.moveTo(recordings.path())));
    ASSERT_TRUE(isTaken(elsewhere.tryLock(lockFile(other))));
    EXPECT_EQ(heldBy(folderLock.moveTo(other.path())), qint64(::getpid()));
    ExclusiveLock probe;
    EXPECT_GT(heldBy(probe.tryLock(lockFile(recordings))), 0) << "a refused move keeps the folder held";
    ASSERT_TRUE(isTaken(folderLock.moveTo(other.filePath(QStringLiteral("new/inner"))))) << "a missing folder is made";
    EXPECT_TRUE(isTaken(probe.tryLock(lockFile(recordings)))) << "a move lets go of the old folder";

    // A folder that cannot be locked does not stop the program.
    SingleInstance instance(Mode::Headless, runtime.path());
    EXPECT_FALSE(claimRecorder(instance, true, QStringLiteral("/dev/null/recordings")));
}

TEST_F(Instances, ALaterLaunchGetsTheDesktopWindowShownOrLearnsTheCopyIsHeadless)
{
    auto owner = std::make_unique<SingleInstance>(Mode::Desktop, runtime.path());
    ASSERT_TRUE(isTaken(owner->claim()));
    QSignalSpy shown(owner.get(), &SingleInstance::showRequested);
    EXPECT_EQ(askFromAnotherLaunch(), HandOver::Shown);
    EXPECT_EQ(askFromAnotherLaunch(), HandOver::Shown) << "every later launch is answered";
    EXPECT_EQ(shown.size(), 2);

    // Ended, the owner leaves the name to the next one, even when a socket
    // file of a killed copy is in the way.
    owner.reset();
    testsupport::writeFile(runtime.filePath(QLatin1String(SingleInstance::kSocketName)), "left over");
    auto headless = std::make_unique<SingleInstance>(Mode::Headless, runtime.path());
    ASSERT_TRUE(isTaken(headless->claim()));
    QSignalSpy headlessShown(headless.get(), &SingleInstance::showRequested);
    EXPECT_EQ(askFromAnotherLaunch(), HandOver::RunningHeadless);
    EXPECT_TRUE(headlessShown.isEmpty());

    // A copy that holds the lock but does not answer is given up on in time.
    headless.reset();
    ExclusiveLock silent;
    ASSERT_TRUE(isTaken(silent.tryLock(runtime.filePath(QLatin1String(SingleInstance::kLockFileName)))));
    EXPECT_EQ(askFromAnotherLaunch(300ms), HandOver::NoAnswer);
}
