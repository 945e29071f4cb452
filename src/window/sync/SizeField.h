#pragma once

#include <QString>

#include <optional>

class QLineEdit;
class QWidget;

// A field for a number of bytes, empty for "no bound".
QLineEdit* MakeSizeField(QWidget* parent);
std::optional<quint64> SizeOfField(const QString& text);
