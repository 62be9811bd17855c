#pragma once

#include "CaptureTransfer.h"

#include <QObject>
#include <QTimer>
#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;
typedef void CURLM;
typedef void CURLSH;

// The HTTP client of one recorder: libcurl's multi interface driven by the
// event loop of the recorder's thread, so that the thread the socket wakes is
// the one that writes the file. Its transfers share connections and cookies,
// which live as long as the session. Used on one thread only.
class CaptureSession : public QObject
{
    Q_OBJECT

public:
    explicit CaptureSession(QObject *parent = nullptr);
    // Ends every transfer without any further event.
    ~CaptureSession() override;

    // Starts a transfer; it belongs to the session, and the pointer stays
    // valid until its done event has returned or it is cancelled.
    CaptureTransfer *get(const CaptureTransfer::Request &request, CaptureTransfer::Events events);
    // Ends a transfer; no event of it comes any more, even when it is
    // cancelled from its own head event at its end. Safe inside the
    // transfer's own events.
    void cancel(CaptureTransfer *transfer);

private:
    friend class CaptureTransfer;

    struct Watch
    {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
    };

    static int onSocket(void *easy, int socket, int what, void *self, void *socketData);
    static int onTimer(void *multi, long milliseconds, void *self);

    void watch(int socket, int what);
    // Lets the client work on the socket (or on its timeouts), then hands
    // out the results and starts what was asked for meanwhile.
    void drive(int socket, int events);
    void collectEnded();
    void retire(CaptureTransfer *transfer);
    void addHandle(CaptureTransfer *transfer);

    CURLM *m_multi = nullptr;
    CURLSH *m_share = nullptr;
    QTimer m_timer;
    std::unordered_map<int, Watch> m_watches;
    std::vector<std::unique_ptr<CaptureTransfer>> m_transfers;
    // Ended transfers, freed once the events that may still hold them are over.
    std::vector<std::unique_ptr<CaptureTransfer>> m_retired;
    std::vector<CaptureTransfer *> m_toStart;
    // Calls into the client in progress: it may not be re-entered then.
    int m_depth = 0;
};
