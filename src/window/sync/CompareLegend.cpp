#include "window/sync/CompareLegend.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>

CompareMark MarkOf(Difference difference, bool localSide)
{
    switch (difference) {
    case Difference::Same: return CompareMark::Plain;
    case Difference::OnlyLocal: return localSide ? CompareMark::OnlyHere : CompareMark::Plain;
    case Difference::OnlyRemote: return localSide ? CompareMark::Plain : CompareMark::OnlyHere;
    case Difference::LocalNewer: return localSide ? CompareMark::NewerHere : CompareMark::OlderHere;
    case Difference::RemoteNewer: return localSide ? CompareMark::OlderHere : CompareMark::NewerHere;
    case Difference::SizeDiffers: return CompareMark::OtherSize;
    }
    return CompareMark::Plain;
}

QColor MarkColour(CompareMark mark)
{
    // Light enough for black text in either pane, far enough apart to tell
    // at a glance (and not told by hue alone: the legend names them).
    switch (mark) {
    case CompareMark::Plain: return QColor();
    case CompareMark::OnlyHere: return QColor(0xb9, 0xe8, 0xb0);  // green
    case CompareMark::NewerHere: return QColor(0xff, 0xe0, 0x8a); // amber
    case CompareMark::OlderHere: return QColor(0xd6, 0xd6, 0xd6); // grey
    case CompareMark::OtherSize: return QColor(0xf4, 0xb4, 0xb4); // red
    }
    return QColor();
}

QString MarkName(CompareMark mark)
{
    switch (mark) {
    case CompareMark::Plain: return QStringLiteral("identical");
    case CompareMark::OnlyHere: return QStringLiteral("only on this side");
    case CompareMark::NewerHere: return QStringLiteral("newer on this side");
    case CompareMark::OlderHere: return QStringLiteral("older on this side");
    case CompareMark::OtherSize: return QStringLiteral("different size");
    }
    return QString();
}

CCompareLegend::CCompareLegend(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("compareLegend"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    for (const CompareMark mark : {CompareMark::OnlyHere, CompareMark::NewerHere, CompareMark::OlderHere,
                                   CompareMark::OtherSize}) {
        auto* swatch = new QLabel(MarkName(mark), this);
        swatch->setObjectName(QStringLiteral("swatch%1").arg(int(mark)));
        swatch->setMargin(2);
        swatch->setAutoFillBackground(true);
        QPalette palette = swatch->palette();
        palette.setColor(QPalette::Window, MarkColour(mark));
        palette.setColor(QPalette::WindowText, Qt::black);
        swatch->setPalette(palette);
        layout->addWidget(swatch);
    }
    m_counts = new QLabel(this);
    m_counts->setObjectName(QStringLiteral("compareCounts"));
    layout->addWidget(m_counts);
    m_approximate = new QLabel(this);
    m_approximate->setObjectName(QStringLiteral("approximateNote"));
    m_approximate->hide();
    layout->addWidget(m_approximate);
    m_hideIdentical = new QCheckBox(QStringLiteral("Hide identical"), this);
    m_hideIdentical->setObjectName(QStringLiteral("hideIdentical"));
    layout->addWidget(m_hideIdentical);
}

void CCompareLegend::ShowCounts(int onlyOneSide, int newer, int otherSize, int approximate)
{
    m_counts->setText(onlyOneSide + newer + otherSize == 0
                          ? QStringLiteral("The folders hold the same files.")
                          : QStringLiteral("%1 on one side only, %2 newer on one side, %3 of another size.")
                                .arg(onlyOneSide)
                                .arg(newer)
                                .arg(otherSize));
    // A LIST time has no zone and may lack seconds or the year: within what
    // that leaves open, files were judged by their size.
    m_approximate->setVisible(approximate > 0);
    m_approximate->setText(approximate == 1
                               ? QStringLiteral("1 file compared by size only: the server's times are not exact.")
                               : QStringLiteral("%1 files compared by size only: the server's times are not exact.")
                                     .arg(approximate));
    m_approximate->setToolTip(QStringLiteral("The server lists times without their time zone, to the minute or "
                                             "the day. Files whose times are that close were compared by size."));
}

QString CCompareLegend::Text() const
{
    QStringList words{m_counts->text()};
    if (!m_approximate->isHidden())
        words << m_approximate->text();
    return words.join(QLatin1Char(' '));
}
