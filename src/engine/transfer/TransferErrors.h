#pragma once

#include <QString>

namespace inet {
class InternetError;
}

// Failures in words a user can act on. The number stays in brackets: it is
// what people search for.

// "The server closed the connection (error 12030)". timeoutMs is the
// time-out the connection ran with, for the text of 12002 (0: the library's).
QString DescribeInternetError(const inet::InternetError& error, int timeoutMs);

// The system's text for errno, then the path: "Permission denied: /x/y".
QString DescribeFileError(int cause, const QString& path);

// Whether the whole job should stop rather than only this file: the disk is
// full or read-only, so every other file would fail the same way.
bool StopsTheJob(int cause);

// Whether another attempt at the same file may succeed: the connection or the
// data connection broke, or the server did not answer in time.
bool IsConnectionProblem(const inet::InternetError& error);
