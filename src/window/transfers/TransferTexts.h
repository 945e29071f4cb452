#pragma once

#include "engine/transfer/TransferJob.h"
#include "engine/transfer/TransferPort.h"

#include <QString>

// How the window words a job's progress: "1.2 MB of 4.0 MB, 310 KB/s,
// 0:12 left". Shared by the progress window and the Transfer Manager.
QString FormatBytes(quint64 bytes);
QString FormatRate(double bytesPerSecond);
// "1:05:07", "0:12"; empty when nothing moves.
QString FormatTimeLeft(quint64 remaining, double bytesPerSecond);
// The job's line and, with a current file, the file's.
QString DescribeProgress(quint64 done, quint64 total, double rate);
QString DescribeProgress(const TransferProgress& progress);
QString DescribeProgress(const TransferJobRecord& record);
// The Status column's word for a job.
QString StateText(const TransferJobRecord& record);
