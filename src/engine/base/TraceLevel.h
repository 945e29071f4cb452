#pragma once

#include <string_view>

// Levels of the lines in the Trace pane; each has its colour there.
enum TraceLevel : int {
    TRACE_INFO = 0,    // black
    TRACE_SUCCESS = 1, // green
    TRACE_COMMAND = 2, // blue: an operation on a named file or folder begins
    TRACE_ERROR = 3,   // red
    TRACE_SENT = 4,    // dark cyan: a command as it went to the server
    TRACE_REPLY = 5,   // purple: a line of the server's reply
};

// The level of a note of the FTP library: notes say what went otherwise than
// asked (a mode tried again, TLS refused), except the one that names the
// encryption agreed, which is good news.
inline int LevelOfNote(std::string_view note)
{
    constexpr std::string_view kEncrypted = "TLS connection established";
    return note.substr(0, kEncrypted.size()) == kEncrypted ? TRACE_SUCCESS : TRACE_ERROR;
}
