#pragma once

#include "engine/transfer/TransferQueue.h"

#include <QPointer>
#include <QWidget>

// Asks for the password of a queued job whose password was not kept (a typed
// address, after a restart), in a small dialog over the window.
class CPasswordPrompt : public ITransferPasswords {
public:
    explicit CPasswordPrompt(QWidget* parent) : m_parent(parent) {}
    std::optional<QString> PasswordFor(const TransferPasswordRequest& request) override;

private:
    QPointer<QWidget> m_parent;
};
