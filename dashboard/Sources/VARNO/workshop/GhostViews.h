#pragma once

#include "kit/ColorPair.h"
#include "records/GhostAppRecord.h"

#include <QDialog>
#include <QFont>
#include <QHash>
#include <QPointer>
#include <QWidget>

#include <qcoro/qcorotask.h>

#include <functional>

class AppModel;
class QLabel;
class QVBoxLayout;
class StyledButton;

// Texts of different faces and colours run together on one baseline, as one
// line (what assistive technology reads is the whole line).
class TextRuns : public QWidget {
    Q_OBJECT

public:
    struct Run {
        QString text;
        QFont font;
        ColorPair color;
    };

    explicit TextRuns(QWidget *parent = nullptr);
    void setRuns(QList<Run> runs);
    QString text() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QList<Run> m_runs;
};

// The notice above the shelf while the library lists apps that are gone from
// disk: "Brusk removed <N> app[s] that are no longer on disk.", Review (opens
// the review sheet) and a close button that dismisses the ghosts.
class GhostBannerView : public QWidget {
    Q_OBJECT

public:
    GhostBannerView(AppModel *model, std::function<void()> showGhosts, QWidget *parent = nullptr);

    QString message() const;
    StyledButton *reviewButton() const { return m_review; }
    StyledButton *closeButton() const { return m_close; }

    void refresh();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPointer<AppModel> m_model;
    TextRuns *m_message;
    StyledButton *m_review;
    StyledButton *m_close;
};

// The review sheet: "Brusk found some ghosts.", one row per ghost with what
// Homebrew says of it once checked, "Check Homebrew status" (when any ghost
// has a cask token), and Done (Return) and All clear, both of which dismiss
// the ghosts and close the sheet.
class GhostAppsView : public QDialog {
    Q_OBJECT

public:
    explicit GhostAppsView(AppModel *model, QWidget *parent = nullptr);

    static constexpr int kMinimumWidth = 560;
    static constexpr int kMinimumHeight = 400;

    // Asks Homebrew about each ghost with a cask token, one after another off
    // the GUI thread, and shows the answers. Nothing happens (and nothing is
    // said) when Homebrew is at neither of its two places.
    QCoro::Task<void> checkHomebrewStatus();

    const QHash<QString, QString> &brewStatus() const { return m_brewStatus; }
    bool isCheckingBrew() const { return m_checkingBrew; }
    QString subtitle() const;
    StyledButton *doneButton() const { return m_done; }
    StyledButton *allClearButton() const { return m_allClear; }
    StyledButton *checkButton() const { return m_check; }
    // The rows' status marks: the badge text, or the mark's tooltip.
    QStringList rowMarks() const;
    QStringList rowDetails() const;

private:
    void rebuildRows();
    void setCheckingBrew(bool checking);
    void dismissAndClose();

    QPointer<AppModel> m_model;
    QHash<QString, QString> m_brewStatus;
    bool m_checkingBrew = false;
    QLabel *m_subtitle;
    QWidget *m_list;
    QVBoxLayout *m_rows;
    StyledButton *m_done;
    StyledButton *m_allClear;
    StyledButton *m_check;
    QList<QWidget *> m_rowWidgets;
};
