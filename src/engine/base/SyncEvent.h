#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// A manual- or auto-reset event between threads. A waker, when installed, is
// called on every Set (from the setting thread) so a thread that waits inside
// an event loop can be woken without polling.
class CSyncEvent {
public:
    enum class Reset { Manual, Auto };

    explicit CSyncEvent(Reset reset = Reset::Manual) : m_reset(reset) {}

    void Set()
    {
        std::function<void()> waker;
        {
            std::lock_guard lock(m_mutex);
            m_set = true;
            waker = m_waker;
        }
        m_changed.notify_all();
        if (waker)
            waker();
    }

    // True when set (an auto-reset event is consumed by the check).
    bool TryWait()
    {
        std::lock_guard lock(m_mutex);
        return Consume();
    }

    bool Wait(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, timeout, [this] { return m_set; });
        return Consume();
    }

    void SetWaker(std::function<void()> waker)
    {
        std::lock_guard lock(m_mutex);
        m_waker = std::move(waker);
    }

private:
    bool Consume()
    {
        if (!m_set)
            return false;
        if (m_reset == Reset::Auto)
            m_set = false;
        return true;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::function<void()> m_waker;
    bool m_set = false;
    Reset m_reset;
};
