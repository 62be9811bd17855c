#include "ApplicationIcon.h"
#include "DesktopTestSupport.h"
#include "ElidingLabel.h"
#include "MainWindowController.h"
#include "RecordingsFolderLock.h"
#include "RecordingCellDelegate.h"
#include "RecordingTableModel.h"
#include "TextTone.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyle>
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

    // Another folder whose index holds one finished recording.
    Recording otherFolderWithARecording()
    {
        const Recording elsewhere = finished(QStringLiteral("Elsewhere"));
        testsupport::writeFile(QDir(other.path()).filePath(QStringLiteral("recordings.json")),
                               sharedJSONEncoder().data(sharedJSONEncoder().encode(QList<Recording>{elsewhere})));
        return elsewhere;
    }

    // The folder in the settings, the window's folder line and its table.
    void expectFolderShown(const QString &path, const Recording &only)
    {
        EXPECT_EQ(QSettings().value(QLatin1String(kFolderPathSettingKey)).toString(), path);
        EXPECT_EQ(controller->folderLabel()->fullText(), QDir::toNativeSeparators(path));
        ASSERT_EQ(controller->tableModel()->rowCount(), 1);
        EXPECT_EQ(controller->tableModel()->recordingAt(0)->id, only.id);
    }

    QTemporaryDir other;
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

// The selection follows its recording when the list is reordered, and
// Delete removes the recording that was selected when its sheet opened.
TEST_F(MainWindow, SelectionFollowsItsRecordingAndDeleteRemovesTheOneSelectedWhenTheSheetOpened)
{
    const QList<Recording> recordings{finished(QStringLiteral("A")), finished(QStringLiteral("B")),
                                      finished(QStringLiteral("C"))};
    const Recording &keep = recordings.at(0);
    const Recording &remove = recordings.at(1);
    storeIndex(recordings);
    testsupport::writeFile(QDir(folder.path()).filePath(remove.fileName), QByteArray(188, 'G'));
    open();
    select(remove);
    storeIndex({recordings.at(2), keep, remove});
    manager->loadIndex();
    ASSERT_EQ(controller->tableModel()->rowOf(remove.id), 2);
    ASSERT_TRUE(controller->selectedRecording());
    EXPECT_EQ(controller->selectedRecording()->id, remove.id);
    EXPECT_EQ(controller->recordingTable()->selectionModel()->selectedRows().size(), 1);

    controller->deleteButton()->click();
    QMessageBox *confirm = sheet();
    ASSERT_NE(confirm, nullptr);
    EXPECT_EQ(confirm->informativeText(), QStringLiteral("The recording is removed from this computer and from Tivolux."));
    select(keep);
    press(confirm, QMessageBox::DestructiveRole);
    EXPECT_FALSE(manager->recording(remove.id));
    EXPECT_TRUE(manager->recording(keep.id));
    EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(remove.fileName)));
    // Cancel deletes nothing; with the selected recording gone nothing is
    // selected, and the buttons say so.
    controller->deleteButton()->click();
    ASSERT_NE(sheet(), nullptr);
    press(sheet(), QMessageBox::RejectRole);
    EXPECT_TRUE(manager->recording(keep.id));
    manager->deleteRecording(keep.id);
    EXPECT_FALSE(controller->selectedRecording());
    EXPECT_FALSE(controller->deleteButton()->isEnabled());
}

TEST_F(MainWindow, ChosenFolderBecomesTheRecordingsFolderButNotWhileRecording)
{
    const Recording elsewhere = otherFolderWithARecording();
    open();
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
    expectFolderShown(other.path(), elsewhere);

    // "Open" makes the folder when it is missing and hands it on.
    const QString missing = QDir(other.path()).filePath(QStringLiteral("new/inner"));
    controller->applyFolder(missing);
    controller->openFolder();
    EXPECT_TRUE(QFileInfo(missing).isDir());
    EXPECT_EQ(files->opened, QStringList{missing});
}

TEST_F(MainWindow, AFolderThatAnotherRecorderOwnsIsRefusedUntilItLetsGo)
{
    const Recording elsewhere = otherFolderWithARecording();
    ExclusiveLock otherRecorder;
    ASSERT_TRUE(std::holds_alternative<ExclusiveLock::Taken>(
        otherRecorder.tryLock(QDir(other.path()).filePath(QLatin1String(RecordingsFolderLock::kFileName)))));
    open();
    const Recording here = scheduleLater(QStringLiteral("here"));

    controller->applyFolder(other.path());
    ASSERT_NE(sheet(), nullptr);
    EXPECT_EQ(sheet()->text(), QStringLiteral("This folder is in use by another recorder."));
    EXPECT_TRUE(sheet()->informativeText().contains(QString::number(QCoreApplication::applicationPid())));
    sheet()->close();
    expectFolderShown(folder.path(), here);

    otherRecorder.release();
    controller->applyFolder(other.path());
    EXPECT_EQ(sheet(), nullptr);
    expectFolderShown(other.path(), elsewhere);
}

