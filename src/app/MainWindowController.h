#pragma once

#include "AppServices.h"
#include "Recording.h"
#include "TextTone.h"

#include <QObject>
#include <QSize>
#include <optional>

class ElidingLabel;
class QBoxLayout;
class QLabel;
class QMainWindow;
class QMenuBar;
class QPushButton;
class QTableView;
class RecordingTableModel;

// The application's one window: the address to enter in the TV app, a
// server failure, the recordings folder, the wake setting and the table of
// recordings with stop, reveal and delete. Created once; closing the window
// only hides it, so that reopening shows it with the same state and frame.
class MainWindowController : public QObject
{
    Q_OBJECT

public:
    // Settings key under which the window's frame is kept.
    static constexpr char kFrameSettingKey[] = "TivoluxRecorderMain";
    static constexpr QSize kContentSize{900, 560};
    static constexpr QSize kMinimumContentSize{720, 420};

    // The menu bar, when given, becomes the window's.
    explicit MainWindowController(AppServices services, QMenuBar *menuBar = nullptr, QObject *parent = nullptr);
    ~MainWindowController() override;

    QMainWindow *window() const { return m_window; }
    // Shows the window, in front and active.
    void showWindow();

    // Without a tray, closing the window minimises it, so that the
    // recorder stays reachable from the task bar; the first time, the hint
    // line says so.
    void setClosingMinimizes(bool minimizes) { m_closingMinimizes = minimizes; }

    void copyAddress();
    // Asks for a new recordings folder in a sheet, unless recordings run.
    void chooseFolder();
    void applyFolder(const QString &folderPath);
    void openFolder();
    // Turns wake scheduling on or off; while it awaits approval, explains
    // how to give it.
    void toggleWake();
    void stopSelected();
    void revealSelected();
    // Asks in a sheet; deletes the recording selected when the sheet opened.
    void deleteSelected();

    void refresh();
    void updateButtons();
    void updateWakeSection();
    std::optional<Recording> selectedRecording() const;

    QLabel *addressLabel() const { return m_addressLabel; }
    QLabel *serverStatus() const { return m_serverStatus; }
    ElidingLabel *folderLabel() const { return m_folderLabel; }
    ElidingLabel *wakeStatus() const { return m_wakeStatus; }
    ElidingLabel *hintLine() const { return m_hint; }
    QPushButton *wakeButton() const { return m_wakeButton; }
    QPushButton *stopButton() const { return m_stopButton; }
    QPushButton *revealButton() const { return m_revealButton; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    QTableView *recordingTable() const { return m_recordingTable; }
    RecordingTableModel *tableModel() const { return m_model; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createWidgets();
    void buildUI();
    QBoxLayout *addressRow();
    QBoxLayout *folderRow();
    QBoxLayout *wakeRow();
    QBoxLayout *buttonRow();
    void setUpTable();
    void observe();
    void setTone(QLabel *label, TextTone tone);
    // Writes every toned label again in the current palette.
    void applyTones();
    void fitColumns();
    void explainApproval();
    void showAlert(const QString &message, const QString &informativeText);
    void minimizeInsteadOfClosing();
    void restoreFrame();
    void saveFrame();

    AppServices m_services;
    QMainWindow *m_window = nullptr;
    RecordingTableModel *m_model = nullptr;
    ElidingLabel *m_folderLabel = nullptr;
    QTableView *m_recordingTable = nullptr;
    QPushButton *m_stopButton = nullptr;
    QPushButton *m_revealButton = nullptr;
    QPushButton *m_deleteButton = nullptr;
    QLabel *m_addressLabel = nullptr;
    ElidingLabel *m_wakeStatus = nullptr;
    QPushButton *m_wakeButton = nullptr;
    QLabel *m_serverStatus = nullptr;
    ElidingLabel *m_hint = nullptr;
    bool m_closingMinimizes = false;
    bool m_minimizeNoticeShown = false;
};
