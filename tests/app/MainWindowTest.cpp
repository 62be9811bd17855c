#include "DesktopTestSupport.h"
#include "ElidingLabel.h"
#include "MainWindowController.h"
#include "RecordingsFolderLock.h"
#include "RecordingTableModel.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QPushButton>
#include <QTableView>

namespace {

using Status = Recording::Status;

class MainWindow : public DesktopTest
{
protected:
    void open()
    {
        controller = std::make_unique<MainWindowController>(startServices());
        controller->showWindow();
    }

    void select(const Recording &r) { controller->recordingTable()->selectRow(controller->tableModel()->rowOf(r.id)); }

    // The visible message box on the window, if any.
    QMessageBox *sheet() const
    {
        for (QMessageBox *box : controller->window()->findChildren<QMessageBox *>()) {
            if (box->isVisible())
                return box;
        }
        return nullptr;
    }

    static void press(QMessageBox *box, QMessageBox::ButtonRole role)
    {
        for (QAbstractButton *button : box->buttons()) {
            if (box->buttonRole(button) == role)
                button->click();
        }
    }

    std::unique_ptr<MainWindowController> controller;
};

} // namespace

TEST_F(MainWindow, ButtonsActOnTheSelectedRecording)
{
    open();
    const Recording later = scheduleLater(QStringLiteral("later"));
    const Recording live = startRecording(QStringLiteral("live"));
    QPushButton *stop = controller->stopButton();
    EXPECT_FALSE(stop->isEnabled() || controller->revealButton()->isEnabled() || controller->deleteButton()->isEnabled())
        << "nothing is selected";

    select(live);
    ASSERT_TRUE(testsupport::waitUntil([&] { return controller->revealButton()->isEnabled(); }))
        << "revealing waits for the first bytes";
    controller->revealButton()->click();
    EXPECT_EQ(files->revealed, QStringList{QDir(folder.path()).filePath(live.fileName)});
    stop->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->recording(live.id)->status == Status::Stopped; }));
    EXPECT_FALSE(stop->isEnabled());

    select(later);
    EXPECT_EQ(stop->text(), QStringLiteral("Cancel"));
    stop->click();
    EXPECT_FALSE(manager->recording(later.id)) << "a cancelled scheduled recording is withdrawn";
}

TEST_F(MainWindow, SelectionFollowsTheRecordingWhenTheListIsReordered)
{
    const QList<Recording> recordings{finished(QStringLiteral("A")), finished(QStringLiteral("B")),
                                      finished(QStringLiteral("C"))};
    storeIndex(recordings);
    open();
    select(recordings.at(1));
    storeIndex({recordings.at(2), recordings.at(0), recordings.at(1)});
    manager->loadIndex();
    ASSERT_EQ(controller->tableModel()->rowOf(recordings.at(1).id), 2);
    ASSERT_TRUE(controller->selectedRecording());
    EXPECT_EQ(controller->selectedRecording()->id, recordings.at(1).id);
    EXPECT_EQ(controller->recordingTable()->selectionModel()->selectedRows().size(), 1);

    // When the selected recording is gone nothing is selected, and the
    // buttons say so.
    manager->deleteRecording(recordings.at(1).id);
    EXPECT_FALSE(controller->selectedRecording());
    EXPECT_FALSE(controller->deleteButton()->isEnabled());
}

TEST_F(MainWindow, DeleteRemovesTheRecordingSelectedWhenTheSheetOpened)
{
    const Recording keep = finished(QStringLiteral("Keep"));
    const Recording remove = finished(QStringLiteral("Remove"));
    storeIndex({keep, remove});
    testsupport::writeFile(QDir(folder.path()).filePath(remove.fileName), QByteArray(188, 'G'));
    open();
    select(remove);
    controller->deleteButton()->click();
    QMessageBox *confirm = sheet();
    ASSERT_NE(confirm, nullptr);

    select(keep);
    press(confirm, QMessageBox::DestructiveRole);
    ASSERT_EQ(manager->recordings().size(), 1);
    EXPECT_EQ(manager->recordings().first().id, keep.id);
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(remove.fileName)));

    // Cancel deletes nothing.
    controller->deleteButton()->click();
    ASSERT_NE(sheet(), nullptr);
    press(sheet(), QMessageBox::RejectRole);
    EXPECT_EQ(manager->recordings().size(), 1);
}

TEST_F(MainWindow, ChosenFolderBecomesTheRecordingsFolderButNotWhileRecording)
{
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());
    const Recording elsewhere = finished(QStringLiteral("Elsewhere"));
    testsupport::writeFile(QDir(other.path()).filePath(QStringLiteral("recordings.json")),
                           sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{elsewhere})));
    open();
    const Recording live = startRecording(QStringLiteral("live"));
    controller->chooseFolder();
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(controller->window()->findChild<QFileDialog *>(), nullptr);
    EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), folder.path());
    sheet()->close();

    manager->stop(live.id);
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->runningCount() == 0; }));
    controller->chooseFolder();
    auto *panel = controller->window()->findChild<QFileDialog *>();
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(QDir(panel->directory()).canonicalPath(), QDir(folder.path()).canonicalPath());
    emit panel->fileSelected(other.path());
    panel->close();

    EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), other.path());
    EXPECT_EQ(controller->folderLabel()->fullText(), QDir::toNativeSeparators(other.path()));
    ASSERT_EQ(controller->tableModel()->rowCount(), 1);
    EXPECT_EQ(controller->tableModel()->recordingAt(0)->id, elsewhere.id);

    // "Open" makes the folder when it is missing and hands it on.
    const QString missing = QDir(other.path()).filePath(QStringLiteral("new/inner"));
    controller->applyFolder(missing);
    controller->openFolder();
    EXPECT_TRUE(QFileInfo(missing).isDir());
    EXPECT_EQ(files->opened, QStringList{missing});
}

TEST_F(MainWindow, AFolderThatAnotherRecorderOwnsIsRefusedUntilItLetsGo)
{
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());
    const Recording elsewhere = finished(QStringLiteral("Elsewhere"));
    testsupport::writeFile(QDir(other.path()).filePath(QStringLiteral("recordings.json")),
                           sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{elsewhere})));
    ExclusiveLock otherRecorder;
    ASSERT_TRUE(std::holds_alternative<ExclusiveLock::Taken>(
        otherRecorder.tryLock(QDir(other.path()).filePath(QLatin1String(RecordingsFolderLock::kFileName)))));
    open();
    const Recording here = scheduleLater(QStringLiteral("here"));

    controller->applyFolder(other.path());
    QMessageBox *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("This folder is in use by another recorder."));
    EXPECT_TRUE(alert->informativeText().contains(QString::number(QCoreApplication::applicationPid())));
    alert->close();
    EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), folder.path());
    EXPECT_EQ(controller->folderLabel()->fullText(), QDir::toNativeSeparators(folder.path()));
    ASSERT_EQ(controller->tableModel()->rowCount(), 1);
    EXPECT_EQ(controller->tableModel()->recordingAt(0)->id, here.id);

    otherRecorder.release();
    controller->applyFolder(other.path());
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), other.path());
    ASSERT_EQ(controller->tableModel()->rowCount(), 1);
    EXPECT_EQ(controller->tableModel()->recordingAt(0)->id, elsewhere.id);
}
