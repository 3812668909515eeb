#pragma once

#include "kit/ColorPair.h"
#include "kit/Labels.h"

#include <QAbstractButton>
#include <QFont>
#include <QLabel>
#include <QWidget>

#include <optional>

class QVBoxLayout;

// The pieces the Settings panes are built of: grouped sections (a header
// above a rounded group of rows, a footer below), wrapping plain-text labels,
// hairline dividers and a switch-style toggle.
namespace SettingsForm {

using Labels::label;

// A horizontal hairline in the given colour, with `spacing` pixels above and below.
QWidget *divider(const ColorPair &color, int spacing = 0, QWidget *parent = nullptr);

// Fills `pane` with a vertically scrolling page (no frame, no horizontal
// scrolling) named `pageName`, and returns the page's column: 20 pixels of
// margin at the sides, 16 above and below, `spacing` between rows.
QVBoxLayout *scrollingPage(QWidget *pane, const QString &pageName, int spacing);

} // namespace SettingsForm

// The rounded group of rows inside a section.
class SettingsGroup : public QWidget {
    Q_OBJECT

public:
    explicit SettingsGroup(QWidget *parent = nullptr);
    QVBoxLayout *rows() const { return m_rows; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVBoxLayout *m_rows;
};

// One section of a grouped form: the header, the group of rows and the footer.
class SettingsSection : public QWidget {
    Q_OBJECT

public:
    // `headerFont`: the header's face; the header is in the secondary text colour.
    SettingsSection(const QString &header, const QFont &headerFont, QWidget *parent = nullptr);

    QLabel *header() const { return m_header; }
    SettingsGroup *group() const { return m_group; }
    void addRow(QWidget *row);
    void addRow(QLayout *row);
    // Below the group; the footer texts wrap.
    QVBoxLayout *footer() const { return m_footer; }
    QLabel *addFooterText(const QString &text, const QFont &font, const ColorPair &color);

private:
    QLabel *m_header;
    SettingsGroup *m_group;
    QVBoxLayout *m_footer;
};

// A toggle drawn as a switch: its label on the left, the switch at the right
// edge. Checkable, keyboard-reachable (Space toggles), its label is its
// accessible name.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT

public:
    explicit ToggleSwitch(const QString &text, QWidget *parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static constexpr int kTrackWidth = 34;
    static constexpr int kTrackHeight = 20;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool hitButton(const QPoint &pos) const override;
};
