#pragma once

#include "engine/base/ThreadId.h"

class CSyncEvent;

// Dispatches the pending events of the calling thread, so the window stays
// alive during a long operation on the GUI thread.
void PumpMessages();

// Runs the calling thread's event loop until `event` is set or `milliseconds`
// have passed, sleeping in between; true when the event was set.
bool WaitWithMessages(CSyncEvent& event, int milliseconds);
