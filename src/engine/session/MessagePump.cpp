#include "engine/session/MessagePump.h"

#include "engine/base/SyncEvent.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>
#include <QTimer>


void PumpMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool WaitWithMessages(CSyncEvent& event, int milliseconds)
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!dispatcher)
        return event.Wait(std::chrono::milliseconds(std::max(0, milliseconds)));

    const QDeadlineTimer deadline(std::max(0, milliseconds));
    // The timer only exists to wake the dispatcher at the deadline.
    QTimer wakeAtDeadline;
    wakeAtDeadline.setSingleShot(true);
    wakeAtDeadline.start(std::max(0, milliseconds));
    QPointer<QAbstractEventDispatcher> target(dispatcher);
    event.SetWaker([target] {
        if (target)
            target->wakeUp();
    });
    bool signalled = false;
    while (!(signalled = event.TryWait()) && !deadline.hasExpired())
        dispatcher->processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    event.SetWaker({});
    return signalled;
}
