#pragma once

#include <QObject>

#include <optional>

// Decides whether the app draws dark or light, and whether motion is reduced.
//
// Qt has no colour-scheme API, so the scheme is, in order: an override set in
// code, the VARNO_APPEARANCE environment variable ("dark" or "light", used by
// tests and screenshots), else the lightness of the platform palette. Colour
// tokens resolve through isDark() each time they are painted, and views
// repaint on changed().
class Appearance : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool dark READ isDark NOTIFY changed)
    Q_PROPERTY(bool reduceMotion READ reduceMotion WRITE setReduceMotion NOTIFY changed)

public:
    enum class Scheme { Light, Dark };
    Q_ENUM(Scheme)

    static Appearance &instance();

    bool isDark() const;
    Scheme scheme() const { return isDark() ? Scheme::Dark : Scheme::Light; }

    // Forces a scheme; nothing returns to the environment or the palette.
    void setOverride(std::optional<Scheme> scheme);
    std::optional<Scheme> override() const { return m_override; }

    // Reduce Motion: from VARNO_REDUCE_MOTION=1 at start, or set here.
    bool reduceMotion() const { return m_reduceMotion; }
    void setReduceMotion(bool reduce);

    // Parses "dark" / "light" (any case, surrounding blanks ignored).
    static std::optional<Scheme> schemeFromText(const QString &text);

Q_SIGNALS:
    void changed();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    Appearance();
    void watchPalette();
    bool paletteIsDark() const;

    std::optional<Scheme> m_override;
    std::optional<Scheme> m_environment;
    bool m_reduceMotion = false;
    bool m_lastDark = false;
    bool m_watching = false;
};
