#include "window/transfers/TransferTexts.h"


QString FormatBytes(quint64 bytes)
{
    // "KB" as the file lists write it; more digits as the unit grows.
    const double value = double(bytes);
    if (bytes < 1024)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1024 * 1024)
        return QStringLiteral("%1 KB").arg(value / 1024.0, 0, 'f', 0);
    if (bytes < quint64(1024) * 1024 * 1024)
        return QStringLiteral("%1 MB").arg(value / 1048576.0, 0, 'f', 1);
    return QStringLiteral("%1 GB").arg(value / 1073741824.0, 0, 'f', 2);
}

QString FormatRate(double bytesPerSecond)
{
    return FormatBytes(quint64(std::max(0.0, bytesPerSecond))) + QStringLiteral("/s");
}

QString FormatTimeLeft(quint64 remaining, double bytesPerSecond)
{
    if (bytesPerSecond < 1.0 || remaining == 0)
        return QString();
    const quint64 seconds = quint64(double(remaining) / bytesPerSecond + 0.5);
    if (seconds >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg(seconds / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(seconds % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString DescribeProgress(quint64 done, quint64 total, double rate)
{
    QString text = total > 0 ? QStringLiteral("%1 of %2").arg(FormatBytes(std::min(done, total)), FormatBytes(total))
                             : FormatBytes(done);
    if (rate >= 1.0) {
        text += QStringLiteral(", ") + FormatRate(rate);
        const QString left = FormatTimeLeft(total > done ? total - done : 0, rate);
        if (!left.isEmpty())
            text += QStringLiteral(", %1 left").arg(left);
    }
    return text;
}

QString DescribeProgress(const TransferProgress& progress)
{
    QString text = QStringLiteral("All: ") + DescribeProgress(progress.jobDone, progress.jobTotal, progress.rate);
    if (!progress.fileName.isEmpty())
        text += QStringLiteral("\n%1: %2").arg(progress.fileName,
                                                DescribeProgress(progress.fileDone, progress.fileTotal, progress.rate));
    return text;
}

QString DescribeProgress(const TransferJobRecord& record)
{
    QString text = DescribeProgress(record.bytesDone, record.bytesTotal,
                                    record.state == TransferState::Running ? record.rate : 0.0);
    if (record.state == TransferState::Running && !record.currentFile.isEmpty() && record.fileTotal > 0)
        text += QStringLiteral("; %1: %2").arg(record.currentFile, DescribeProgress(record.fileDone, record.fileTotal, 0.0));
    return text;
}

QString StateText(const TransferJobRecord& record)
{
    switch (record.state) {
    case TransferState::Queued: return QStringLiteral("Queued");
    case TransferState::Running: return record.status.isEmpty() ? QStringLiteral("Queued") : record.status;
    case TransferState::Stopped: return QStringLiteral("Stopped");
    case TransferState::Completed: return QStringLiteral("Finished");
    case TransferState::Failed: return QStringLiteral("Failed");
    case TransferState::Cancelled: return QStringLiteral("Cancelled");
    }
    return QString();
}
