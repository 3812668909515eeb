#pragma once

#include "kit/ColorPair.h"
#include "kit/Labels.h"

#include <QAbstractButton>
#include <QFont>
#include <QLabel>
#include <QWidget>

#include <optional>

// The small pieces the onboarding, Diagnostics and Environment screens are
// built of.
namespace PanelParts {

using Labels::label;
// The interface face with letter spacing (the sections' upper-case headers).
QFont trackedFont(qreal size, QFont::Weight weight, qreal tracking);
// A one-pixel horizontal line in the border colour.
QWidget *divider(QWidget *parent = nullptr);

// Whether System Settings panes can be opened from here: only on macOS.
bool systemSettingsAvailable();
// Why a System Settings button is disabled elsewhere.
QString systemSettingsUnavailableReason();

} // namespace PanelParts

// A filled circle of `diameter` in a colour token, `topInset` below the
// widget's top edge (to sit on a text's first line).
class PanelsStatusDot : public QWidget {
    Q_OBJECT

public:
    PanelsStatusDot(int diameter, int topInset, QWidget *parent = nullptr);
    void setColor(const ColorPair &color);
    ColorPair color() const { return m_color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_diameter;
    int m_topInset;
    ColorPair m_color;
};

// A symbol in a colour token, in a square of `box` pixels, `topInset` below
// the top edge.
class PanelsSymbol : public QWidget {
    Q_OBJECT

public:
    PanelsSymbol(const QString &symbol, const ColorPair &color, int box, int topInset = 0, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol);
    QString symbol() const { return m_symbol; }
    void setColor(const ColorPair &color, qreal opacity = 1.0);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    ColorPair m_color;
    qreal m_opacity = 1.0;
    int m_box;
    int m_topInset;
};

// A rounded panel filled with a token, optionally outlined.
class PanelsRoundedPanel : public QWidget {
    Q_OBJECT

public:
    PanelsRoundedPanel(const ColorPair &fill, qreal radius, QWidget *parent = nullptr);
    void setStroke(const ColorPair &stroke, qreal opacity);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    ColorPair m_fill;
    qreal m_radius;
    std::optional<ColorPair> m_stroke;
    qreal m_strokeOpacity = 1.0;
};

// A toggle drawn as a switch at the trailing edge of its label area. The
// label is whatever widget is put in labelArea(). Checkable, keyboard-
// reachable (Space toggles).
class PanelsSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit PanelsSwitch(const QString &accessibleName, QWidget *parent = nullptr);
    QWidget *labelArea() const { return m_labelArea; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    // As tall as its label's lines at the width the label gets.
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

    static constexpr int kTrackWidth = 34;
    static constexpr int kTrackHeight = 20;

protected:
    bool hitButton(const QPoint &pos) const override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static int labelWidthFor(int width) { return qMax(0, width - kTrackWidth - 2 - 12); }
    int labelHeightFor(int labelWidth) const;
    void placeLabel();

    QWidget *m_labelArea;
};
