#include "DesktopTestSupport.h"
#include "RecordingTableModel.h"
#include "RecordingsFolderLock.h"

#include <QFileDialog>
#include <QTableView>

namespace {

class MainWindow : public DesktopTest
{
protected:
    void select(const Recording &r) { controller->recordingTable()->selectRow(controller->tableModel()->rowOf(r.id)); }
    QString wakeButtonText() const { return controller->wakeButton()->text(); }
    QString wakeStatusText() const { return controller->wakeStatus()->fullText(); }

    // The folder in the settings, the window's folder line and its table.
    void expectFolderShown(const QString &folderPath, const Recording &only)
    {
        EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), folderPath);
        EXPECT_EQ(controller->folderLabel()->fullText(), QDir::toNativeSeparators(folderPath));
        ASSERT_EQ(controller->tableModel()->rowCount(), 1);
        EXPECT_EQ(controller->tableModel()->recordingAt(0)->id, only.id);
    }

    QTemporaryDir other;
};

} // namespace

TEST_F(MainWindow, ButtonsActOnTheSelectedRecording)
{
    openWindow();
    const Recording later = scheduleLater(QStringLiteral("later"));
    const Recording live = startRecording(QStringLiteral("live"));
    QPushButton *stop = controller->stopButton();
    EXPECT_FALSE(stop->isEnabled() || controller->revealButton()->isEnabled() || controller->deleteButton()->isEnabled());

    select(live);
    ASSERT_TRUE(testsupport::waitUntil([&] { return controller->revealButton()->isEnabled(); }))
        << "revealing waits for the first bytes";
    controller->revealButton()->click();
    EXPECT_EQ(files->revealed, QStringList{path(live.fileName)});
    stop->click();
    ASSERT_TRUE(waitFor(live.id, Status::Stopped));
    EXPECT_FALSE(stop->isEnabled());

    select(later);
    EXPECT_EQ(stop->text(), QStringLiteral("Cancel"));
    stop->click();
    EXPECT_FALSE(manager->recording(later.id)) << "a cancelled scheduled recording is withdrawn";
}

// The selection follows its recording when the list is reordered, and
// Delete removes the recording that was selected when its sheet opened.
TEST_F(MainWindow, SelectionFollowsItsRecordingAndDeleteRemovesTheOneSelectedWhenTheSheetOpened)
{
    const Recording keep = finished(QStringLiteral("A"));
    const Recording remove = finished(QStringLiteral("B"));
    const Recording third = finished(QStringLiteral("C"));
    storeIndex({keep, remove, third});
    testsupport::writeFile(path(remove.fileName), QByteArray(188, 'G'));
    openWindow();
    select(remove);
    storeIndex({third, keep, remove});
    manager->loadIndex();
    ASSERT_EQ(controller->tableModel()->rowOf(remove.id), 2);
    EXPECT_EQ(controller->selectedRecording().value_or(keep).id, remove.id);
    EXPECT_EQ(controller->recordingTable()->selectionModel()->selectedRows().size(), 1);

    controller->deleteButton()->click();
    QMessageBox *confirm = sheet();
    ASSERT_NE(confirm, nullptr);
    select(keep);
    press(confirm, QMessageBox::DestructiveRole);
    EXPECT_FALSE(manager->recording(remove.id));
    EXPECT_TRUE(manager->recording(keep.id));
    EXPECT_FALSE(QFile::exists(path(remove.fileName)));
    // Cancel deletes nothing; with the selected recording gone the buttons
    // have nothing to act on.
    controller->deleteButton()->click();
    ASSERT_NE(sheet(), nullptr);
    press(sheet(), QMessageBox::RejectRole);
    EXPECT_TRUE(manager->recording(keep.id));
    manager->deleteRecording(keep.id);
    EXPECT_FALSE(controller->selectedRecording());
    EXPECT_FALSE(controller->deleteButton()->isEnabled());
}

