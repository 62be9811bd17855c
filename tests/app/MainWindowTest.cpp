#include "DesktopTestSupport.h"
#include "ElidingLabel.h"
#include "MainWindowController.h"
#include "RecordingTableModel.h"
#include "StatusTexts.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QTableView>
#include <QTcpServer>

namespace {

using Status = Recording::Status;

class MainWindow : public DesktopTest
{
protected:
    MainWindowController &open(quint16 port = 0)
    {
        if (!manager)
            launchManager();
        controller = std::make_unique<MainWindowController>(services(port));
        controller->showWindow();
        return *controller;
    }

    void select(const QString &title)
    {
        RecordingTableModel *model = controller->tableModel();
        for (int row = 0; row < model->rowCount(); ++row) {
            if (model->recordingAt(row)->title == title) {
                controller->recordingTable()->selectRow(row);
                return;
            }
        }
        ADD_FAILURE() << "no row titled " << title.toStdString();
    }

    QString cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return controller->tableModel()->index(row, column).data(role).toString();
    }

    QColor cellColour(int row, int column) const
    {
        return controller->tableModel()->index(row, column).data(Qt::ForegroundRole).value<QBrush>().color();
    }

    QColor tone(TextTone t) const { return colourFor(t, controller->recordingTable()->palette()); }
    QColor labelTone(TextTone t) const { return colourFor(t, controller->window()->palette()); }

    std::unique_ptr<MainWindowController> controller;
};

} // namespace

TEST_F(MainWindow, ColumnsAndCellsFollowTheManagersList)
{
    storeIndex({stored(QStringLiteral("Finished Film"), Status::Finished),
                stored(QStringLiteral("Broken"), Status::Failed, 0),
                stored(QStringLiteral("Refused"), Status::Failed, 0, QStringLiteral("The provider answered 403."))});
    testsupport::writeFile(QDir(folder.path()).filePath(QStringLiteral("Finished Film.ts")), QByteArray(1'500'000, 'G'));
    open();
    ASSERT_EQ(controller->tableModel()->rowCount(), 3);
    EXPECT_EQ(cell(0, RecordingTableModel::Title), QStringLiteral("Finished Film"));
    EXPECT_EQ(cellColour(0, RecordingTableModel::Title), tone(TextTone::Label));
    EXPECT_EQ(cell(0, RecordingTableModel::Channel), QStringLiteral("Channel One"));
    EXPECT_EQ(cellColour(0, RecordingTableModel::Channel), tone(TextTone::Secondary));
    EXPECT_TRUE(cell(0, RecordingTableModel::Time).startsWith(QStringLiteral("Tomorrow, ")));
    EXPECT_EQ(cell(0, RecordingTableModel::Status), QStringLiteral("Finished"));
    EXPECT_EQ(cell(0, RecordingTableModel::Size), QStringLiteral("1.5 MB")) << "the size is read from the file";

    EXPECT_EQ(cell(1, RecordingTableModel::Status), QStringLiteral("Failed: unknown error"));
    EXPECT_EQ(cellColour(1, RecordingTableModel::Status), tone(TextTone::Orange));
    EXPECT_TRUE(controller->tableModel()->index(1, RecordingTableModel::Status).data(Qt::ToolTipRole).isNull());
    EXPECT_EQ(cell(1, RecordingTableModel::Size), QString());
    EXPECT_EQ(cell(2, RecordingTableModel::Status, Qt::ToolTipRole), QStringLiteral("The provider answered 403."));
}

