// Decodes the engine's library list (a JSON array of app records) straight
// from its bytes: one pass, no intermediate document. The library is the
// largest output the app reads, and every reload decodes it whole.
//
// The rules are those of QJsonDocument plus the record's strict typing: the
// whole text must be one JSON array (white space around it allowed), every
// element an object that decodes; unknown keys are checked for well-formed
// JSON and ignored; strings must be valid UTF-8. Where QJsonDocument lets
// malformed JSON pass (raw control characters and unknown escapes in strings,
// unpaired surrogate escapes, a number ending in "."), this reader keeps to
// the JSON grammar and refuses the list. Like QJsonDocument, it refuses a
// number that a double cannot hold and nesting deeper than 1024 levels, and
// when an object repeats a key, the last value counts.
#include "records/AppRecord.h"

#include <QStringDecoder>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

enum class SlotKind { text, integer, boolean };

struct Slot {
    std::string_view key;
    SlotKind kind;
    std::optional<QString> AppRecord::*text = nullptr;
    std::optional<qint64> AppRecord::*integer = nullptr;
    std::optional<bool> AppRecord::*boolean = nullptr;
};

constexpr Slot textSlot(std::string_view key, std::optional<QString> AppRecord::*member)
{
    return Slot{key, SlotKind::text, member, nullptr, nullptr};
}
constexpr Slot integerSlot(std::string_view key, std::optional<qint64> AppRecord::*member)
{
    return Slot{key, SlotKind::integer, nullptr, member, nullptr};
}
constexpr Slot booleanSlot(std::string_view key, std::optional<bool> AppRecord::*member)
{
    return Slot{key, SlotKind::boolean, nullptr, nullptr, member};
}

// The optional fields; bundle_id and app_name are handled on their own.
const Slot kSlots[] = {
    textSlot("current_version", &AppRecord::current_version),
    textSlot("latest_version", &AppRecord::latest_version),
    textSlot("update_mechanism", &AppRecord::update_mechanism),
    textSlot("vendor_updater_name", &AppRecord::vendor_updater_name),
    textSlot("cask_token", &AppRecord::cask_token),
    textSlot("mas_id", &AppRecord::mas_id),
    textSlot("cask_match_confidence", &AppRecord::cask_match_confidence),
    textSlot("last_updated", &AppRecord::last_updated),
    textSlot("last_sha256", &AppRecord::last_sha256),
    textSlot("last_cdn_domain", &AppRecord::last_cdn_domain),
    textSlot("last_team_id", &AppRecord::last_team_id),
    textSlot("last_update_source", &AppRecord::last_update_source),
    integerSlot("update_count", &AppRecord::update_count),
    integerSlot("community_sha256_count", &AppRecord::community_sha256_count),
    textSlot("version_first_seen", &AppRecord::version_first_seen),
    integerSlot("risk_score", &AppRecord::risk_score),
    textSlot("risk_tier", &AppRecord::risk_tier),
    textSlot("install_path", &AppRecord::install_path),
    integerSlot("user_ignored", &AppRecord::user_ignored),
    textSlot("unmanaged_state", &AppRecord::unmanaged_state),
    textSlot("update_mode", &AppRecord::update_mode),
    booleanSlot("self_managed", &AppRecord::self_managed),
    booleanSlot("vendor_self_update", &AppRecord::vendor_self_update),
    booleanSlot("can_trigger_self_update", &AppRecord::can_trigger_self_update),
    textSlot("trigger_kind", &AppRecord::trigger_kind),
    booleanSlot("green_seal", &AppRecord::green_seal),
    booleanSlot("verified_path", &AppRecord::verified_path),
    textSlot("last_incident_code", &AppRecord::last_incident_code),
    textSlot("last_incident_kind", &AppRecord::last_incident_kind),
    textSlot("last_incident_at", &AppRecord::last_incident_at),
    textSlot("latest_source", &AppRecord::latest_source),
    textSlot("version_check_status", &AppRecord::version_check_status),
};

// QJsonDocument's limit: arrays and objects nest at most this deep, the list
// and the record included.
constexpr int kMaxNesting = 1024;

// Outcome of reading one member's value.
enum class Read {
    ok,
    wrongType, // well-formed JSON of another type: the record fails unless a later duplicate key fixes it
    malformed, // not JSON: the whole list fails
};

