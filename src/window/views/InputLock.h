#pragma once

#include <QObject>

class QWidget;

// Takes the user's hands off some widgets for a while: when locked, the
// clicks, keys and context menus meant for the watched widgets are dropped,
// so a view cannot start anything while the session is busy. The wheel still
// scrolls, and the window's shortcuts (Cancel among them) are not keys the
// widget receives, so they keep working.
class CInputLock : public QObject {
public:
    explicit CInputLock(QObject* parent = nullptr) : QObject(parent) {}

    void Watch(QWidget* widget);
    void SetLocked(bool locked) { m_locked = locked; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool m_locked = false;
};
