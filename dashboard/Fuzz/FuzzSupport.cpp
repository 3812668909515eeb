#include "FuzzSupport.h"

#include <QtGlobal>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

void fail(const char *file, int line, const char *condition, const QString &detail)
{
    std::fprintf(stderr, "\n%s:%d: the property does not hold: %s\n%s\n", file, line, condition,
                 detail.toLocal8Bit().constData());
    std::fflush(stderr);
    std::abort();
}

void quietQt()
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
}

uint64_t hashOf(const uint8_t *data, size_t size)
{
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i) {
        hash ^= data[i];
        hash *= 1099511628211ull;
    }
    return hash;
}

namespace {

class StrictJson {
public:
    StrictJson(std::string_view text, int maxDepth)
        : m_p(text.data())
        , m_end(text.data() + text.size())
        , m_maxDepth(maxDepth)
    {
    }

    bool document()
    {
        space();
        if (!value(0))
            return false;
        space();
        return m_p == m_end;
    }

private:
    void space()
    {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
            ++m_p;
    }

    bool take(char c)
    {
        if (m_p != m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    bool word(std::string_view w)
    {
        if (size_t(m_end - m_p) < w.size() || std::string_view(m_p, w.size()) != w)
            return false;
        m_p += w.size();
        return true;
    }

    bool value(int depth)
    {
        if (m_p == m_end)
            return false;
        switch (*m_p) {
        case '{': {
            if (depth + 1 > m_maxDepth)
                return false;
            ++m_p;
            space();
            if (take('}'))
                return true;
            for (;;) {
                space();
                if (!string())
                    return false;
                space();
                if (!take(':'))
                    return false;
                space();
                if (!value(depth + 1))
                    return false;
                space();
                if (take(','))
                    continue;
                return take('}');
            }
        }
        case '[': {
            if (depth + 1 > m_maxDepth)
                return false;
            ++m_p;
            space();
            if (take(']'))
                return true;
            for (;;) {
                space();
                if (!value(depth + 1))
                    return false;
                space();
                if (take(','))
                    continue;
                return take(']');
            }
        }
        case '"':
            return string();
        case 't':
            return word("true");
        case 'f':
            return word("false");
        case 'n':
            return word("null");
        default:
            return number();
        }
    }

    bool digits()
    {
        const char *start = m_p;
        while (m_p != m_end && *m_p >= '0' && *m_p <= '9')
            ++m_p;
        return m_p != start;
    }

    bool number()
    {
        const char *start = m_p;
        take('-');
        if (take('0')) {
        } else if (m_p != m_end && *m_p >= '1' && *m_p <= '9') {
            digits();
        } else {
            return false;
        }
        if (take('.') && !digits())
            return false;
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            ++m_p;
            if (m_p != m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (!digits())
                return false;
        }
        double d = 0;
        const auto result = std::from_chars(start, m_p, d);
        return result.ec == std::errc() && std::isfinite(d);
    }

    bool hex4(uint32_t &unit)
    {
        if (m_end - m_p < 4)
            return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *m_p++;
            unit <<= 4;
            if (c >= '0' && c <= '9')
                unit |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                unit |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                unit |= uint32_t(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    // One UTF-8 sequence (shortest form, no surrogates, at most U+10FFFF).
    bool utf8()
    {
        const auto lead = static_cast<unsigned char>(*m_p);
        int more = 0;
        uint32_t cp = 0;
        if (lead < 0x80)
            more = 0, cp = lead;
        else if (lead >= 0xC2 && lead <= 0xDF)
            more = 1, cp = lead & 0x1F;
        else if (lead >= 0xE0 && lead <= 0xEF)
            more = 2, cp = lead & 0x0F;
        else if (lead >= 0xF0 && lead <= 0xF4)
            more = 3, cp = lead & 0x07;
        else
            return false;
        ++m_p;
        for (int i = 0; i < more; ++i) {
            if (m_p == m_end || (static_cast<unsigned char>(*m_p) & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (static_cast<unsigned char>(*m_p) & 0x3F);
            ++m_p;
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        return !(cp >= 0xD800 && cp <= 0xDFFF);
    }

    bool string()
    {
        if (!take('"'))
            return false;
        while (m_p != m_end && *m_p != '"') {
            const auto c = static_cast<unsigned char>(*m_p);
            if (c < 0x20)
                return false;
            if (c != '\\') {
                if (!utf8())
                    return false;
                continue;
            }
            ++m_p;
            if (m_p == m_end)
                return false;
            const char escape = *m_p++;
            if (std::string_view("\"\\/bfnrt").find(escape) != std::string_view::npos)
                continue;
            if (escape != 'u')
                return false;
            uint32_t unit = 0;
            if (!hex4(unit))
                return false;
            if (unit >= 0xDC00 && unit <= 0xDFFF)
                return false;
            if (unit >= 0xD800 && unit <= 0xDBFF) {
                uint32_t low = 0;
                if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF)
                    return false;
            }
        }
        return take('"');
    }

    const char *m_p;
    const char *m_end;
    int m_maxDepth;
};

} // namespace

bool isStrictJson(std::string_view text, int maxDepth)
{
    return StrictJson(text, maxDepth).document();
}

} // namespace Fuzz