constexpr int kSlotCount = int(std::size(kSlots));
constexpr int kBundleIdBit = kSlotCount;
constexpr int kAppNameBit = kSlotCount + 1;
static_assert(kSlotCount + 2 <= 64, "one bit per field");

class RecordListParser {
public:
    explicit RecordListParser(const QByteArray &json)
        : m_p(json.constData())
        , m_end(json.constData() + json.size())
    {
    }

    std::optional<QList<AppRecord>> parseList()
    {
        QList<AppRecord> records;
        skipSpace();
        if (!consume('['))
            return std::nullopt;
        skipSpace();
        if (!consume(']')) {
            for (;;) {
                skipSpace();
                AppRecord record;
                if (!parseRecord(record))
                    return std::nullopt;
                records.append(std::move(record));
                skipSpace();
                if (consume(','))
                    continue;
                if (consume(']'))
                    break;
                return std::nullopt;
            }
        }
        skipSpace();
        if (m_p != m_end)
            return std::nullopt;
        return records;
    }

private:
    // --- Records ----------------------------------------------------------

    // A record fails when, after its last member, a field's last value had
    // the wrong type or a required field is missing (the document reader
    // keeps the last of repeated keys, so only the last value counts).
    bool parseRecord(AppRecord &record)
    {
        if (!consume('{'))
            return false;
        bool hasBundleId = false;
        bool hasAppName = false;
        quint64 wrongTypes = 0;
        const auto note = [&wrongTypes](int bit, Read read) {
            if (read == Read::wrongType)
                wrongTypes |= quint64(1) << bit;
            else
                wrongTypes &= ~(quint64(1) << bit);
            return read != Read::malformed;
        };
        skipSpace();
        if (consume('}'))
            return false; // bundle_id and app_name are required
        for (;;) {
            skipSpace();
            std::string_view key;
            if (!parseKey(key))
                return false;
            skipSpace();
            if (!consume(':'))
                return false;
            skipSpace();
            if (key == "bundle_id") {
                const Read read = parseRequiredString(record.bundle_id);
                if (!note(kBundleIdBit, read))
                    return false;
                hasBundleId = true;
            } else if (key == "app_name") {
                const Read read = parseRequiredString(record.app_name);
                if (!note(kAppNameBit, read))
                    return false;
                hasAppName = true;
            } else if (const int slot = slotFor(key); slot >= 0) {
                if (!note(slot, parseSlot(record, kSlots[slot])))
                    return false;
            } else if (!skipValue(2)) {
                return false;
            }
            skipSpace();
            if (consume(','))
                continue;
            if (consume('}'))
                break;
            return false;
        }
        return hasBundleId && hasAppName && wrongTypes == 0;
    }

    static int slotFor(std::string_view key)
    {
        for (int i = 0; i < kSlotCount; ++i) {
            if (kSlots[i].key == key)
                return i;
        }
        return -1;
    }

    // A value of another JSON type is still read through, so that the rest
    // of the list is checked.
    Read otherType() { return skipValue(2) ? Read::wrongType : Read::malformed; }

    Read parseSlot(AppRecord &record, const Slot &slot)
    {
        if (parseLiteral("null")) {
            switch (slot.kind) {
            case SlotKind::text:
                (record.*slot.text).reset();
                break;
            case SlotKind::integer:
                (record.*slot.integer).reset();
                break;
            case SlotKind::boolean:
                (record.*slot.boolean).reset();
                break;
            }
            return Read::ok;
        }
        switch (slot.kind) {
        case SlotKind::text: {
            if (m_p == m_end || *m_p != '"')
                return otherType();
            QString text;
            if (!parseString(&text))
                return Read::malformed;
            record.*slot.text = std::move(text);
            return Read::ok;
        }
        case SlotKind::integer: {
            if (m_p == m_end || (*m_p != '-' && (*m_p < '0' || *m_p > '9')))
                return otherType();
            qint64 value = 0;
            const Read read = parseInteger(value);
            if (read == Read::ok)
                record.*slot.integer = value;
            return read;
        }
        case SlotKind::boolean:
            if (parseLiteral("true")) {
                record.*slot.boolean = true;
                return Read::ok;
            }
            if (parseLiteral("false")) {
                record.*slot.boolean = false;
                return Read::ok;
            }
            return otherType();
        }
        return Read::malformed;
    }

    Read parseRequiredString(QString &out)
    {
        if (m_p == m_end || *m_p != '"')
            return otherType();
        return parseString(&out) ? Read::ok : Read::malformed;
    }

