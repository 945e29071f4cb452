#pragma once

#include "engine/base/FileQuestion.h"

#include <QString>

// How far a job has come, for the progress window: the job as a whole and
// the file it moves now (the last one started, with several connections).
struct TransferProgress {
    quint64 jobDone = 0;
    quint64 jobTotal = 0;
    QString fileName;
    quint64 fileDone = 0;
    quint64 fileTotal = 0;
    double rate = 0; // bytes per second over the last moments
};

// How a worker thread reaches its progress dialog and asks its questions. The
// worker calls these on its own thread; an implementation that shows widgets
// does so on the GUI thread and never lets the worker touch them.
//
// A question blocks the worker until the user answers or CancelQuestion() is
// called from any thread, which answers Cancel at once (the worker's kill
// does this, so stopping a worker never waits for a person).
class ITransferPort : public IFileQuestions {
public:
    virtual ~ITransferPort() = default;

    virtual void SetCaption(const QString& text) = 0;
    virtual void SetLine1(const QString& text) = 0;
    virtual void SetLine2(const QString& text) = 0;
    // The upper end of the positions; 0 stops position updates.
    virtual void SetRange(int high) = 0;
    virtual void SetPos(int position) = 0;
    // Bytes, rate and time left; at most a few times a second.
    virtual void SetProgress(const TransferProgress&) {}

    // From any thread: a waiting question, and every later one, is Cancel.
    virtual void CancelQuestion() = 0;

    // The run is over: the dialog goes.
    virtual void Close() = 0;
};
