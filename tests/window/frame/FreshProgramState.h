#pragma once

#include "engine/base/Settings.h"
#include "engine/base/TrustedCertificates.h"
#include "engine/catalog/SiteCatalog.h"
#include "engine/catalog/SitePasswords.h"
#include "engine/transfer/TransferQueue.h"

#include <QSettings>
#include <QTemporaryDir>

// Every window test starts as a first run: no stored settings and a
// catalogue of its own. A quiet start also skips the start-up Connect and the
// status lines, so traces hold only what the test did.
class FreshProgramState {
public:
    explicit FreshProgramState(bool quiet)
    {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, kx::kOrganisation, kx::kApplication).clear();
        CSiteCatalog::SetDefaultPathOverride(m_folder.filePath(QStringLiteral("sites.xml")));
        CTrustedCertificates::SetDefaultPathOverride(m_folder.filePath(QStringLiteral("trusted-certificates")));
        SitePasswords::ForgetRemembered();
        CTransferQueue::SetDefaultStorePathOverride(m_folder.filePath(QStringLiteral("transfer-queue.sqlite")));
        if (quiet) {
            kx::WriteProfileInt(kx::settings::ShowConnectionDlg, 0);
            kx::WriteProfileInt(kx::settings::HideStatusCallbackInfo, 1);
        }
    }
    ~FreshProgramState()
    {
        CSiteCatalog::SetDefaultPathOverride(QString());
        CTrustedCertificates::SetDefaultPathOverride(QString());
        CTransferQueue::SetDefaultStorePathOverride(QString());
    }
    FreshProgramState(const FreshProgramState&) = delete;
    FreshProgramState& operator=(const FreshProgramState&) = delete;

private:
    QTemporaryDir m_folder;
};