// The time column grows to fit a date written in full, and button titles
// keep the style's margin on each side.
TEST_F(MainWindow, TextsFitTheirColumnsAndButtons)
{
    const Recording today = finished(QStringLiteral("Today"));
    storeIndex({today});
    open();
    QTableView *table = controller->recordingTable();
    const int usual = RecordingTableModel::kColumns[RecordingTableModel::Time].width;
    EXPECT_EQ(table->horizontalHeader()->sectionSize(RecordingTableModel::Time), usual);
    Recording later = finished(QStringLiteral("Later"));
    later.programStart = later.startDate = now().addDays(10);
    later.programEnd = later.programStart.addSecs(3600);
    storeIndex({today, later});
    manager->loadIndex();
    const QString text = controller->tableModel()->index(1, RecordingTableModel::Time).data().toString();
    const int needed = QFontMetrics(table->font()).horizontalAdvance(text) + 2 * RecordingCellDelegate::kTextInset;
    ASSERT_GT(needed, usual) << "a date written in full is wider than the usual column: " << text.toStdString();
    EXPECT_GE(table->horizontalHeader()->sectionSize(RecordingTableModel::Time), needed);

    QPushButton *button = controller->revealButton();
    const QStyle *style = button->style();
    EXPECT_GE((button->sizeHint().width() - button->fontMetrics().horizontalAdvance(button->text())) / 2,
              style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button)
                  + style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button));
}

TEST_F(MainWindow, ColoursFollowASwitchBetweenLightAndDark)
{
    storeIndex({finished(QStringLiteral("A"))});
    open();
    const QPalette light = QApplication::palette();
    const auto restore = qScopeGuard([&] { QApplication::setPalette(light); });
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(0x2d, 0x2d, 0x2d));
    dark.setColor(QPalette::WindowText, QColor(0xee, 0xee, 0xee));
    dark.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x1e));
    dark.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf0));
    ASSERT_NE(colourFor(TextTone::Secondary, dark), colourFor(TextTone::Secondary, light));
    for (const QPalette &palette : {light, dark}) {
        QApplication::setPalette(palette);
        QCoreApplication::processEvents();
        EXPECT_EQ(controller->wakeStatus()->palette().color(QPalette::WindowText), colourFor(TextTone::Secondary, palette));
        EXPECT_EQ(controller->tableModel()->index(0, RecordingTableModel::Title).data(Qt::ForegroundRole).value<QBrush>().color(),
                  colourFor(TextTone::Label, palette));
    }
}

// The window shows the picture the menu entry names: the entry's icon name
// is the theme icon the window asks for, and without a theme the window
// draws the installed picture's shapes in its colours.
TEST_F(MainWindow, WindowIconIsTheMenuEntrysIcon)
{
    const QString entry = QString::fromUtf8(testsupport::readFile(QStringLiteral(TIVOLUX_DATA_DIR "/desktop/tivolux-recorder.desktop")));
    EXPECT_TRUE(entry.contains(QStringLiteral("\nIcon=") + QLatin1String(ApplicationIcon::kThemeName) + QLatin1Char('\n')));

    // Each shape's colour in document order: its fill, or its stroke when
    // it has no fill.
    const QString svg = QString::fromUtf8(testsupport::readFile(QStringLiteral(TIVOLUX_DATA_DIR "/icons/tivolux-recorder.svg")));
    QList<QColor> shapes;
    const QRegularExpression shape(QStringLiteral("<(?:rect|circle)\\b[^>]*?\\b(?:fill|stroke)=\"(#[0-9a-fA-F]{6})\""));
    for (const QRegularExpressionMatch &m : shape.globalMatch(svg))
        shapes << QColor(m.captured(1));
    ASSERT_EQ(shapes.size(), 5);

    open();
    const QImage image = controller->window()->windowIcon().pixmap(128).toImage();
    ASSERT_EQ(image.width(), 128);
    // A point well inside each shape, on the 128-unit canvas: the frame, the
    // screen, the ring, the dot, the stand.
    const QPoint samples[] = {{12, 60}, {24, 40}, {64, 38}, {64, 60}, {64, 108}};
    for (int index = 0; index < 5; ++index)
        EXPECT_EQ(image.pixelColor(samples[index]).rgb(), shapes[index].rgb()) << index;
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
    open();
    const auto tip = [&](const Recording &r) {
        return controller->tableModel()->index(controller->tableModel()->rowOf(r.id), RecordingTableModel::Status).data(Qt::ToolTipRole);
    };
    EXPECT_EQ(tip(gapped).toString(), QStringLiteral("2 gaps, 14 s missing"));
    EXPECT_EQ(tip(failed).toString(),
              QStringLiteral("The stream stopped and did not come back.\n1 gap, 62 min 5 s missing, 1 segment skipped"));
    EXPECT_FALSE(tip(whole).isValid()) << "nothing missed, nothing to say";
}
