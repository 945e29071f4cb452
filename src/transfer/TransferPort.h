#pragma once

#include <QString>

// One existing local file the user is asked about.
struct FileQuestion {
    QString fileName;            // the name, for the text and the type icon
    int remaining = 1;           // files still to decide, this one included
    QString newDescription;      // size and time of the incoming file
    QString existingDescription; // size and time of the file already there
};

// The answers of the replace and resume questions.
enum FileAnswer : int {
    kAnswerYes = 6,
    kAnswerNo = 7,
    kAnswerCancel = 2,
    kAnswerYesToAll = 12807,
};

// How a worker thread reaches its progress dialog and asks its questions. The
// worker calls these on its own thread; an implementation that shows widgets
// does so on the GUI thread and never lets the worker touch them.
//
// A question blocks the worker until the user answers or CancelQuestion() is
// called from any thread, which answers Cancel at once (the worker's kill
// does this, so stopping a worker never waits for a person).
class ITransferPort {
public:
    virtual ~ITransferPort() = default;

    virtual void SetCaption(const QString& text) = 0;
    virtual void SetLine1(const QString& text) = 0;
    virtual void SetLine2(const QString& text) = 0;
    // The upper end of the positions; 0 stops position updates.
    virtual void SetRange(int high) = 0;
    virtual void SetPos(int position) = 0;

    // Yes, Yes to All, No or Cancel (only Yes and No offered for the last file).
    virtual FileAnswer AskReplace(const FileQuestion& question) = 0;
    // Yes, No or Cancel.
    virtual FileAnswer AskResume(const FileQuestion& question) = 0;
    // From any thread: a waiting question, and every later one, is Cancel.
    virtual void CancelQuestion() = 0;

    // The run is over: the dialog goes.
    virtual void Close() = 0;
};