TEST_F(MainWindow, ButtonsFollowTheSelectedRecordingsStatus)
{
    storeIndex({stored(QStringLiteral("Later"), Status::Scheduled),
                stored(QStringLiteral("Done"), Status::Finished),
                stored(QStringLiteral("Empty"), Status::Finished),
                stored(QStringLiteral("Cut"), Status::Interrupted)});
    testsupport::writeFile(QDir(folder.path()).filePath(QStringLiteral("Done.ts")), QByteArray(188, 'G'));
    testsupport::writeFile(QDir(folder.path()).filePath(QStringLiteral("Cut.ts")), QByteArray(188, 'G'));
    open();
    const Recording live = startRecording(QStringLiteral("live"));
    QPushButton *stop = controller->stopButton();
    EXPECT_EQ(controller->revealButton()->text(), QStringLiteral("Show in File Manager"));

    const auto expectButtons = [&](const QString &stopTitle, bool stopEnabled, bool reveal, bool remove) {
        EXPECT_EQ(stop->text(), stopTitle);
        EXPECT_EQ(stop->isEnabled(), stopEnabled);
        EXPECT_EQ(controller->revealButton()->isEnabled(), reveal);
        EXPECT_EQ(controller->deleteButton()->isEnabled(), remove);
    };
    SCOPED_TRACE("nothing selected");
    expectButtons(QStringLiteral("Stop"), false, false, false);
    select(QStringLiteral("Later"));
    expectButtons(QStringLiteral("Cancel"), true, false, true);
    select(QStringLiteral("Done"));
    expectButtons(QStringLiteral("Stop"), false, true, true);
    select(QStringLiteral("Empty"));
    expectButtons(QStringLiteral("Stop"), false, false, true);
    select(QStringLiteral("Cut"));
    expectButtons(QStringLiteral("Stop"), false, true, true);
    select(QStringLiteral("Evening Film"));
    ASSERT_TRUE(testsupport::waitUntil([&] { return controller->revealButton()->isEnabled(); }))
        << "revealing waits for the first bytes";
    expectButtons(QStringLiteral("Stop"), true, true, true);
    const int liveRow = controller->tableModel()->rowOf(live.id);
    EXPECT_TRUE(cell(liveRow, RecordingTableModel::Status).startsWith(QStringLiteral("● Recording until ")));
    EXPECT_EQ(cellColour(liveRow, RecordingTableModel::Status), tone(TextTone::Red));

    // Reveal asks the file manager for the file in the current folder.
    controller->revealButton()->click();
    EXPECT_EQ(files->revealed, QStringList{QDir(folder.path()).filePath(live.fileName)});
    // Stop ends the running recording; the button follows.
    stop->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager->recording(live.id)->status == Status::Stopped; }));
    expectButtons(QStringLiteral("Stop"), false, true, true);
    // Cancel on a scheduled one cancels it.
    select(QStringLiteral("Later"));
    const QUuid later = controller->selectedRecording()->id;
    stop->click();
    const std::optional<Recording> cancelled = manager->recording(later);
    EXPECT_TRUE(!cancelled || cancelled->status != Status::Scheduled);
}

TEST_F(MainWindow, SelectionFollowsTheRecordingWhenTheListIsReordered)
{
    const QList<Recording> recordings{stored(QStringLiteral("A"), Status::Finished),
                                      stored(QStringLiteral("B"), Status::Finished),
                                      stored(QStringLiteral("C"), Status::Finished)};
    storeIndex(recordings);
    open();
    select(QStringLiteral("B"));
    storeIndex({recordings.at(2), recordings.at(0), recordings.at(1)});
    manager->loadIndex();
    ASSERT_EQ(cell(2, RecordingTableModel::Title), QStringLiteral("B"));
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
    storeIndex({stored(QStringLiteral("Keep"), Status::Finished), stored(QStringLiteral("Remove"), Status::Finished)});
    testsupport::writeFile(QDir(folder.path()).filePath(QStringLiteral("Remove.ts")), QByteArray(188, 'G'));
    open();
    select(QStringLiteral("Remove"));
    controller->deleteButton()->click();
    QMessageBox *sheet = openAlert(controller->window());
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->text(), QStringLiteral("Delete “Remove”?"));
    EXPECT_EQ(sheet->informativeText(), QStringLiteral("The recording is removed from your Mac and from Tivolux."));
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    QAbstractButton *remove = buttonTitled(sheet, QStringLiteral("Delete"));
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(sheet->buttonRole(remove), QMessageBox::DestructiveRole);
    ASSERT_NE(buttonTitled(sheet, QStringLiteral("Cancel")), nullptr);

    select(QStringLiteral("Keep"));
    remove->click();
    ASSERT_EQ(manager->recordings().size(), 1);
    EXPECT_EQ(manager->recordings().first().title, QStringLiteral("Keep"));
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("Remove.ts"))));

    // Cancel deletes nothing.
    controller->deleteButton()->click();
    sheet = openAlert(controller->window());
    ASSERT_NE(sheet, nullptr);
    buttonTitled(sheet, QStringLiteral("Cancel"))->click();
    EXPECT_EQ(manager->recordings().size(), 1);
}

