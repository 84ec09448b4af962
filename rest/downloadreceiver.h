#ifndef DOWNLOADRECEIVER_H
#define DOWNLOADRECEIVER_H

#include "core/localwait.h"
#include "rest/krestservice.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class DownloadSink;
class QNetworkReply;

// Receives one download's body from its reply into its sink, waiting in a LocalWait that
// dispatches every event of the thread meanwhile. In the order a download meets them:
//   1. the headers: an error status, or an announced size beyond any task file or beyond the
//      disk's spare room, ends the transfer before a byte is written;
//   2. the body: read from the reply a piece at a time and queued to the sink, which writes
//      it on a pool thread while the reply buffers the next pieces;
//   3. the rate floor: what the network delivered over the rate window is checked a few
//      times per window, and a transfer below the floor is given up;
//   4. the end: the reply finished and the sink idle, or the wait interrupted by the
//      application quitting, which abandons the transfer;
//   5. the outcome: the first refusal, the sink's failure, the HTTP status, the body against
//      its announced length, and a gzip body that ends early.
// Nothing is committed here: the caller commits or cancels the sink.
class DownloadReceiver : public QObject
{
    Q_OBJECT

public:
    using Result = KRESTService::DownloadResult;

    struct Limits
    {
        qint64 maxBytes;
        qint64 spareBytes;
        qint64 minimumRate; // bytes per second over the rate window
        int rateWindowMs;
    };

    DownloadReceiver(QNetworkReply *reply, DownloadSink &sink, const Limits &limits);

    Result receive();

signals:
    // As the body arrives, at most every 100 ms and once at the end; total is -1 when the
    // length was not announced.
    void progress(qint64 received, qint64 total);

private:
    void checkHeaders();
    void step();
    void pump();
    bool knowEncoding();
    void reportProgress();
    void checkRate();
    bool isDone() const;
    void refuse(Result why);
    Result outcome() const;
    Result transferOutcome() const;

    QNetworkReply *m_reply;
    DownloadSink &m_sink;
    const Limits m_limits;
    LocalWait m_wait; // no deadline: the rate floor and the inactivity time-out end a stall
    Result m_refusal = Result::Saved;
    bool m_encodingKnown = false;
    qint64 m_received = 0; // handed to the sink
    qint64 m_arrived = 0; // delivered by the network, taken or not
    QElapsedTimer m_sinceProgress;
    QTimer m_rateCheck;
    QList<qint64> m_rateWindow;
};

#endif // DOWNLOADRECEIVER_H
