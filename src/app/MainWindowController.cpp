#include "MainWindowController.h"

#include "AddressClipboard.h"
#include "ApplicationIcon.h"
#include "ElidingLabel.h"
#include "FileManager.h"
#include "RecordingCellDelegate.h"
#include "RecordingManager.h"
#include "RecordingServer.h"
#include "RecordingTableModel.h"
#include "RecordingsFolder.h"
#include "RecordingsFolderLock.h"
#include "StatusTexts.h"
#include "SystemdHelperRegistration.h"
#include "WakeScheduler.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTableView>
#include <QVBoxLayout>

namespace {

constexpr int kRowSpacing = 8;
// The tone a label's text is written in, kept on the label so that the
// colour can be worked out again when the palette changes.
constexpr char kToneProperty[] = "tivoluxTextTone";

QLabel *fixedLabel(const QString &text)
{
    auto *label = new QLabel(text);
    label->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    return label;
}

// A push button with the style's button margin on each side of its title;
// the style itself splits one margin between both sides, which leaves long
// titles such as "Show in File Manager" touching the bezel.
class PaddedButton : public QPushButton
{
public:
    using QPushButton::QPushButton;

    QSize sizeHint() const override
    {
        QSize size = QPushButton::sizeHint();
        size.rwidth() += style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, this);
        return size;
    }
};

QPushButton *huggingButton(const QString &title)
{
    auto *button = new PaddedButton(title);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
}

QHBoxLayout *row()
{
    auto *layout = new QHBoxLayout;
    layout->setSpacing(kRowSpacing);
    layout->setContentsMargins(0, 0, 0, 0);
    return layout;
}

const QString kScheduleHint = QStringLiteral("Schedule recordings in Tivolux: hold OK on a programme in the TV guide.");
const QString kNoTrayHint =
    QStringLiteral("This desktop has no tray: closing minimises the window, and the recorder keeps running.");

} // namespace

MainWindowController::MainWindowController(AppServices services, QMenuBar *menuBar, QObject *parent)
    : QObject(parent)
    , m_services(std::move(services))
{
    createWidgets();
    m_window = new QMainWindow;
    m_window->setWindowTitle(QStringLiteral("Tivolux Recorder"));
    m_window->setWindowIcon(ApplicationIcon::icon());
    if (menuBar)
        m_window->setMenuBar(menuBar);
    buildUI();
    m_folderLabel->setFullText(QDir::toNativeSeparators(m_services.recordingManager().recordingsFolderURL()));
    refresh();
    observe();
    updateWakeSection();
    restoreFrame();
    m_window->installEventFilter(this);
    m_recordingTable->installEventFilter(this);
}

MainWindowController::~MainWindowController()
{
    delete m_window;
}

void MainWindowController::createWidgets()
{
    m_folderLabel = new ElidingLabel(Qt::ElideMiddle);
    m_recordingTable = new QTableView;
    m_stopButton = huggingButton(QStringLiteral("Stop"));
    m_revealButton = huggingButton(QStringLiteral("Show in File Manager"));
    m_deleteButton = huggingButton(QStringLiteral("Delete"));
    m_addressLabel = new QLabel;
    m_wakeStatus = new ElidingLabel(Qt::ElideRight);
    m_wakeButton = huggingButton(QString());
    m_serverStatus = new QLabel;
    m_hint = new ElidingLabel(Qt::ElideRight);
    m_model = new RecordingTableModel(this);
}

void MainWindowController::buildUI()
{
    auto *content = new QWidget;
    content->setMinimumSize(kMinimumContentSize);
    auto *stack = new QVBoxLayout(content);
    stack->setSpacing(12);
    stack->setContentsMargins(20, 16, 20, 16);

    stack->addLayout(addressRow());
    setTone(m_serverStatus, TextTone::Red);
    m_serverStatus->setWordWrap(true);
    m_serverStatus->setTextInteractionFlags(Qt::TextSelectableByMouse);
    stack->addWidget(m_serverStatus);
    stack->addLayout(folderRow());
    stack->addLayout(wakeRow());

    auto *heading = new QLabel(QStringLiteral("Recordings"));
    QFont headingFont = heading->font();
    headingFont.setBold(true);
    headingFont.setPointSizeF(headingFont.pointSizeF() + 2);
    heading->setFont(headingFont);
    stack->addSpacing(4);
    stack->addWidget(heading);

    setUpTable();
    stack->addWidget(m_recordingTable, 1);
    stack->addLayout(buttonRow());

    m_window->setCentralWidget(content);
    updateButtons();
}

