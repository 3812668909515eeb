#include "kit/Labels.h"

#include "kit/VarnoColor.h"

#include <QLabel>

namespace Labels {

QLabel *label(const QString &text, const QFont &font, std::optional<ColorPair> color, bool wraps, QWidget *parent)
{
    auto *result = new QLabel(parent);
    result->setTextFormat(Qt::PlainText);
    result->setText(text);
    result->setFont(font);
    result->setWordWrap(wraps);
    if (wraps)
        result->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    if (color)
        VarnoColor::bindForeground(result, *color);
    return result;
}

} // namespace Labels
