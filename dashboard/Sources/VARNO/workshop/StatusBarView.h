#pragma once

#include "model/PosturePresenter.h"
#include "workshop/StatusBarRules.h"

#include <QPointer>
#include <QWidget>

class AppModel;
class BruskView;
class QLabel;

// A symbol drawn in a colour at a size, re-coloured on appearance changes.
class SymbolMark : public QWidget {
    Q_OBJECT

public:
    SymbolMark(int side, QWidget *parent = nullptr);
    void setSymbol(const QString &symbol, const ColorPair &color);
    QString symbol() const { return m_symbol; }
    ColorPair color() const { return m_color; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_side;
    QString m_symbol;
    ColorPair m_color;
};

// One element of the strip as assistive technology meets it: a count cell
// ("Tracked: 42") or the posture chip ("Healthy. …"), read by its own label;
// the texts and marks inside it are not elements of their own.
class StatusStripElement : public QWidget {
    Q_OBJECT

public:
    explicit StatusStripElement(QWidget *parent = nullptr);
};

// The strip at the foot of the detail column: four counts (TRACKED,
// OUTDATED, VERIFIED, AT RISK) at the leading edge and the library's posture
// in Brusk's words at the trailing edge. No buttons, no timer: it follows the
// model's changes, so a strip left alone keeps its last recency text.
class StatusBarView : public QWidget {
    Q_OBJECT

public:
    explicit StatusBarView(AppModel *model, QWidget *parent = nullptr);

    QWidget *cell(StatusBarRules::Cell cell) const;
    QString cellValue(StatusBarRules::Cell cell) const;
    QWidget *chip() const { return m_chip; }
    SymbolMark *toneMark() const { return m_tone; }
    QString postureTitle() const;
    // The posture line (the old stand-in's accessor, for callers that read it).
    QString text() const { return postureTitle(); }

    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<AppModel> m_model;
    QList<QWidget *> m_cells;
    QList<QLabel *> m_values;
    QWidget *m_chip;
    SymbolMark *m_tone;
    QLabel *m_title;
};
