#include "CaptureSession.h"

#include <QSocketNotifier>
#include <curl/curl.h>
#include <algorithm>
#include <mutex>

namespace {

void initialiseClientLibrary()
{
    // Not safe to run on two threads at once, and needed before any use.
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

} // namespace

CaptureSession::CaptureSession(QObject *parent) : QObject(parent)
{
    initialiseClientLibrary();
    m_multi = curl_multi_init();
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &CaptureSession::onSocket);
    curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &CaptureSession::onTimer);
    curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
    m_share = curl_share_init();
    curl_share_setopt(m_share, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] { drive(CURL_SOCKET_TIMEOUT, 0); });
}

CaptureSession::~CaptureSession()
{
    for (const auto &transfer : m_transfers) {
        transfer->m_cancelled = true;
        curl_multi_remove_handle(m_multi, transfer->m_easy);
    }
    m_transfers.clear();
    m_retired.clear();
    curl_multi_cleanup(m_multi);
    curl_share_cleanup(m_share);
    for (auto &[socket, watch] : m_watches) {
        delete watch.read;
        delete watch.write;
    }
}

CaptureTransfer *CaptureSession::get(const CaptureTransfer::Request &request, CaptureTransfer::Events events)
{
    auto transfer = std::make_unique<CaptureTransfer>(*this, request, std::move(events));
    curl_easy_setopt(transfer->m_easy, CURLOPT_SHARE, m_share);
    CaptureTransfer *started = transfer.get();
    m_transfers.push_back(std::move(transfer));
    if (m_depth > 0)
        m_toStart.push_back(started); // the client may not be re-entered from its own callbacks
    else
        addHandle(started);
    return started;
}

void CaptureSession::addHandle(CaptureTransfer *transfer)
{
    transfer->m_idle.start(transfer->m_request.idleTimeout);
    curl_multi_add_handle(m_multi, transfer->m_easy);
}

void CaptureSession::cancel(CaptureTransfer *transfer)
{
    if (!transfer || transfer->m_cancelled)
        return;
    transfer->m_cancelled = true;
    if (transfer->m_ended)
        return; // out of the client already, and its done event will not come
    transfer->stopWaiting();
    // Inside the client's callbacks the transfer is aborted by its own
    // callback's answer and removed once the client has returned.
    if (m_depth == 0)
        retire(transfer);
}

void CaptureSession::retire(CaptureTransfer *transfer)
{
    m_toStart.erase(std::remove(m_toStart.begin(), m_toStart.end(), transfer), m_toStart.end());
    curl_multi_remove_handle(m_multi, transfer->m_easy);
    const auto found = std::find_if(m_transfers.begin(), m_transfers.end(),
                                    [transfer](const auto &owned) { return owned.get() == transfer; });
    if (found == m_transfers.end())
        return;
    // Freed later: the caller may be one of the transfer's own timers.
    if (m_retired.empty())
        QMetaObject::invokeMethod(this, [this] { m_retired.clear(); }, Qt::QueuedConnection);
    m_retired.push_back(std::move(*found));
    m_transfers.erase(found);
}

void CaptureSession::drive(int socket, int events)
{
    int running = 0;
    ++m_depth;
    curl_multi_socket_action(m_multi, socket, events, &running);
    --m_depth;
    // Batched data goes out before any transfer's end is handed out. A
    // handler may end transfers, which stay alive until later.
    std::vector<CaptureTransfer *> reading;
    for (const auto &transfer : m_transfers)
        reading.push_back(transfer.get());
    for (CaptureTransfer *transfer : reading)
        transfer->deliverBatch();
    collectEnded();
    // Cancelled inside the client's callbacks: removed now.
    std::vector<CaptureTransfer *> cancelled;
    for (const auto &transfer : m_transfers) {
        if (transfer->m_cancelled)
            cancelled.push_back(transfer.get());
    }
    for (CaptureTransfer *transfer : cancelled)
        retire(transfer);
    const std::vector<CaptureTransfer *> toStart = std::exchange(m_toStart, {});
    for (CaptureTransfer *transfer : toStart)
        addHandle(transfer);
}

void CaptureSession::collectEnded()
{
    int left = 0;
    while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
        if (message->msg != CURLMSG_DONE)
            continue;
        CaptureTransfer *transfer = nullptr;
        curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
        const CURLcode code = message->data.result;
        if (!transfer || transfer->m_cancelled)
            continue; // removed below
        // Ended before it is handed out, so that its done event may start
        // or cancel other transfers of this session.
        transfer->m_ended = true;
        transfer->stopWaiting();
        retire(transfer);
        transfer->complete(code);
    }
}

int CaptureSession::onSocket(void *easy, int socket, int what, void *self, void *)
{
    // The transfer learns its socket here: the client tells it nowhere else
    // while the transfer runs. It keeps it after the client stops watching,
    // since a connection kept for later needs its batching undone.
    CaptureTransfer *transfer = nullptr;
    if (easy && curl_easy_getinfo(easy, CURLINFO_PRIVATE, &transfer) == CURLE_OK && transfer)
        transfer->m_socket = socket;
    static_cast<CaptureSession *>(self)->watch(socket, what);
    return 0;
}

void CaptureSession::watch(int socket, int what)
{
    Watch &watch = m_watches[socket];
    if (what == CURL_POLL_REMOVE) {
        // The notifier may be the one whose signal is running.
        for (QSocketNotifier *notifier : {watch.read, watch.write}) {
            if (notifier) {
                notifier->setEnabled(false);
                notifier->deleteLater();
            }
        }
        m_watches.erase(socket);
        return;
    }
    const auto ensure = [this, socket](QSocketNotifier *&notifier, QSocketNotifier::Type type, int events) {
        if (!notifier) {
            notifier = new QSocketNotifier(socket, type, this);
            connect(notifier, &QSocketNotifier::activated, this, [this, socket, events] { drive(socket, events); });
        }
    };
    const bool wantsRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantsWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;
    if (wantsRead)
        ensure(watch.read, QSocketNotifier::Read, CURL_CSELECT_IN);
    if (wantsWrite)
        ensure(watch.write, QSocketNotifier::Write, CURL_CSELECT_OUT);
    if (watch.read)
        watch.read->setEnabled(wantsRead);
    if (watch.write)
        watch.write->setEnabled(wantsWrite);
}

int CaptureSession::onTimer(void *, long milliseconds, void *self)
{
    auto *session = static_cast<CaptureSession *>(self);
    if (milliseconds < 0)
        session->m_timer.stop();
    else
        session->m_timer.start(int(std::min<long>(milliseconds, 24L * 60 * 60 * 1000)));
    return 0;
}