QBoxLayout *MainWindowController::addressRow()
{
    QHBoxLayout *layout = row();
    layout->addWidget(fixedLabel(QStringLiteral("In Tivolux, go to Settings › Recording Server and enter:")));
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(QApplication::font().pointSizeF() + 4);
    font.setWeight(QFont::DemiBold);
    m_addressLabel->setFont(font);
    m_addressLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_addressLabel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    layout->addWidget(m_addressLabel);
    QPushButton *copy = huggingButton(QStringLiteral("Copy"));
    connect(copy, &QPushButton::clicked, this, &MainWindowController::copyAddress);
    layout->addWidget(copy);
    layout->addStretch(1);
    return layout;
}

QBoxLayout *MainWindowController::folderRow()
{
    QHBoxLayout *layout = row();
    layout->addWidget(fixedLabel(QStringLiteral("Recordings folder:")));
    setTone(m_folderLabel, TextTone::Secondary);
    m_folderLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(m_folderLabel, 1);
    QPushButton *change = huggingButton(QStringLiteral("Change…"));
    connect(change, &QPushButton::clicked, this, &MainWindowController::chooseFolder);
    layout->addWidget(change);
    QPushButton *open = huggingButton(QStringLiteral("Open"));
    connect(open, &QPushButton::clicked, this, &MainWindowController::openFolder);
    layout->addWidget(open);
    return layout;
}

QBoxLayout *MainWindowController::wakeRow()
{
    QHBoxLayout *layout = row();
    layout->addWidget(fixedLabel(QStringLiteral("Wake the computer for recordings:")));
    m_wakeStatus->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    layout->addWidget(m_wakeStatus);
    connect(m_wakeButton, &QPushButton::clicked, this, &MainWindowController::toggleWake);
    layout->addWidget(m_wakeButton);
    layout->addStretch(1);
    return layout;
}

QBoxLayout *MainWindowController::buttonRow()
{
    QHBoxLayout *layout = row();
    connect(m_stopButton, &QPushButton::clicked, this, &MainWindowController::stopSelected);
    connect(m_revealButton, &QPushButton::clicked, this, &MainWindowController::revealSelected);
    connect(m_deleteButton, &QPushButton::clicked, this, &MainWindowController::deleteSelected);
    layout->addWidget(m_stopButton);
    layout->addWidget(m_revealButton);
    layout->addWidget(m_deleteButton);
    layout->addStretch(1);
    m_hint->setFullText(kScheduleHint);
    m_hint->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    m_hint->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    setTone(m_hint, TextTone::Secondary);
    layout->addWidget(m_hint);
    return layout;
}

void MainWindowController::setUpTable()
{
    QTableView *table = m_recordingTable;
    table->setModel(m_model);
    m_model->setPalette(table->palette());
    table->setItemDelegate(new RecordingCellDelegate(table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setCornerButtonEnabled(false);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    table->setFrameShape(QFrame::StyledPanel);
    table->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 12);

    QHeaderView *header = table->horizontalHeader();
    header->setMinimumSectionSize(RecordingTableModel::kMinimumColumnWidth);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (int column = 0; column < RecordingTableModel::ColumnCount; ++column)
        header->resizeSection(column, RecordingTableModel::kColumns[column].width);
    // Only the first column follows the table's width.
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setSectionResizeMode(RecordingTableModel::Title, QHeaderView::Stretch);
    header->setStretchLastSection(false);

    connect(table->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindowController::updateButtons);
}

void MainWindowController::observe()
{
    RecordingManager &manager = m_services.recordingManager();
    WakeScheduler &scheduler = m_services.scheduler();
    connect(&manager, &RecordingManager::recordingsDidChange, this, &MainWindowController::refresh);
    connect(&manager, &RecordingManager::sleepHoldDidChange, this, &MainWindowController::updateWakeSection);
    connect(&m_services.recordingServer(), &RecordingServer::startErrorChanged, this, &MainWindowController::refresh);
    connect(&scheduler, &WakeScheduler::wakeStateDidChange, this, &MainWindowController::updateWakeSection);
    // The wake events and the sleep hold follow the wake setting even when
    // the window is gone.
    connect(&scheduler, &WakeScheduler::wakeStateDidChange, &manager, [&manager] {
        manager.syncWakes();
        manager.updateSleepHold();
    });
}

void MainWindowController::setTone(QLabel *label, TextTone tone)
{
    label->setProperty(kToneProperty, int(tone));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colourFor(tone, m_window ? m_window->palette() : QApplication::palette()));
    label->setPalette(palette);
}

