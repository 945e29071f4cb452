#pragma once

#include <QDialog>

#include <optional>

class CHistoryComboBox;

// Asks for a remote folder to open, offering the folders typed before.
// OK with Shift held forgets them instead.
class CGoToFolderDlg : public QDialog {
    Q_OBJECT
public:
    explicit CGoToFolderDlg(QWidget* parent = nullptr);

    QString Path() const;
    CHistoryComboBox* History() const { return m_path; }
    // Replaces the keyboard query for Shift (tests); nullopt asks the keyboard.
    void SetShiftOverride(std::optional<bool> shiftHeld) { m_shiftOverride = shiftHeld; }

    void accept() override;

private:
    bool ShiftHeld() const;

    CHistoryComboBox* m_path = nullptr;
    std::optional<bool> m_shiftOverride;
};
