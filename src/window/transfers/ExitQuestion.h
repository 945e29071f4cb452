#pragma once

class QWidget;

// What the user chose when quitting with transfers running.
enum class ExitChoice {
    StopAndKeep, // stop them; they wait in the queue for the next start
    CancelThem,  // cancel them; partial files stay where they are
    GoBack,      // do not quit
};

// Asks, modally over `parent`. Escape and the close box mean GoBack: quitting
// is never the answer to a question the user did not read.
ExitChoice AskExitWithTransfers(QWidget* parent, int running);
