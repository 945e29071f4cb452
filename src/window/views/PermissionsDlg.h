#pragma once

#include "engine/base/Permissions.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QLabel;

// "File Permissions": read, write and execute for owner, group and others as
// check boxes and as an octal number, kept in step; for folders, whether the
// change reaches the files, the folders or everything below them. Several
// selected items get one mode; a box whose items disagree starts half ticked
// and, left so, stands for each item's own bit (MixedBits): Mode() leaves it out.
class CPermissionsDlg : public QDialog {
    Q_OBJECT
public:
    // `modes` of the selected items (-1 where the listing gave none).
    CPermissionsDlg(const QStringList& names, const QList<int>& modes, bool anyFolder, QWidget* owner = nullptr);

    int Mode() const;
    PermissionScope Scope() const;
    // The bits whose boxes are still half ticked: each item keeps its own.
    int MixedBits() const;

    QLineEdit* OctalField() const { return m_octal; }
    QCheckBox* Box(int who, int what) const { return m_boxes[who][what]; } // who: owner, group, others; what: r, w, x
    QComboBox* ScopeBox() const { return m_scope; }

private:
    void FromBoxes();
    void FromOctal();

    QCheckBox* m_boxes[3][3] = {};
    QLineEdit* m_octal = nullptr;
    QCheckBox* m_recurse = nullptr;
    QComboBox* m_scope = nullptr;
    bool m_updating = false;
};
