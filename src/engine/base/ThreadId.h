#pragma once

#include <sys/syscall.h>
#include <unistd.h>

// The operating system's id of the calling thread, as every trace line shows
// it in "[%d] ": the GUI thread's for the session's lines, each worker's for
// its own.
inline long CurrentThreadId()
{
    return static_cast<long>(::syscall(SYS_gettid));
}
