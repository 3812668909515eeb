#pragma once

#include <QLabel>

class ColorPair;
class QScrollBar;

// A one-line label that shows as much of its text as fits, cut with "…" (the
// whole text in its tooltip); it never asks for more width than it gets.
class FittedLabel : public QLabel {
    Q_OBJECT

public:
    FittedLabel(const QString &text, Qt::TextElideMode mode, QWidget *parent = nullptr);
    void setFullText(const QString &text);
    QString fullText() const { return m_full; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void elide();

    QString m_full;
    Qt::TextElideMode m_mode;
};

// A quiet scroll bar in the tokens' colours: a thin rounded handle on no
// track, recoloured on every appearance change.
void styleScrollBar(QScrollBar *bar);

namespace WorkshopParts {

// A one-pixel line in the border colour across the width of its column.
QWidget *divider(QWidget *parent);

} // namespace WorkshopParts