    // --- Lexical pieces -----------------------------------------------------

    void skipSpace()
    {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    bool consume(char c)
    {
        if (m_p != m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    bool parseLiteral(std::string_view word)
    {
        if (size_t(m_end - m_p) >= word.size() && std::memcmp(m_p, word.data(), word.size()) == 0) {
            m_p += word.size();
            return true;
        }
        return false;
    }

    // A key without escapes is taken in place; one with escapes is decoded
    // and compared in its UTF-8 form.
    bool parseKey(std::string_view &key)
    {
        if (!consume('"'))
            return false;
        const char *start = m_p;
        while (m_p != m_end && *m_p != '"' && *m_p != '\\' && static_cast<uchar>(*m_p) >= 0x20
               && static_cast<uchar>(*m_p) < 0x80)
            ++m_p;
        if (m_p != m_end && *m_p == '"') {
            key = std::string_view(start, size_t(m_p - start));
            ++m_p;
            return true;
        }
        m_p = start - 1;
        QString decoded;
        if (!parseString(&decoded))
            return false;
        m_keyBuffer = decoded.toUtf8();
        key = std::string_view(m_keyBuffer.constData(), size_t(m_keyBuffer.size()));
        return true;
    }

    // A JSON string; `out` may be null to only check it.
    bool parseString(QString *out)
    {
        if (!consume('"'))
            return false;
        const char *start = m_p;
        bool plain = true;
        while (m_p != m_end && *m_p != '"') {
            const auto c = static_cast<uchar>(*m_p);
            if (c < 0x20)
                return false;
            if (c == '\\') {
                plain = false;
                break;
            }
            ++m_p;
        }
        if (plain) {
            if (m_p == m_end)
                return false;
            const QByteArrayView bytes(start, m_p - start);
            ++m_p;
            return decodeUtf8(bytes, out);
        }
        // With escapes: build the UTF-8 bytes, then decode them once.
        QByteArray buffer(start, m_p - start);
        while (m_p != m_end && *m_p != '"') {
            const auto c = static_cast<uchar>(*m_p);
            if (c < 0x20)
                return false;
            if (c != '\\') {
                buffer.append(*m_p++);
                continue;
            }
            ++m_p;
            if (m_p == m_end)
                return false;
            const char escape = *m_p++;
            switch (escape) {
            case '"':
                buffer.append('"');
                break;
            case '\\':
                buffer.append('\\');
                break;
            case '/':
                buffer.append('/');
                break;
            case 'b':
                buffer.append('\b');
                break;
            case 'f':
                buffer.append('\f');
                break;
            case 'n':
                buffer.append('\n');
                break;
            case 'r':
                buffer.append('\r');
                break;
            case 't':
                buffer.append('\t');
                break;
            case 'u': {
                char32_t unit = 0;
                if (!parseHex4(unit))
                    return false;
                char32_t codePoint = unit;
                if (QChar::isHighSurrogate(unit)) {
                    // Only a pair stands for a character; a lone half is refused.
                    char32_t low = 0;
                    if (m_end - m_p < 6 || m_p[0] != '\\' || m_p[1] != 'u')
                        return false;
                    m_p += 2;
                    if (!parseHex4(low) || !QChar::isLowSurrogate(low))
                        return false;
                    codePoint = QChar::surrogateToUcs4(char16_t(unit), char16_t(low));
                } else if (QChar::isLowSurrogate(unit)) {
                    return false;
                }
                appendUtf8(buffer, codePoint);
                break;
            }
            default:
                return false;
            }
        }
        if (m_p == m_end)
            return false;
        ++m_p;
        return decodeUtf8(buffer, out);
    }

    bool parseHex4(char32_t &value)
    {
        if (m_end - m_p < 4)
            return false;
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = *m_p++;
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= char32_t(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= char32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= char32_t(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    static void appendUtf8(QByteArray &buffer, char32_t c)
    {
        if (c < 0x80) {
            buffer.append(char(c));
        } else if (c < 0x800) {
            buffer.append(char(0xC0 | (c >> 6)));
            buffer.append(char(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            buffer.append(char(0xE0 | (c >> 12)));
            buffer.append(char(0x80 | ((c >> 6) & 0x3F)));
            buffer.append(char(0x80 | (c & 0x3F)));
        } else {
            buffer.append(char(0xF0 | (c >> 18)));
            buffer.append(char(0x80 | ((c >> 12) & 0x3F)));
            buffer.append(char(0x80 | ((c >> 6) & 0x3F)));
            buffer.append(char(0x80 | (c & 0x3F)));
        }
    }

    static bool decodeUtf8(QByteArrayView bytes, QString *out)
    {
        bool ascii = true;
        for (const char c : bytes) {
            if (static_cast<uchar>(c) >= 0x80) {
                ascii = false;
                break;
            }
        }
        if (ascii) {
            if (out)
                *out = QString::fromLatin1(bytes);
            return true;
        }
        QStringDecoder decoder(QStringConverter::Utf8,
                               QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        QString text = decoder.decode(bytes);
        if (decoder.hasError())
            return false;
        if (out)
            *out = std::move(text);
        return true;
    }

    // A JSON number that a double can hold (QJsonDocument refuses the
    // others, 1e400 and 1e-400 alike); its text is returned for the integer
    // check.
    bool scanNumber(std::string_view &text, bool &integral)
    {
        const char *start = m_p;
        integral = true;
        consume('-');
        if (m_p == m_end)
            return false;
        if (*m_p == '0') {
            ++m_p;
        } else if (*m_p >= '1' && *m_p <= '9') {
            while (m_p != m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p;
        } else {
            return false;
        }
        if (m_p != m_end && *m_p == '.') {
            integral = false;
            ++m_p;
            if (m_p == m_end || *m_p < '0' || *m_p > '9')
                return false;
            while (m_p != m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p;
        }
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            integral = false;
            ++m_p;
            if (m_p != m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (m_p == m_end || *m_p < '0' || *m_p > '9')
                return false;
            while (m_p != m_end && *m_p >= '0' && *m_p <= '9')
                ++m_p;
        }
        text = std::string_view(start, size_t(m_p - start));
        // Only an exponent or a long run of digits can leave a double's range.
        if (!integral || text.size() > 300) {
            double number = 0;
            const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
            if (result.ec != std::errc() || !std::isfinite(number))
                return false;
        }
        return true;
    }

    // An integral JSON number that fits a signed 64-bit integer (3.0 counts);
    // any other number is of the wrong type.
    Read parseInteger(qint64 &value)
    {
        std::string_view text;
        bool integral = false;
        if (!scanNumber(text, integral))
            return Read::malformed;
        if (integral) {
            const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
            if (result.ec == std::errc() && result.ptr == text.data() + text.size())
                return Read::ok;
            // Too large for an integer: read as a double below, like the
            // document reader does, which then does not fit either.
        }
        double number = 0;
        const auto result = std::from_chars(text.data(), text.data() + text.size(), number);
        if (result.ec != std::errc() || !std::isfinite(number))
            return Read::malformed;
        if (std::trunc(number) != number || number < -9223372036854775808.0 || number >= 9223372036854775808.0)
            return Read::wrongType;
        value = qint64(number);
        return Read::ok;
    }

    // Any JSON value inside `nesting` open arrays and objects.
    bool skipValue(int nesting)
    {
        if (m_p == m_end)
            return false;
        if ((*m_p == '{' || *m_p == '[') && nesting + 1 > kMaxNesting)
            return false;
        const int depth = nesting + 1;
        switch (*m_p) {
        case '"':
            return parseString(nullptr);
        case '{': {
            ++m_p;
            skipSpace();
            if (consume('}'))
                return true;
            for (;;) {
                skipSpace();
                if (!parseString(nullptr))
                    return false;
                skipSpace();
                if (!consume(':'))
                    return false;
                skipSpace();
                if (!skipValue(depth))
                    return false;
                skipSpace();
                if (consume(','))
                    continue;
                return consume('}');
            }
        }
        case '[': {
            ++m_p;
            skipSpace();
            if (consume(']'))
                return true;
            for (;;) {
                skipSpace();
                if (!skipValue(depth))
                    return false;
                skipSpace();
                if (consume(','))
                    continue;
                return consume(']');
            }
        }
        case 't':
            return parseLiteral("true");
        case 'f':
            return parseLiteral("false");
        case 'n':
            return parseLiteral("null");
        default: {
            std::string_view text;
            bool integral = false;
            return scanNumber(text, integral);
        }
        }
    }

    const char *m_p;
    const char *m_end;
    QByteArray m_keyBuffer;
};

} // namespace

std::optional<QList<AppRecord>> AppRecord::decodeList(const QByteArray &json)
{
    return RecordListParser(json).parseList();
}
