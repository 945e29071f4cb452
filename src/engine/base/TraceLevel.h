#pragma once

// Levels of the lines in the Trace pane; each has its colour there.
enum TraceLevel : int {
    TRACE_INFO = 0,    // black
    TRACE_SUCCESS = 1, // green
    TRACE_COMMAND = 2, // blue: an operation on a named file or folder begins
    TRACE_ERROR = 3,   // red
    TRACE_SENT = 4,    // dark cyan: a command as it went to the server
    TRACE_REPLY = 5,   // purple: a line of the server's reply
};
