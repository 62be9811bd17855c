#include "DesktopTestSupport.h"
#include "ElidingLabel.h"
#include "MainWindowController.h"

#include <QMainWindow>
#include <QPushButton>

namespace {

class WakeRow : public DesktopTest
{
protected:
    MainWindowController &open()
    {
        launchManager();
        controller = std::make_unique<MainWindowController>(services());
        return *controller;
    }

    QColor statusColour() const { return controller->wakeStatus()->palette().color(QPalette::WindowText); }
    QColor tone(TextTone t) const { return colourFor(t, controller->window()->palette()); }

    std::unique_ptr<MainWindowController> controller;
};

} // namespace

TEST_F(WakeRow, OffTurnsOnAndOff)
{
    open();
    EXPECT_EQ(controller->wakeStatus()->fullText(),
              QStringLiteral("Off. The Mac stays awake while a recording is scheduled."));
    EXPECT_EQ(statusColour(), tone(TextTone::Secondary));
    EXPECT_EQ(controller->wakeButton()->text(), QStringLiteral("Turn On"));

    controller->wakeButton()->click();
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(controller->wakeStatus()->fullText(),
              QStringLiteral("On. The Mac may sleep; it wakes a minute before each recording."));
    EXPECT_EQ(controller->wakeButton()->text(), QStringLiteral("Turn Off"));

    controller->wakeButton()->click();
    EXPECT_EQ(registration->state, HelperRegistration::Status::NotRegistered);
    EXPECT_EQ(controller->wakeButton()->text(), QStringLiteral("Turn On"));
}

TEST_F(WakeRow, AFailureToTurnOnIsShownInOrange)
{
    registration->registerFailure = QStringLiteral("The unit could not be enabled.");
    registration->stateAfterRegister = HelperRegistration::Status::NotRegistered;
    open();
    controller->wakeButton()->click();
    EXPECT_EQ(controller->wakeStatus()->fullText(), QStringLiteral("Could not turn on: The unit could not be enabled."));
    EXPECT_EQ(statusColour(), tone(TextTone::Orange));
    EXPECT_EQ(controller->wakeButton()->text(), QStringLiteral("Turn On"));
}

TEST_F(WakeRow, AwaitingApprovalNamesWhereToApproveAndAsksAgain)
{
    registration->state = HelperRegistration::Status::RequiresApproval;
    registration->registerFailure = QStringLiteral("Not authorised.");
    registration->stateAfterRegister = HelperRegistration::Status::RequiresApproval;
    open();
    EXPECT_EQ(controller->wakeStatus()->fullText(), QStringLiteral("Allow it over there."));
    EXPECT_EQ(statusColour(), tone(TextTone::Orange));
    EXPECT_EQ(controller->wakeButton()->text(), QStringLiteral("Open Settings"));
    controller->wakeButton()->click();
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(registration->settingsOpened, 1);
}

TEST_F(WakeRow, BecomingActiveRereadsTheSettingChangedOutside)
{
    open();
    controller->showWindow();
    // The setting changes outside the application; the scheduler's cached
    // reading still says off.
    EXPECT_FALSE(scheduler->isOn());
    registration->state = HelperRegistration::Status::Enabled;
    EXPECT_EQ(controller->wakeButton()->text(), QStringLiteral("Turn On"));

    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(controller->window(), &activate);
    EXPECT_TRUE(scheduler->isOn()) << "the cached reading was forgotten";
    EXPECT_EQ(controller->wakeButton()->text(), QStringLiteral("Turn Off"));
}
