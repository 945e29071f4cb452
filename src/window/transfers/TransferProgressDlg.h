#pragma once

#include "engine/transfer/TransferPort.h"

#include <QDialog>
#include <QTimer>

#include <atomic>
#include <functional>

class QLabel;
class QProgressBar;

// The picture that runs while a transfer does: a document moving from the
// server to the disk (download) or the other way (upload), over and over.
class CTransferAnimation : public QWidget {
public:
    CTransferAnimation(bool download, QWidget* parent = nullptr);
    QSize sizeHint() const override { return QSize(272, 60); }
    int Frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer m_timer;
    int m_frame = 0;
    bool m_download;
};

// The small window a transfer shows while it runs: what it copies, where
// from and to, and how far it is. Cancel (the button, Escape or the close
// box) asks the worker to stop; the window stays until the worker is done.
// It never keeps the program from ending.
//
// A user who minimizes one progress window gets the next ones minimized too,
// until one is restored; with "HideProgressDlg" set none is ever shown.
class CTransferProgressDlg : public QDialog {
    Q_OBJECT
public:
    CTransferProgressDlg(bool download, std::function<void()> onCancel, QWidget* parent = nullptr);
    ~CTransferProgressDlg() override;

    void SetCaption(const QString& text);
    void SetLine1(const QString& text);
    void SetLine2(const QString& text);
    // Bytes done of total, rate and time left, for the job and its file.
    void SetProgress(const TransferProgress& progress);
    QString ProgressText() const;
    // Positions run from 0 to `high`; 0 stops position updates.
    void SetRange(int high) { m_rangeHigh = high; }
    // Past the end the bar starts again (105 of 100 shows 5); exactly the
    // end shows a full bar.
    void SetPos(int position);
    // Shown unless the user hid progress windows, and minimized when the
    // last one was.
    void ShowAsSettingsSay();

    QString Line1() const;
    QString Line2() const;
    int BarValue() const;
    CTransferAnimation* Animation() const { return m_animation; }

    // The one switch all progress windows share.
    static bool StartsMinimized() { return s_minimized; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    std::function<void()> m_onCancel;
    CTransferAnimation* m_animation = nullptr;
    QLabel* m_line1 = nullptr;
    QLabel* m_line2 = nullptr;
    QLabel* m_detail = nullptr;
    QProgressBar* m_bar = nullptr;
    int m_rangeHigh = 100;
    static std::atomic<bool> s_minimized;
};
