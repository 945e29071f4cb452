#pragma once

#include <QDialog>

// Help > About Kestrix: the program's name, icon, version and what it is.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    // The version the program was built as.
    explicit CAboutDlg(QWidget* owner = nullptr);
    // Any other version text, e.g. QCoreApplication::applicationVersion().
    explicit CAboutDlg(const QString& version, QWidget* owner = nullptr);

    static QString BuildVersion();
};
