#pragma once

#include <QString>
#include <QStringList>

#include <memory>

class CMainFrame;

// The document: no data of its own. Opening one means connecting to the site
// or host it names; its title is the connection state.
class CFtpVornicDoc {
public:
    explicit CFtpVornicDoc(CMainFrame& frame) : m_frame(frame) {}

    // Connects to the part of `pathName` after its last "\" (all of it when
    // there is none), as a catalogue site or a host. Always true: a failed
    // connection is reported in the Trace pane and leaves the program running.
    bool OnOpenDocument(const QString& pathName);

private:
    CMainFrame& m_frame;
};

// Start-up: the main window, the command line, the placement.
class CFtpVornicApp {
public:
    CFtpVornicApp();
    ~CFtpVornicApp();

    // `arguments` without the program name: none, or one site or host.
    bool InitInstance(const QStringList& arguments);
    CMainFrame* MainFrame() const { return m_frame.get(); }

private:
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<CFtpVornicDoc> m_document;
};