// A folder is chosen only while nothing records and nobody else owns it.
TEST_F(MainWindow, ChosenFolderBecomesTheRecordingsFolderButNotWhileRecordingNorWhileAnotherRecorderOwnsIt)
{
    const Recording elsewhere = finished(QStringLiteral("Elsewhere"));
    ASSERT_FALSE(writeIndex(other.path(), {elsewhere}));
    ExclusiveLock otherRecorder;
    ASSERT_TRUE(std::holds_alternative<ExclusiveLock::Taken>(
        otherRecorder.tryLock(other.filePath(QLatin1String(RecordingsFolderLock::kFileName)))));
    openWindow();
    const Recording live = startRecording(QStringLiteral("live"));
    controller->chooseFolder();
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(controller->window()->findChild<QFileDialog *>(), nullptr);
    sheet()->close();
    expectFolderShown(folder.path(), live);

    manager->stop(live.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    controller->chooseFolder();
    auto *panel = controller->window()->findChild<QFileDialog *>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(QDir(panel->directory()).canonicalPath(), QDir(folder.path()).canonicalPath());
    emit panel->fileSelected(other.path());
    panel->close();
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheet()->text(), QStringLiteral("This folder is in use by another recorder."));
    EXPECT_TRUE(sheet()->informativeText().contains(QString::number(QCoreApplication::applicationPid())));
    sheet()->close();
    expectFolderShown(folder.path(), live);

    otherRecorder.release();
    controller->applyFolder(other.path());
    EXPECT_EQ(sheet(), nullptr);
    expectFolderShown(other.path(), elsewhere);

    // "Open" makes the folder when it is missing and hands it on.
    const QString missing = other.filePath(QStringLiteral("new/inner"));
    controller->applyFolder(missing);
    controller->openFolder();
    EXPECT_TRUE(QFileInfo(missing).isDir());
    EXPECT_EQ(files->opened, QStringList{missing});
}

TEST_F(MainWindow, TheStatusTooltipSaysWhatARecordingMissed)
{
    Recording gapped = finished(QStringLiteral("Gapped"));
    gapped.reconnects = 2;
    gapped.secondsMissing = 14;
    Recording failed = finished(QStringLiteral("Failed"));
    failed.status = Status::Failed;
    failed.errorMessage = QStringLiteral("The stream stopped and did not come back.");
    failed.reconnects = 1;
    failed.secondsMissing = 3725;
    failed.skippedSegments = 1;
    const Recording whole = finished(QStringLiteral("Whole"));
    storeIndex({gapped, failed, whole});
    openWindow();
    const auto tip = [&](const Recording &r) {
        return controller->tableModel()->index(controller->tableModel()->rowOf(r.id), RecordingTableModel::Status).data(Qt::ToolTipRole);
    };
    EXPECT_EQ(tip(gapped).toString(), QStringLiteral("2 gaps, 14 s missing"));
    EXPECT_EQ(tip(failed).toString(),
              QStringLiteral("The stream stopped and did not come back.\n1 gap, 62 min 5 s missing, 1 segment skipped"));
    EXPECT_FALSE(tip(whole).isValid());
}

// Awaiting approval, "Open Settings" explains it and asks again only when
// the user accepts.
TEST_F(MainWindow, WakeButtonAsksApprovalOnlyWhenAcceptedTurnsOffShowsFailuresAndActivationRereadsTheSetting)
{
    registration->state = HelperRegistration::Status::RequiresApproval;
    openWindow();
    ASSERT_EQ(wakeButtonText(), QStringLiteral("Open Settings"));
    controller->wakeButton()->click();
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(registration->registerRequests, 0) << "nothing is asked before the user chooses";
    press(sheet(), QMessageBox::AcceptRole);
    EXPECT_EQ(registration->registerRequests, 1);
    EXPECT_EQ(wakeButtonText(), QStringLiteral("Turn Off"));
    controller->wakeButton()->click();
    EXPECT_EQ(registration->state, HelperRegistration::Status::NotRegistered);
    EXPECT_EQ(wakeButtonText(), QStringLiteral("Turn On"));

    registration->registerFailure = QStringLiteral("The unit could not be enabled.");
    registration->stateAfterRegister = HelperRegistration::Status::NotRegistered;
    controller->wakeButton()->click();
    EXPECT_EQ(wakeStatusText(), QStringLiteral("Could not turn on: The unit could not be enabled."));
    EXPECT_EQ(wakeButtonText(), QStringLiteral("Turn On"));

    // The setting changes outside the application; the scheduler's cached
    // reading still says off until the window becomes active.
    registration->state = HelperRegistration::Status::Enabled;
    EXPECT_FALSE(scheduler->isOn());
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(controller->window(), &activate);
    EXPECT_TRUE(scheduler->isOn()) << "the cached reading was forgotten";
    EXPECT_EQ(wakeButtonText(), QStringLiteral("Turn Off"));
}

TEST_F(MainWindow, WakeWarnsWhileTheComputerCannotBeKeptAwakeForARecording)
{
    inhibitor->failure = QStringLiteral("logind is not there");
    openWindow();
    const QString normal = wakeStatusText();
    scheduleLater(QStringLiteral("later"));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        return wakeStatusText() == QStringLiteral("The computer may fall asleep: it cannot be kept awake (logind is not there).");
    }));
    inhibitor->failure.reset();
    EXPECT_TRUE(testsupport::waitUntil([&] { return wakeStatusText() == normal; }));
}
