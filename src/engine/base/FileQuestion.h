#pragma once

#include <QString>

// One existing file the user is asked about before a transfer writes over it.
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

// Whoever asks the two questions: dialogs on the screen, a worker's port, a
// test's script.
class IFileQuestions {
public:
    virtual ~IFileQuestions() = default;
    // Yes, Yes to All, No or Cancel (only Yes and No offered for the last file).
    virtual FileAnswer AskReplace(const FileQuestion& question) = 0;
    // Yes, No or Cancel.
    virtual FileAnswer AskResume(const FileQuestion& question) = 0;
};
