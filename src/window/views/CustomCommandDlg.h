#pragma once

#include <QDialog>

class QLineEdit;

// Asks for one raw command line to send to the server.
class CCustomCommandDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCustomCommandDlg(QWidget* parent = nullptr);

    QString Command() const;
    QLineEdit* CommandField() const { return m_command; }

private:
    QLineEdit* m_command = nullptr;
};