bool MainWindowController::eventFilter(QObject *watched, QEvent *event)
{
    // The table's palette may settle after the window's.
    if (watched == m_recordingTable && event->type() == QEvent::PaletteChange)
        m_model->setPalette(m_recordingTable->palette());
    if (watched == m_window) {
        switch (event->type()) {
        case QEvent::WindowActivate:
            // The setting may have been changed outside while the window
            // was in the background: read it afresh.
            m_services.scheduler().clearCachedIsOn();
            emit m_services.scheduler().wakeStateDidChange();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            if (m_window->isVisible())
                saveFrame();
            break;
        case QEvent::Hide:
            saveFrame();
            break;
        case QEvent::Close:
            if (m_closingMinimizes) {
                // Hidden, the window could not be reached again.
                event->ignore();
                minimizeInsteadOfClosing();
                return true;
            }
            break;
        case QEvent::PaletteChange:
            // The desktop switched between light and dark.
            applyTones();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void MainWindowController::minimizeInsteadOfClosing()
{
    m_window->showMinimized();
    // Said once, where the user looks on coming back; the next close puts
    // the usual hint back.
    m_hint->setFullText(m_minimizeNoticeShown ? kScheduleHint : kNoTrayHint);
    m_minimizeNoticeShown = true;
}

void MainWindowController::applyTones()
{
    for (QLabel *label : m_window->findChildren<QLabel *>()) {
        const QVariant tone = label->property(kToneProperty);
        if (tone.isValid())
            setTone(label, TextTone(tone.toInt()));
    }
}

void MainWindowController::fitColumns()
{
    // Dates other than today, tomorrow and yesterday are written in full,
    // and sizes in a large font, wider than the columns' usual widths. The
    // columns only grow, so that a width the user chose stays.
    const QFontMetrics metrics(m_recordingTable->font());
    QHeaderView *header = m_recordingTable->horizontalHeader();
    for (const int column : {RecordingTableModel::Time, RecordingTableModel::Size}) {
        int width = RecordingTableModel::kColumns[column].width;
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const QString text = m_model->index(row, column).data().toString();
            width = std::max(width, metrics.horizontalAdvance(text) + 2 * RecordingCellDelegate::kTextInset + 2);
        }
        if (header->sectionSize(column) < width)
            header->resizeSection(column, width);
    }
}

void MainWindowController::restoreFrame()
{
    const QByteArray saved = QSettings().value(QLatin1String(kFrameSettingKey)).toByteArray();
    if (!saved.isEmpty() && m_window->restoreGeometry(saved))
        return;
    m_window->resize(kContentSize.width(), kContentSize.height() + m_window->menuBar()->sizeHint().height());
    if (QScreen *screen = m_window->screen() ? m_window->screen() : QGuiApplication::primaryScreen()) {
        QRect frame = m_window->frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        m_window->move(frame.topLeft());
    }
}

void MainWindowController::saveFrame()
{
    QSettings().setValue(QLatin1String(kFrameSettingKey), m_window->saveGeometry());
}

void MainWindowController::showWindow()
{
    m_window->show();
    m_window->setWindowState(m_window->windowState() & ~Qt::WindowMinimized);
    m_window->raise();
    m_window->activateWindow();
}

void MainWindowController::copyAddress()
{
    AddressClipboard::copy(RecordingServer::localIPv4Address());
}

std::optional<Recording> MainWindowController::selectedRecording() const
{
    const QModelIndexList rows = m_recordingTable->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return std::nullopt;
    return m_model->recordingAt(rows.first().row());
}

void MainWindowController::refresh()
{
    const std::optional<Recording> selected = selectedRecording();
    m_model->reload(m_services.recordingManager().recordings());
    fitColumns();
    if (selected) {
        const int row = m_model->rowOf(selected->id);
        if (row >= 0)
            m_recordingTable->selectionModel()->setCurrentIndex(
                m_model->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    m_addressLabel->setText(StatusTexts::address(RecordingServer::localIPv4Address()));
    const QString failure = m_services.recordingServer().startError().value_or(QString());
    m_serverStatus->setText(failure);
    m_serverStatus->setHidden(failure.isEmpty());
    updateButtons();
}

void MainWindowController::updateButtons()
{
    using Status = Recording::Status;
    const std::optional<Recording> r = selectedRecording();
    const bool cancels = r && (r->status == Status::Scheduled || r->status == Status::Waiting);
    m_stopButton->setText(cancels ? QStringLiteral("Cancel") : QStringLiteral("Stop"));
    m_stopButton->setEnabled(cancels || (r && r->status == Status::Recording));
    m_revealButton->setEnabled(r && r->isPlayable());
    m_deleteButton->setEnabled(r.has_value());
}

void MainWindowController::updateWakeSection()
{
    using Status = HelperRegistration::Status;
    WakeScheduler &scheduler = m_services.scheduler();
    const Status status = scheduler.registrationStatus();
    const std::optional<QString> lastError = scheduler.lastError();
    QString text;
    TextTone tone = TextTone::Secondary;
    QString buttonTitle = QStringLiteral("Turn On");
    if (status == Status::RequiresApproval) {
        // The registration knows where this system asks for the approval.
        text = scheduler.approvalText();
        if (text.isEmpty())
            text = QStringLiteral("Allow “Tivolux Recorder” in System Settings › General › Login Items.");
        tone = TextTone::Orange;
        buttonTitle = QStringLiteral("Open Settings");
    } else if (status == Status::Enabled) {
        text = QStringLiteral("On. The computer may sleep; it wakes a minute before each recording.");
        buttonTitle = QStringLiteral("Turn Off");
    } else if (lastError) {
        text = QStringLiteral("Could not turn on: ") + *lastError;
        tone = TextTone::Orange;
    } else {
        text = QStringLiteral("Off. The computer stays awake while a recording is scheduled.");
    }
    // Whatever the setting says, the user learns when the computer cannot be
    // kept awake although a recording needs it.
    const std::optional<QString> holdFailure = m_services.recordingManager().sleepHoldFailure();
    if (holdFailure && status != Status::RequiresApproval && !lastError) {
        text = QStringLiteral("The computer may fall asleep: it cannot be kept awake (%1).").arg(*holdFailure);
        tone = TextTone::Orange;
    }
    m_wakeStatus->setFullText(text);
    setTone(m_wakeStatus, tone);
    m_wakeButton->setText(buttonTitle);
    // A request already waits for the system's answer; a second one would
    // be ignored.
    m_wakeButton->setEnabled(!scheduler.isChanging());
}

void MainWindowController::toggleWake()
{
    WakeScheduler &scheduler = m_services.scheduler();
    if (scheduler.registrationStatus() == HelperRegistration::Status::RequiresApproval) {
        explainApproval();
        return;
    }
    if (scheduler.registrationStatus() == HelperRegistration::Status::Enabled)
        scheduler.turnOff();
    else
        scheduler.turnOn();
    updateWakeSection();
}

void MainWindowController::explainApproval()
{
    // This system has no settings page for the helper: the approval is an
    // administrator's password at the prompt, or a command to copy.
    auto *sheet = new QMessageBox(m_window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setIcon(QMessageBox::Information);
    sheet->setWindowTitle(QStringLiteral("Tivolux Recorder"));
    sheet->setText(QStringLiteral("Waking the computer for recordings needs an administrator’s approval."));
    sheet->setInformativeText(
        QStringLiteral("Choose “Ask Again” to be asked for an administrator’s password, or have an "
                       "administrator run this command:\n\n")
        + SystemdHelperRegistration::approvalCommand());
    sheet->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QPushButton *askAgain = sheet->addButton(QStringLiteral("Ask Again"), QMessageBox::AcceptRole);
    sheet->addButton(QMessageBox::Close);
    sheet->setDefaultButton(askAgain);
    QPointer<MainWindowController> self(this);
    connect(sheet, &QMessageBox::buttonClicked, this, [self, askAgain](QAbstractButton *button) {
        if (self && button == askAgain) {
            self->m_services.scheduler().turnOn();
            self->updateWakeSection();
        }
    });
    sheet->open();
}

void MainWindowController::stopSelected()
{
    if (const std::optional<Recording> r = selectedRecording())
        m_services.recordingManager().stop(r->id);
}

void MainWindowController::revealSelected()
{
    const std::optional<Recording> r = selectedRecording();
    if (!r)
        return;
    if (const std::optional<QString> path =
            recordingFilePath(m_services.recordingManager().recordingsFolderURL(), r->fileName))
        m_services.files().revealFile(*path);
}

void MainWindowController::openFolder()
{
    const QString folder = m_services.recordingManager().recordingsFolderURL();
    // A folder that cannot be made is still handed on: the file manager
    // then tells the user what is wrong.
    QDir().mkpath(folder);
    m_services.files().openFolder(folder);
}

void MainWindowController::deleteSelected()
{
    const std::optional<Recording> r = selectedRecording();
    if (!r || !m_window)
        return;
    auto *sheet = new QMessageBox(m_window);
    sheet->setAttribute(Qt::WA_DeleteOnClose);
    sheet->setWindowModality(Qt::WindowModal);
    sheet->setIcon(QMessageBox::Warning);
    sheet->setWindowTitle(QStringLiteral("Tivolux Recorder"));
    sheet->setText(QStringLiteral("Delete “") + r->title + QStringLiteral("”?"));
    sheet->setInformativeText(QStringLiteral("The recording is removed from this computer and from Tivolux."));
    QPushButton *remove = sheet->addButton(QStringLiteral("Delete"), QMessageBox::DestructiveRole);
    QPushButton *cancel = sheet->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    sheet->setDefaultButton(remove);
    sheet->setEscapeButton(cancel);
    // The recording is the one selected now, whatever is selected when the
    // sheet ends.
    const QUuid id = r->id;
    QPointer<MainWindowController> self(this);
    connect(sheet, &QMessageBox::buttonClicked, this, [self, remove, id](QAbstractButton *button) {
        if (self && button == remove)
            self->m_services.recordingManager().deleteRecording(id);
    });
    sheet->open();
}

void MainWindowController::chooseFolder()
{
    if (!m_window)
        return;
    if (m_services.recordingManager().runningCount() > 0) {
        showAlert(QStringLiteral("Stop the running recordings first."),
                  QStringLiteral("The folder cannot change while recording."));
        return;
    }
    auto *panel = new QFileDialog(m_window, QString(), m_services.recordingManager().recordingsFolderURL());
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setFileMode(QFileDialog::Directory);
    panel->setOption(QFileDialog::ShowDirsOnly);
    panel->setAcceptMode(QFileDialog::AcceptOpen);
    panel->setLabelText(QFileDialog::Accept, QStringLiteral("Use Folder"));
    QPointer<MainWindowController> self(this);
    connect(panel, &QFileDialog::fileSelected, this, [self](const QString &path) {
        if (self && !path.isEmpty())
            self->applyFolder(path);
    });
    panel->open();
}

void MainWindowController::applyFolder(const QString &folderPath)
{
    RecordingManager &manager = m_services.recordingManager();
    const ExclusiveLock::Result owned = m_services.recordingsFolderLock().moveTo(folderPath);
    if (const auto *held = std::get_if<ExclusiveLock::HeldElsewhere>(&owned)) {
        showAlert(QStringLiteral("This folder is in use by another recorder."),
                  QStringLiteral("Another Tivolux Recorder (process %1) records into it. Choose another folder.")
                      .arg(held->pid));
        return;
    }
    if (const auto *failed = std::get_if<ExclusiveLock::Failed>(&owned))
        qWarning().noquote() << "Cannot lock the recordings folder" << folderPath << "-" << failed->error;
    QSettings().setValue(QLatin1String(kFolderPathSettingKey), folderPath);
    // Anything that started while the panel was open is stopped now: its
    // file and index entry belong to the old folder.
    manager.stopAll();
    manager.dropRecorders();
    manager.loadIndex();
    manager.updateSleepHold();
    m_folderLabel->setFullText(QDir::toNativeSeparators(manager.recordingsFolderURL()));
}

void MainWindowController::showAlert(const QString &message, const QString &informativeText)
{
    auto *alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tivolux Recorder"), message,
                                  QMessageBox::Ok, m_window);
    alert->setInformativeText(informativeText);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    if (m_window) {
        alert->setWindowModality(Qt::WindowModal);
        alert->open();
    } else {
        alert->exec();
    }
}