TEST_F(MainWindow, FolderCannotChangeWhileRecording)
{
    open();
    startRecording(QStringLiteral("live"));
    controller->chooseFolder();
    QMessageBox *alert = openAlert(controller->window());
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->text(), QStringLiteral("Stop the running recordings first."));
    EXPECT_EQ(alert->informativeText(), QStringLiteral("The folder cannot change while recording."));
    EXPECT_EQ(controller->window()->findChild<QFileDialog *>(), nullptr);
    EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), folder.path());
}

TEST_F(MainWindow, ChosenFolderBecomesTheRecordingsFolder)
{
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());
    const Recording elsewhere = stored(QStringLiteral("Elsewhere"), Status::Finished);
    testsupport::writeFile(QDir(other.path()).filePath(QStringLiteral("recordings.json")),
                           sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{elsewhere})));
    storeIndex({stored(QStringLiteral("Here"), Status::Finished)});
    open();
    EXPECT_EQ(controller->folderLabel()->fullText(), QDir::toNativeSeparators(folder.path()));

    controller->chooseFolder();
    auto *panel = controller->window()->findChild<QFileDialog *>();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->fileMode(), QFileDialog::Directory);
    EXPECT_EQ(panel->labelText(QFileDialog::Accept), QStringLiteral("Use Folder"));
    EXPECT_EQ(QDir(panel->directory()).canonicalPath(), QDir(folder.path()).canonicalPath());
    emit panel->fileSelected(other.path());
    panel->close();

    EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), other.path());
    EXPECT_EQ(controller->folderLabel()->fullText(), QDir::toNativeSeparators(other.path()));
    ASSERT_EQ(controller->tableModel()->rowCount(), 1);
    EXPECT_EQ(cell(0, RecordingTableModel::Title), QStringLiteral("Elsewhere"));

    // "Open" makes the folder when it is missing and hands it on.
    const QString missing = QDir(other.path()).filePath(QStringLiteral("new/inner"));
    controller->applyFolder(missing);
    controller->openFolder();
    EXPECT_TRUE(QFileInfo(missing).isDir());
    EXPECT_EQ(files->opened, QStringList{missing});
}

TEST_F(MainWindow, ServerFailureShowsInRedAndIsHiddenOtherwise)
{
    {
        open();
        server->start();
        EXPECT_TRUE(controller->serverStatus()->isHidden());
        EXPECT_TRUE(controller->serverStatus()->text().isEmpty());
        controller.reset();
        server.reset();
    }
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
    open(taken.serverPort());
    EXPECT_TRUE(controller->serverStatus()->isHidden());
    server->start();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !controller->serverStatus()->isHidden(); }));
    EXPECT_TRUE(controller->serverStatus()->text().startsWith(
        QStringLiteral("Port %1 is not available: ").arg(taken.serverPort())));
    EXPECT_EQ(controller->serverStatus()->palette().color(QPalette::WindowText), labelTone(TextTone::Red));
    EXPECT_EQ(controller->addressLabel()->text(), StatusTexts::address(RecordingServer::localIPv4Address()));
}

TEST_F(MainWindow, FirstOpeningIsCentredAndLaterOnesRestoreTheFrame)
{
    open();
    QMainWindow *window = controller->window();
    const QPoint screenCentre = window->screen()->availableGeometry().center();
    // Centred before it is shown, when the frame's decorations are not yet
    // known: they may shift it by their width.
    EXPECT_LE((window->frameGeometry().center() - screenCentre).manhattanLength(), 10);

    window->setGeometry(QRect(40, 30, 800, 500));
    const QRect moved = window->geometry();
    window->close();
    controller.reset();
    EXPECT_FALSE(QSettings().value(QLatin1String(MainWindowController::kFrameSettingKey)).toByteArray().isEmpty());

    open();
    EXPECT_EQ(controller->window()->geometry(), moved);
}
