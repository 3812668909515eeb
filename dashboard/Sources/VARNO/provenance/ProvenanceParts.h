#pragma once

#include "kit/ColorPair.h"

#include <QFont>
#include <QLabel>
#include <QWidget>

#include <optional>

class QVariantAnimation;

// Small painted pieces of the drawer and the restore sheet. Colours are
// tokens, resolved while painting, so an appearance change recolours them.
namespace ProvenanceParts {

// A rounded rectangle: a fill (with its opacity), an optional hairline over
// it. With paintsRows, the box itself stays clear and each child widget's
// rectangle is filled instead, so that 1 px gaps between rows show what lies
// behind the box as thin lines.
class Box : public QWidget {
    Q_OBJECT

public:
    explicit Box(QWidget *parent = nullptr);

    void setFill(const ColorPair &fill, qreal opacity = 1.0);
    void setStroke(const ColorPair &stroke, qreal opacity = 1.0);
    void setRadius(qreal radius);
    void setPaintsRows(bool paintsRows);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<ColorPair> m_fill;
    qreal m_fillOpacity = 1.0;
    std::optional<ColorPair> m_stroke;
    qreal m_strokeOpacity = 1.0;
    qreal m_radius = 8;
    bool m_paintsRows = false;
};

// A filled circle of a fixed diameter.
class Dot : public QWidget {
    Q_OBJECT

public:
    Dot(int diameter, const ColorPair &color, QWidget *parent = nullptr);
    void setColor(const ColorPair &color);
    ColorPair color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ColorPair m_color;
};

// A symbol of the symbol table, in a colour, in a square of `size`.
class Symbol : public QWidget {
    Q_OBJECT

public:
    Symbol(const QString &name, int size, const ColorPair &color, QWidget *parent = nullptr);
    QString name() const { return m_name; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_name;
    ColorPair m_color;
};

// A grey placeholder bar (radius 4) with a light band moving across it; the
// band stands still under Reduce Motion.
class SkeletonBar : public QWidget {
    Q_OBJECT

public:
    SkeletonBar(int width, int height, QWidget *parent = nullptr);
    bool isShimmering() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    QVariantAnimation *m_shimmer = nullptr;
    qreal m_phase = 0.3;
};

// Shows at once the widgets added to a visible container since its last
// refresh (a layout would show them only on the next turn of the event
// loop), leaving alone those hidden on purpose.
void showAdded(QWidget *container);

// A hairline divider in the divider colour.
QWidget *divider(QWidget *parent = nullptr);

// A plain-text label in a face and colour (word-wrapped when asked).
QLabel *label(const QString &text, const QFont &font, const ColorPair &color, bool wrap = false,
              QWidget *parent = nullptr);

} // namespace ProvenanceParts
