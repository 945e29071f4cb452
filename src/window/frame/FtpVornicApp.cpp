#include "window/frame/FtpVornicApp.h"

#include "window/frame/MainFrame.h"

CFtpVornicApp::CFtpVornicApp() = default;
CFtpVornicApp::~CFtpVornicApp() = default;

bool CFtpVornicDoc::OnOpenDocument(const QString& pathName)
{
    const QString name = pathName.section(QLatin1Char('\\'), -1);
    m_frame.Connect(&name, QString(), QString());
    return true;
}

bool CFtpVornicApp::InitInstance(const QStringList& arguments)
{
    m_frame = std::make_unique<CMainFrame>();
    m_document = std::make_unique<CFtpVornicDoc>(*m_frame);
    // A site or host given: no Site Manager in the middle of its connect.
    if (!arguments.isEmpty())
        m_frame->SkipStartupSiteManager();
    const Qt::WindowStates state = m_frame->RestorePlacement();
    m_frame->show();
    if (state != Qt::WindowNoState)
        m_frame->setWindowState(state);
    if (!arguments.isEmpty())
        m_document->OnOpenDocument(arguments.first());
    return true;
}
