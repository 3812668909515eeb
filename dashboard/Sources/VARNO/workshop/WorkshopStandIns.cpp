#include "workshop/WorkshopStandIns.h"

#include "kit/ButtonStyles.h"
#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"
#include "kit/VarnoSignals.h"
#include "model/AppModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace StandIn {

namespace {

QLabel *label(const QString &text, const QFont &font, const ColorPair &color, QWidget *parent)
{
    auto *l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText);
    l->setFont(font);
    VarnoColor::bindForeground(l, color);
    return l;
}

QFont italicBrusk(qreal size)
{
    QFont font = VarnoFont::brusk(size, QFont::Light);
    font.setItalic(true);
    return font;
}

} // namespace

// --- Sheets ------------------------------------------------------------------------------

SheetView::SheetView(const QString &title, QWidget *parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    VarnoColor::bindBackground(this, VarnoColor::background());
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);
    layout->addWidget(label(title, italicBrusk(22), VarnoColor::textPrimary(), this));
    layout->addWidget(label(QStringLiteral("(stand-in)"), VarnoFont::mono(10), VarnoColor::textTertiary(), this));
    auto *close = new StyledButton(QStringLiteral("Close"), GhostButtonStyle(), this);
    layout->addWidget(close, 0, Qt::AlignRight);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    resize(480, 320);
}

SheetView *makeEnvironmentView(AppModel *, QWidget *parent)
{
    return new SheetView(QStringLiteral("Environment"), parent);
}

} // namespace StandIn
