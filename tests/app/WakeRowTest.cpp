#include "DesktopTestSupport.h"

namespace {

class WakeRow : public DesktopTest
{
protected:
    QString buttonText() const { return controller->wakeButton()->text(); }
    QString statusText() const { return controller->wakeStatus()->fullText(); }
};

} // namespace

TEST_F(WakeRow, ButtonTurnsOnAndOffShowsFailuresAndActivationRereadsTheSetting)
{
    openWindow();
    EXPECT_EQ(statusText(), QStringLiteral("Off. The computer stays awake while a recording is scheduled."));
    controller->wakeButton()->click();
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(buttonText(), QStringLiteral("Turn Off"));
    EXPECT_EQ(statusText(), QStringLiteral("On. The computer may sleep; it wakes a minute before each recording."));
    controller->wakeButton()->click();
    EXPECT_EQ(registration->state, HelperRegistration::Status::NotRegistered);
    EXPECT_EQ(buttonText(), QStringLiteral("Turn On"));

    registration->registerFailure = QStringLiteral("The unit could not be enabled.");
    registration->stateAfterRegister = HelperRegistration::Status::NotRegistered;
    controller->wakeButton()->click();
    EXPECT_EQ(statusText(), QStringLiteral("Could not turn on: The unit could not be enabled."));
    EXPECT_EQ(buttonText(), QStringLiteral("Turn On"));

    // The setting changes outside the application; the scheduler's cached
    // reading still says off until the window becomes active.
    registration->state = HelperRegistration::Status::Enabled;
    EXPECT_FALSE(scheduler->isOn());
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(controller->window(), &activate);
    EXPECT_TRUE(scheduler->isOn()) << "the cached reading was forgotten";
    EXPECT_EQ(buttonText(), QStringLiteral("Turn Off"));
}

TEST_F(WakeRow, WarnsWhileTheComputerCannotBeKeptAwakeForARecording)
{
    inhibitor->failure = QStringLiteral("logind is not there");
    openWindow();
    const QString normal = statusText();
    const QDateTime start = now().addSecs(3600);
    value(manager->schedule(request(QStringLiteral("http://127.0.0.1:1/s.ts"), start, start.addSecs(3600))));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return statusText() == QStringLiteral("The computer may fall asleep: it cannot be kept awake (logind is not there).");
    }));
    inhibitor->failure.reset();
    EXPECT_TRUE(testsupport::waitUntil([&] { return statusText() == normal; }));
}

// Awaiting approval, "Open Settings" explains it and asks again only when
// the user accepts.
TEST_F(WakeRow, OpenSettingsAsksForApprovalOnlyWhenTheUserAccepts)
{
    registration->state = HelperRegistration::Status::RequiresApproval;
    openWindow();
    ASSERT_EQ(buttonText(), QStringLiteral("Open Settings"));
    controller->wakeButton()->click();
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(registration->registerRequests, 0) << "nothing is asked before the user chooses";
    press(sheet(), QMessageBox::AcceptRole);
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(buttonText(), QStringLiteral("Turn Off"));
}
