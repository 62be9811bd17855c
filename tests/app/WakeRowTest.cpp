#include "DesktopTestSupport.h"
#include "ElidingLabel.h"
#include "MainWindowController.h"

#include <QMainWindow>
#include <QPushButton>

namespace {

class WakeRow : public DesktopTest
{
protected:
    void open()
    {
        controller = std::make_unique<MainWindowController>(startServices());
    }

    QString buttonText() const { return controller->wakeButton()->text(); }

    std::unique_ptr<MainWindowController> controller;
};

} // namespace

TEST_F(WakeRow, ButtonTurnsOnAndOffShowsFailuresAndActivationRereadsTheSetting)
{
    open();
    controller->wakeButton()->click();
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(buttonText(), QStringLiteral("Turn Off"));
    controller->wakeButton()->click();
    EXPECT_EQ(registration->state, HelperRegistration::Status::NotRegistered);
    EXPECT_EQ(buttonText(), QStringLiteral("Turn On"));

    registration->registerFailure = QStringLiteral("The unit could not be enabled.");
    registration->stateAfterRegister = HelperRegistration::Status::NotRegistered;
    controller->wakeButton()->click();
    EXPECT_EQ(controller->wakeStatus()->fullText(), QStringLiteral("Could not turn on: The unit could not be enabled."));
    EXPECT_EQ(buttonText(), QStringLiteral("Turn On"));

    // The setting changes outside the application; the scheduler's cached
    // reading still says off until the window becomes active.
    controller->showWindow();
    registration->state = HelperRegistration::Status::Enabled;
    EXPECT_FALSE(scheduler->isOn());
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(controller->window(), &activate);
    EXPECT_TRUE(scheduler->isOn()) << "the cached reading was forgotten";
    EXPECT_EQ(buttonText(), QStringLiteral("Turn Off"));
}
