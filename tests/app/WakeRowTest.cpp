#include "DesktopTestSupport.h"
#include "ElidingLabel.h"
#include "MainWindowController.h"

#include <QLabel>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>

namespace {

class WakeRow : public DesktopTest
{
protected:
    void open() { controller = std::make_unique<MainWindowController>(startServices()); }
    QString buttonText() const { return controller->wakeButton()->text(); }
    QString statusText() const { return controller->wakeStatus()->fullText(); }

    std::unique_ptr<MainWindowController> controller;
};

} // namespace

TEST_F(WakeRow, ButtonTurnsOnAndOffShowsFailuresAndActivationRereadsTheSetting)
{
    open();
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
    controller->showWindow();
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
    open();
    const QString normal = statusText();
    const QDateTime start = now().addSecs(3600);
    value(manager->schedule(request(QStringLiteral("http://127.0.0.1:1/s.ts"), start, start.addSecs(3600))));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return statusText() == QStringLiteral("The computer may fall asleep: it cannot be kept awake (logind is not there).");
    }));
    inhibitor->failure.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return statusText() == normal; }));
    EXPECT_TRUE(manager->isHoldingSleep());
}

// This system has no settings page for the helper: "Open Settings" explains
// the approval with a command that can be selected and copied, and can ask
// again.
TEST_F(WakeRow, OpenSettingsExplainsTheApprovalWithACommandToCopy)
{
    registration->state = HelperRegistration::Status::RequiresApproval;
    open();
    controller->showWindow();
    ASSERT_EQ(buttonText(), QStringLiteral("Open Settings"));
    controller->wakeButton()->click();
    QMessageBox *sheet = controller->window()->findChild<QMessageBox *>();
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(registration->registerRequests, 0) << "nothing is asked before the user chooses";
    const QString command = QStringLiteral("sudo systemctl enable --now tivolux-recorder-helper.socket");
    EXPECT_TRUE(sheet->informativeText().endsWith(command));
    const QList<QLabel *> labels = sheet->findChildren<QLabel *>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](QLabel *label) {
        return label->text().contains(command) && label->textInteractionFlags().testFlag(Qt::TextSelectableByMouse);
    }));
    for (QAbstractButton *button : sheet->buttons()) {
        if (sheet->buttonRole(button) == QMessageBox::AcceptRole)
            button->click();
    }
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(buttonText(), QStringLiteral("Turn Off"));
}
