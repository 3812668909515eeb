#include "shell/SettingsStandIn.h"

#include "kit/VarnoColor.h"
#include "kit/VarnoFont.h"

#include <QLabel>
#include <QVBoxLayout>

SettingsStandIn::SettingsStandIn(AppModel *model, QWidget *parent)
    : QWidget(parent)
{
    Q_UNUSED(model);
    setWindowTitle(QStringLiteral("Settings"));
    setObjectName(QStringLiteral("settings-stand-in"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    auto *label = new QLabel(QStringLiteral("Settings stand-in: the Settings panes are not built yet."), this);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFont(VarnoFont::ui(13));
    layout->addWidget(label);
    setFixedSize(420, 120);
}
