#pragma once

#include <QWidget>

class QVariantAnimation;

// The small indeterminate progress indicator (a running update, a scan, a
// check under way): an arc that turns once a second while shown, and stands
// still under Reduce Motion. Its accessible name is "In progress".
class SpinnerView : public QWidget {
    Q_OBJECT

public:
    explicit SpinnerView(int side, QWidget *parent = nullptr);
    QSize sizeHint() const override;
    bool isTurning() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    int m_side;
    qreal m_angle = 0;
    QVariantAnimation *m_turn = nullptr;
};
