#pragma once

#include "kit/ColorPair.h"

#include <QWidget>

#include <optional>

class QVariantAnimation;

// The small indeterminate progress indicator (a running update, a scan, a
// check under way): an arc that turns once a second while shown, and stands
// still under Reduce Motion. Its accessible name is "In progress". By default
// it is drawn in the secondary text colour on a faint ring; a tint (a label's
// colour, say) replaces both.
class SpinnerView : public QWidget {
    Q_OBJECT

public:
    explicit SpinnerView(int side, QWidget *parent = nullptr);
    QSize sizeHint() const override;
    bool isTurning() const;
    void setTint(std::optional<ColorPair> tint);
    std::optional<ColorPair> tint() const { return m_tint; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int m_side;
    std::optional<ColorPair> m_tint;
    qreal m_angle = 0;
    QVariantAnimation *m_turn = nullptr;
};
