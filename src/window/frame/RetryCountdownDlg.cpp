#include "window/frame/RetryCountdownDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

CRetryCountdownDlg::CRetryCountdownDlg(QWidget* owner)
    : QDialog(owner)
{
    setWindowTitle(QStringLiteral("Kestrix"));
    setModal(true);

    auto* icon = new QLabel(this);
    const int iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation, nullptr, this).pixmap(iconSize));
    icon->setAlignment(Qt::AlignTop);

    m_errorLabel = new QLabel(QStringLiteral("Something went wrong..."), this);
    m_errorLabel->setObjectName(QStringLiteral("errorText"));
    m_errorLabel->setWordWrap(true);
    m_errorLabel->setTextFormat(Qt::PlainText);
    m_countdownLabel = new QLabel(this);
    m_countdownLabel->setObjectName(QStringLiteral("countdownText"));
    m_progress = new QProgressBar(this);
    m_progress->setTextVisible(false);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Cancel"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* texts = new QVBoxLayout;
    texts->addWidget(m_errorLabel);
    texts->addWidget(m_countdownLabel);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addLayout(texts, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_progress);
    layout->addWidget(buttons);
    setMinimumWidth(360);

    connect(&m_timer, &QTimer::timeout, this, &CRetryCountdownDlg::Tick);
    connect(this, &QDialog::finished, &m_timer, &QTimer::stop);
}

void CRetryCountdownDlg::SetErrorText(const QString& text)
{
    m_errorLabel->setText(text);
}

void CRetryCountdownDlg::SetDelay(int seconds)
{
    m_delay = std::max(0, seconds);
}

QString CRetryCountdownDlg::CountdownText() const
{
    return m_countdownLabel->text();
}

int CRetryCountdownDlg::Position() const
{
    return m_progress->value();
}

void CRetryCountdownDlg::ShowRemaining(int seconds)
{
    m_countdownLabel->setText(QStringLiteral("Kestrix will retry to connect after %1 seconds...").arg(seconds));
}

void CRetryCountdownDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (parentWidget())
        move(parentWidget()->window()->frameGeometry().center() - rect().center());
    m_progress->setRange(0, m_delay);
    m_progress->setValue(0);
    ShowRemaining(m_delay);
    m_timer.start(m_tickInterval);
}

void CRetryCountdownDlg::Tick()
{
    const int position = std::min(m_delay, m_progress->value() + 1);
    m_progress->setValue(position);
    ShowRemaining(m_delay - position);
    if (position >= m_delay)
        accept();
}
