#pragma once

#include "engine/base/SizeText.h"

#include <QDialog>
#include <QString>

// What the General page shows of one remote item.
struct RemoteItemProperties {
    bool folder = false;
    QString name;
    QString sizeText; // the list's size text
    quint64 bytes = 0;
    QString type;
    QString date;
    QString location;
    QString owner;
    QString group;
    QString permissions;
};

// The "General" page of a remote item's properties; it only shows.
class CGeneralPage : public QWidget {
    Q_OBJECT
public:
    explicit CGeneralPage(const RemoteItemProperties& item, QWidget* parent = nullptr);
    QString FieldText(const QString& field) const; // by object name: name, type, location, size, date...
};

// The "Properties" sheet with its General page.
class CPropertiesSheet : public QDialog {
    Q_OBJECT
public:
    explicit CPropertiesSheet(const RemoteItemProperties& item, QWidget* parent = nullptr);
    CGeneralPage* GeneralPage() const { return m_general; }

private:
    CGeneralPage* m_general = nullptr;
};
