#pragma once

#include "kit/ColorPair.h"

#include <QLabel>
#include <QWidget>

// Small views of the menu-bar panel.

// The colour of a statistic's value.
enum class StatTone {
    primary,   // textPrimary
    secondary, // textSecondary
    alert,     // dangerText
};

ColorPair statToneColor(StatTone tone);

// One statistic: a large value over a small upper-case label, centred, taking
// all the width it is offered.
class PanelStatCell : public QWidget {
    Q_OBJECT

public:
    PanelStatCell(const QString &label, QWidget *parent = nullptr);

    void setValue(const QString &value, StatTone tone);
    QString value() const;
    StatTone tone() const { return m_tone; }
    QLabel *valueLabel() const { return m_value; }
    QLabel *captionLabel() const { return m_caption; }

private:
    void applyTone();

    QLabel *m_value;
    QLabel *m_caption;
    StatTone m_tone = StatTone::primary;
};

// A symbol in a token colour, optionally with a soft glow of the same colour
// (60 % opacity) behind it.
class PanelSymbol : public QWidget {
    Q_OBJECT

public:
    PanelSymbol(const QString &symbol, const ColorPair &color, int side, bool glow, QWidget *parent = nullptr);

    void setSymbol(const QString &symbol, const ColorPair &color);
    QString symbol() const { return m_symbol; }
    const ColorPair &color() const { return m_color; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_symbol;
    ColorPair m_color;
    int m_side;
    bool m_glow;
};

// A thin determinate bar filled in gold from the left.
class PanelProgressBar : public QWidget {
    Q_OBJECT

public:
    explicit PanelProgressBar(QWidget *parent = nullptr);

    void setFraction(double fraction);
    double fraction() const { return m_fraction; }

    QSize sizeHint() const override { return QSize(120, 6); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_fraction = 0;
};

// A one-line label that ends in "…" when it is given less room than its text
// needs, and can shrink to nothing.
class PanelElidedLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;
    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

protected:
    void paintEvent(QPaintEvent *event) override;
};

// Plain text wrapped at word boundaries to at most `maxLines` lines; when
// the text needs more, the last line shown ends in "…". Its height follows
// its width.
class PanelLineLimitedLabel : public QLabel {
    Q_OBJECT

public:
    PanelLineLimitedLabel(int maxLines, QWidget *parent = nullptr);

    // The lines drawn at `width` (the last one elided when the text needs more).
    QStringList linesFor(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_maxLines;
};

// A one-pixel rule in the border colour: horizontal (full width) or
// vertical (of a given height).
class PanelDivider : public QWidget {
    Q_OBJECT

public:
    explicit PanelDivider(Qt::Orientation orientation, int length = 0, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
