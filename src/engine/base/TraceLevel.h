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

// The level of a note of the remote file systems. FTP's notes say what went
// otherwise than asked (a mode tried again, TLS refused), except the one that
// names the encryption agreed, which is good news. SSH's notes are the steps
// of its handshake, which FTP shows as its conversation: they take the
// colour of the server's replies, except the ones about keys and methods
// that could not be used.
inline int LevelOfNote(std::string_view note)
{
    const auto startsWith = [note](std::string_view prefix) { return note.substr(0, prefix.size()) == prefix; };
    if (startsWith("TLS connection established"))
        return TRACE_SUCCESS;
    for (const std::string_view step : {"Connected to ", "Server version: ", "Encryption: ", "Host key: ",
                                        "The host key is ", "The host key was added", "Authenticated with ",
                                        "Accepted ", "Logged in without", "SFTP version "}) {
        if (startsWith(step))
            return TRACE_REPLY;
    }
    return TRACE_ERROR;
}
