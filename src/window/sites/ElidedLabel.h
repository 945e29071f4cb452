#pragma once

#include <QLabel>

// A one-line label that shows as much of its text as fits and "..." for the
// rest: a name of any length neither widens the dialog nor wraps.
class CElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit CElidedLabel(QWidget* parent = nullptr);

    void SetFullText(const QString& text);
    const QString& FullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Elide();

    QString m_full;
};
