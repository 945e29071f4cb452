#pragma once

#include <QApplication>

// Shows the wait cursor for the rest of a scope (nothing without a GUI).
class CWaitCursor {
public:
    CWaitCursor()
        : m_active(qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr)
    {
        if (m_active)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~CWaitCursor()
    {
        if (m_active)
            QApplication::restoreOverrideCursor();
    }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    bool m_active;
};
