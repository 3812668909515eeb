#pragma once

#include <QColor>
#include <QString>
#include <QStringView>

// A colour given as two hex texts, one for the dark appearance and one for the
// light. Nothing is cached: each resolution parses the text again, so a view
// that resolves its colours while it paints follows every appearance change.
//
// The kit's tokens are colour pairs (kit/VarnoColor); the core hands out
// tones (model/Tone.h), never colour values.
class ColorPair {
public:
    ColorPair() = default;
    ColorPair(QString dark, QString light)
        : m_dark(std::move(dark))
        , m_light(std::move(light))
    {
    }

    const QString &dark() const { return m_dark; }
    const QString &light() const { return m_light; }

    // The dark text's colour when `dark`, otherwise the light text's.
    QColor resolve(bool dark) const;
    // Resolved for the current appearance (Appearance::instance()), with an
    // opacity applied.
    QColor resolved(qreal opacity = 1.0) const;

    // Reads one colour text: every non-alphanumeric character is trimmed from
    // both ends (a leading "#", blanks, line breaks), the rest is read as a
    // hexadecimal number (a leading "0x" is accepted) up to the first
    // character that is not a hex digit, and bits 16-23, 8-15 and 0-7 give
    // red, green and blue; alpha is 1. Short texts are not expanded ("#FFF" is
    // 0x000FFF), longer ones keep their last six digits, and a text with no
    // leading hex digit is black. Never fails.
    static QColor parseHex(QStringView text);

    friend bool operator==(const ColorPair &, const ColorPair &) = default;

private:
    QString m_dark;
    QString m_light;
};
