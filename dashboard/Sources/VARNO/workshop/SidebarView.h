#pragma once

#include "kit/ColorPair.h"
#include "model/AppFilter.h"

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

class AppModel;
class QLabel;
class QVBoxLayout;

// One filter row of the sidebar: a 7-point dot, the filter's title, and for
// a Library row its count at the trailing edge, for a Mechanism row a second
// line with its updates and apps. Choosing it (click, Space, Return) selects
// its filter; Up and Down move to the row above or below.
class SidebarRow : public QWidget {
    Q_OBJECT

public:
    SidebarRow(AppFilter filter, QWidget *parent = nullptr);

    AppFilter filter() const { return m_filter; }
    QString title() const;
    // Count: the Library row's count or the Mechanism row's pending count;
    // total: the Mechanism row's apps (absent for Library rows).
    void setContent(qsizetype count, std::optional<qsizetype> total, const ColorPair &dot);
    qsizetype count() const { return m_count; }
    QString subtitle() const { return m_subtitle; }
    QString countText() const;
    ColorPair dotColor() const { return m_dot; }
    bool isSelected() const { return m_selected; }
    void setSelected(bool selected);
    // "<count> app[s]": what assistive technology reads as the row's value.
    QString accessibleValue() const;

    QSize sizeHint() const override;

Q_SIGNALS:
    void chosen(AppFilter filter);
    void moveRequested(int step);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    AppFilter m_filter;
    qsizetype m_count = 0;
    std::optional<qsizetype> m_total;
    QString m_subtitle;
    ColorPair m_dot;
    bool m_selected = false;
    bool m_hovered = false;
};

// The macOS row: a plain button with a dot, "macOS" over the Software Update
// state, and the number of available updates; it opens Software Update and
// never changes the selection.
class SidebarSystemRow : public QAbstractButton {
    Q_OBJECT

public:
    explicit SidebarSystemRow(QWidget *parent = nullptr);
    void setStatus(const QString &secondary, const QString &help, const ColorPair &dot, qsizetype availableCount);
    QString secondary() const { return m_secondary; }
    QString countText() const;
    ColorPair dotColor() const { return m_dot; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_secondary;
    ColorPair m_dot;
    qsizetype m_available = 0;
};

// The footer's Check chip: a gold capsule (its fill at 0.1, its edge at 0.35)
// with the label in the interface face at 10 medium; 0.78 opacity while
// pressed, no hover look.
class SidebarChipButton : public QAbstractButton {
    Q_OBJECT

public:
    explicit SidebarChipButton(const QString &text, QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The Workshop window's left column: the brand header (64 high), the filters
// with live counts ("Library", "Mechanism"), the macOS row ("System", not on
// an OpenCore Mac), and the footer (58 high) with the app's version, the
// Check chip and the install date. Choosing a row sets the model's filter;
// everything else follows the model.
class SidebarView : public QWidget {
    Q_OBJECT

public:
    explicit SidebarView(AppModel *model, QWidget *parent = nullptr);

    static constexpr int kHeaderHeight = 64;
    static constexpr int kFooterHeight = 58;

    SidebarRow *row(AppFilter filter) const;
    QList<SidebarRow *> rows() const { return m_rows; }
    SidebarSystemRow *systemRow() const { return m_systemRow; }
    QWidget *systemSection() const { return m_systemSection; }
    SidebarChipButton *checkChip() const { return m_checkChip; }
    QLabel *versionLabel() const { return m_version; }
    QLabel *dateLabel() const { return m_date; }

    // Draws everything afresh from the model (it does so on every change the
    // model publishes).
    void refresh();

private:
    void choose(AppFilter filter);
    void move(SidebarRow *from, int step);
    void openSoftwareUpdateSettings();
    void checkForAppUpdate();

    QPointer<AppModel> m_model;
    QList<SidebarRow *> m_rows;
    QWidget *m_systemSection = nullptr;
    SidebarSystemRow *m_systemRow = nullptr;
    SidebarChipButton *m_checkChip = nullptr;
    QLabel *m_version = nullptr;
    QLabel *m_date = nullptr;
};
