#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;
class QProgressBar;

// Shown between two failed connection attempts: the reason of the last
// failure and a countdown. Accepted when the countdown ran out (try again),
// rejected when the user cancelled.
class CRetryCountdownDlg : public QDialog {
    Q_OBJECT
public:
    explicit CRetryCountdownDlg(QWidget* owner = nullptr);

    void SetErrorText(const QString& text);
    // Seconds to count down; a negative delay (a hand-edited catalogue) is
    // taken as 0 so the dialog always ends.
    void SetDelay(int seconds);
    void SetTickInterval(int milliseconds) { m_tickInterval = milliseconds; }

    QString CountdownText() const;
    int Position() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Tick();
    void ShowRemaining(int seconds);

    QLabel* m_errorLabel = nullptr;
    QLabel* m_countdownLabel = nullptr;
    QProgressBar* m_progress = nullptr;
    QTimer m_timer;
    int m_delay = 0;
    int m_tickInterval = 1000;
};
