#include "kit/Labels.h"

#include "kit/VarnoColor.h"

#include <QLabel>
#include <QMessageBox>
#include <QTextDocument>

namespace Labels {

QLabel *label(const QString &text, const QFont &font, std::optional<ColorPair> color, bool wraps, QWidget *parent)
{
    auto *result = new QLabel(parent);
    result->setTextFormat(Qt::PlainText);
    result->setText(text);
    result->setFont(font);
    result->setWordWrap(wraps);
    if (wraps) {
        // As tall as its lines at the width it gets: the policy keeps the
        // height-for-width that word wrap gives it.
        QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
        policy.setHeightForWidth(true);
        result->setSizePolicy(policy);
    }
    if (color)
        VarnoColor::bindForeground(result, *color);
    return result;
}

void setPlainInformativeText(QMessageBox *box, const QString &text)
{
    box->setInformativeText(text);
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel"))) {
        label->setTextFormat(Qt::PlainText);
        label->setText(text);
    }
}

QString toolTip(const QString &text)
{
    if (!Qt::mightBeRichText(text))
        return text;
    // Spaces kept as they are and no wrapping, as a plain tooltip shows them.
    return Qt::convertFromPlainText(text, Qt::WhiteSpacePre);
}

} // namespace Labels
