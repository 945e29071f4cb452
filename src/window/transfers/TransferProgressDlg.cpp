#include "window/transfers/TransferProgressDlg.h"

#include "window/transfers/TransferTexts.h"

#include "engine/base/Settings.h"
#include "window/resources/Resources.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kFrames = 24;
constexpr int kFrameMs = 60;

} // namespace

std::atomic<bool> CTransferProgressDlg::s_minimized{false};

CTransferAnimation::CTransferAnimation(bool download, QWidget* parent)
    : QWidget(parent), m_download(download)
{
    setObjectName(QStringLiteral("animation"));
    setMinimumSize(sizeHint());
    connect(&m_timer, &QTimer::timeout, this, [this] {
        m_frame = (m_frame + 1) % kFrames;
        update();
    });
    m_timer.start(kFrameMs);
}

void CTransferAnimation::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int icon = 32;
    const int y = (height() - icon) / 2;
    const QRect left(8, y, icon, icon);
    const QRect right(width() - 8 - icon, y, icon, icon);
    // The server on the left, the disk on the right; the document travels
    // towards the disk on a download and away from it on an upload.
    style()->standardIcon(QStyle::SP_DriveNetIcon).paint(&painter, left);
    style()->standardIcon(QStyle::SP_DirIcon).paint(&painter, right);
    const int start = left.right() + 4;
    const int span = right.left() - 4 - 20 - start;
    const int step = m_download ? m_frame : kFrames - 1 - m_frame;
    const int x = start + span * step / (kFrames - 1);
    const int lift = static_cast<int>(8 * std::sin(3.14159 * step / (kFrames - 1)));
    style()->standardIcon(QStyle::SP_FileIcon).paint(&painter, QRect(x, y + 6 - lift, 20, 20));
}

CTransferProgressDlg::CTransferProgressDlg(bool download, std::function<void()> onCancel, QWidget* parent)
    : QDialog(parent), m_onCancel(std::move(onCancel))
{
    setObjectName(QStringLiteral("transferProgress"));
    // Closing the main window ends the program; a transfer's window must not
    // keep it running (the queue stops the transfers on its way out).
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint);
    setWindowIcon(kx::ProgramIcon());
    m_animation = new CTransferAnimation(download, this);
    m_line1 = new QLabel(this);
    m_line1->setObjectName(QStringLiteral("line1"));
    m_line2 = new QLabel(this);
    m_line2->setObjectName(QStringLiteral("line2"));
    for (QLabel* line : {m_line1, m_line2}) {
        line->setTextFormat(Qt::PlainText);
        line->setMinimumWidth(340);
    }
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_bar->setTextVisible(false);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(cancel, &QPushButton::clicked, this, &CTransferProgressDlg::reject);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_bar, 1);
    bottom->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_animation);
    layout->addWidget(m_line1);
    layout->addWidget(m_line2);
    m_detail = new QLabel(this);
    m_detail->setObjectName(QStringLiteral("progressDetail"));
    layout->addWidget(m_detail);
    layout->addLayout(bottom);
}

CTransferProgressDlg::~CTransferProgressDlg() = default;

void CTransferProgressDlg::ShowAsSettingsSay()
{
    if (kx::GetProfileInt(kx::settings::HideProgressDlg) != 0)
        return;
    if (s_minimized)
        showMinimized();
    else
        show();
}

void CTransferProgressDlg::SetCaption(const QString& text)
{
    setWindowTitle(text);
}

void CTransferProgressDlg::SetLine1(const QString& text)
{
    m_line1->setText(text);
}

void CTransferProgressDlg::SetLine2(const QString& text)
{
    m_line2->setText(text);
}

QString CTransferProgressDlg::Line1() const
{
    return m_line1->text();
}

QString CTransferProgressDlg::Line2() const
{
    return m_line2->text();
}

int CTransferProgressDlg::BarValue() const
{
    return m_bar->value();
}

void CTransferProgressDlg::SetPos(int position)
{
    if (m_rangeHigh == 0)
        return;
    const int percent = position * 100 / m_rangeHigh;
    m_bar->setValue(percent == 100 ? 100 : ((percent % 100) + 100) % 100);
}

void CTransferProgressDlg::reject()
{
    // Stays open: the worker ends its run and closes the window then.
    if (m_onCancel)
        m_onCancel();
}

void CTransferProgressDlg::closeEvent(QCloseEvent* event)
{
    // The close box is Cancel. A close the program asks for (it is ending,
    // and then stops the transfer itself) must not be refused: quitting
    // would be called off.
    if (event->spontaneous()) {
        event->ignore();
        reject();
        return;
    }
    // Not QDialog's: it would cancel and refuse as the close box does.
    QWidget::closeEvent(event);
}

void CTransferProgressDlg::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::WindowStateChange && isVisible())
        s_minimized = isMinimized();
    QDialog::changeEvent(event);
}

void CTransferProgressDlg::SetProgress(const TransferProgress& progress)
{
    m_detail->setText(DescribeProgress(progress));
}

QString CTransferProgressDlg::ProgressText() const
{
    return m_detail->text();
}
