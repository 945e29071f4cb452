// The ways into the catalogue from the main window: the Favorites menu, Add
// to Favorites and the Connection Wizard, against a real server.
#include "FrameFixture.h"

#include "window/sites/AddFavoritesDlg.h"
#include "window/sites/ConnectionWizard.h"
#include "window/sites/FavoritesMenu.h"
#include "engine/catalog/SiteCatalog.h"
#include "window/resources/CommandIds.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include <functional>

namespace {

class FavoritesCommandsTest : public FrameFixture {
protected:
    QAction* FindFavorite(QMenu* menu, const QString& text)
    {
        for (QAction* action : menu->actions()) {
            if (action->text() == text)
                return action;
            if (action->menu())
                if (QAction* inner = FindFavorite(action->menu(), text))
                    return inner;
        }
        return nullptr;
    }
};

TEST_F(FavoritesCommandsTest, AFavoriteConnectsAndTheConnectionBecomesAFavorite)
{
    m_root.MakeDir("pub/sub");
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    CFtpSite site = CSiteCatalog::DefaultSite();
    site.name = QStringLiteral("Local");
    site.address = QStringLiteral("127.0.0.1");
    site.port = m_server->port();
    site.login = QStringLiteral("anna");
    site.password = QStringLiteral("secret");
    site.remotePath = QStringLiteral("/pub");
    {
        CSiteCatalog catalog;
        catalog.Open();
        CSiteCatalog::AddFolder(catalog.Document(), nullptr, QStringLiteral("Test"));
        ASSERT_TRUE(catalog.Write());
        const QString folder = QStringLiteral("Test");
        ASSERT_TRUE(catalog.SaveSite(site, &folder));
    }
    m_frame->FavoritesMenu()->Rebuild(CSiteCatalog::DefaultPath());
    m_frame->show();
    EXPECT_FALSE(m_frame->Command(cmd::ID_ADD_TO_FAVORITES)->isEnabled());
    QAction* local = FindFavorite(m_frame->FavoritesMenu()->Menu(), QStringLiteral("Local"));
    ASSERT_NE(local, nullptr);
    local->trigger();
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Local - Kestrix"));
    EXPECT_EQ(m_frame->Session().ListedPath().ToString(), QStringLiteral("/pub"));

    // The connection as a favorite: the name proposed, the folder listed,
    // and the address as the site has it, not with the folder glued on.
    m_frame->ItemCommands().GoToFolder(QStringLiteral("sub"));
    ASSERT_TRUE(m_frame->Command(cmd::ID_ADD_TO_FAVORITES)->isEnabled());
    QString proposed;
    WhenModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<CAddFavoritesDlg*>(modal);
        ASSERT_NE(dialog, nullptr);
        proposed = dialog->Name();
        dialog->OkButton()->click();
    });
    m_frame->Command(cmd::ID_ADD_TO_FAVORITES)->trigger();
    EXPECT_EQ(proposed, QStringLiteral("Local [pub-sub]"));
    CFtpSite stored;
    ASSERT_TRUE(CSiteCatalog().LoadSite(QStringLiteral("Local [pub-sub]"), stored));
    EXPECT_EQ(stored.address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(stored.remotePath, QStringLiteral("/pub/sub"));
    EXPECT_EQ(stored.port, m_server->port());
    EXPECT_EQ(m_frame->FavoritesMenu()->SitePaths().size(), 2);
}

TEST_F(FavoritesCommandsTest, TheWizardStoresTheSiteAndConnectsAtOnce)
{
    m_server = kxtest::StartPyFtpd(m_root.path(), "anna", "secret");
    WhenModal([&](QWidget* modal) {
        auto* wizard = qobject_cast<CWizardSheet*>(modal);
        ASSERT_NE(wizard, nullptr);
        wizard->SiteNameEdit()->setText(QStringLiteral("Wizardry"));
        wizard->next();
        wizard->HostEdit()->setText(QStringLiteral("127.0.0.1:%1").arg(m_server->port()));
        wizard->next();
        wizard->UserEdit()->setText(QStringLiteral("anna"));
        wizard->PasswordEdit()->setText(QStringLiteral("secret"));
        for (int page = 0; page < 3; ++page)
            wizard->next();
        wizard->ConnectNowBox()->setChecked(true);
        wizard->accept();
    });
    m_frame->show();
    m_frame->Command(cmd::ID_CONNECTION_WIZARD)->trigger();
    EXPECT_TRUE(m_prompts.messages.isEmpty()) << m_prompts.messages.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(m_frame->windowTitle(), QStringLiteral("Wizardry - Kestrix"));
    EXPECT_EQ(m_frame->FavoritesMenu()->SitePaths(), QStringList{QStringLiteral("Wizardry")});
}

} // namespace
