#pragma once

#include "SegmentByteRange.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QUrl>
#include <chrono>
#include <functional>
#include <optional>

class CaptureSession;
typedef void CURL;

// One GET of a capture, run by a CaptureSession on the recorder's own thread.
// Its events come on that thread, in this order: head once (before any data),
// data for each piece of the body as it is read, then done once, unless the
// transfer is cancelled first (CaptureSession::cancel), after which nothing
// more comes. Redirects are followed on http and https only.
class CaptureTransfer
{
public:
    struct Request
    {
        QUrl url;
        QByteArray userAgent; // sent as it is: the caller makes it header-safe
        // Longest wait for the response head, and between two reads of the
        // body, before the transfer ends as timed out.
        std::chrono::milliseconds idleTimeout{30000};
        std::optional<SegmentByteRange> range;
        // A live stream read for a long time: the socket wakes this thread
        // only once a batch has gathered, or after flushInterval at most.
        bool batched = false;
    };

    struct Head
    {
        int status = 0;
        QByteArray contentType;
        QByteArray contentRange;
        qint64 contentLength = -1; // -1 when not given
    };

    struct Events
    {
        std::function<void(const Head &head)> head;
        std::function<void(const char *data, qsizetype size)> data;
        // The description of the failure, or empty when the body ended
        // normally (for a live stream: the server closed it).
        std::function<void(const QString &error)> done;
    };

    // How long the kernel may hold data of a batched transfer before it is
    // read, and the batch that wakes it earlier.
    static constexpr std::chrono::milliseconds flushInterval{100};
    static constexpr int batchSize = 64 * 1024;
    // One read takes up to this much.
    static constexpr long readSize = 256 * 1024;
    // The largest response head, redirects included, that is read.
    static constexpr qint64 longestHead = 64 * 1024;

    CaptureTransfer(CaptureSession &session, const Request &request, Events events);
    ~CaptureTransfer();
    CaptureTransfer(const CaptureTransfer &) = delete;
    CaptureTransfer &operator=(const CaptureTransfer &) = delete;

private:
    friend class CaptureSession;

    static size_t onHeader(char *line, size_t size, size_t count, void *self);
    static size_t onData(char *data, size_t size, size_t count, void *self);

    void headLine(const QByteArray &line);
    void deliverHead();
    // Hands out what one wake-up of a batched transfer has read.
    void deliverBatch();
    // The transfer ended in the client with the given result.
    void complete(int code);
    // Stops the timers and undoes the batching of the socket.
    void stopWaiting();
    void flush();
    void setBatchLimit(int bytes);
    QString failureDescription(int code) const;

    CaptureSession &m_session;
    const Request m_request;
    const Events m_events;
    CURL *m_easy = nullptr;
    QByteArray m_url;
    QByteArray m_rangeText;
    char m_errorText[256] = {};
    bool m_cancelled = false;
    bool m_ended = false;
    bool m_headDelivered = false;
    bool m_headTooLong = false;
    qint64 m_headBytes = 0;
    Head m_head;
    QTimer m_idle;
    QTimer m_flush;
    // The body read during one wake-up of a batched transfer: the client
    // hands it over in pieces of 16 KiB, written to the file in one go (or
    // in pieces of readSize when the client reads on and on).
    QByteArray m_batch;
    int m_socket = -1;         // the connection's socket, once the client watches it
    int m_batchLimit = 1;      // the socket's receive low-water mark
    bool m_readSinceFlush = false;
};
