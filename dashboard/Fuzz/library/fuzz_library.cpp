// The library list: the one-pass decoder (AppRecord::decodeList) against the
// document reader (QJsonDocument, then AppRecord::listFromJson). Both accept
// or both refuse, and what they accept is the same list of records. The one
// exception is by design: the document reader lets some malformed JSON pass
// (raw control characters, unknown escapes, lone surrogate escapes, "1."),
// which the one-pass decoder refuses; so a list only the document reader
// takes must not be valid JSON.
#include "FuzzSupport.h"

#include "records/AppRecord.h"
#include "records/StrictJson.h"

// QJsonDocument refuses deeper nesting.
constexpr int documentDepthLimit = 1024;

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json = Fuzz::bytesOf(data, size);
    const auto fast = AppRecord::decodeList(json);

    std::optional<QList<AppRecord>> document;
    if (const auto array = StrictJson::parseArray(QByteArray(json.constData(), json.size())))
        document = AppRecord::listFromJson(*array);

    if (fast) {
        FUZZ_CHECK(document.has_value(), QStringLiteral("only the one-pass decoder accepted the list"));
        FUZZ_CHECK(fast->size() == document->size(),
                   QStringLiteral("%1 records against %2").arg(fast->size()).arg(document->size()));
        for (qsizetype i = 0; i < fast->size(); ++i) {
            const AppRecord &record = fast->at(i);
            FUZZ_CHECK(record == document->at(i), QStringLiteral("record %1 (%2) differs").arg(i).arg(record.bundle_id));
            // What every view derives from a record.
            (void)record.versionCheckStatus();
            (void)record.statusColor();
            (void)record.isVerified();
            (void)record.isCatalogStale();
        }
    } else if (document) {
        FUZZ_CHECK(!Fuzz::isStrictJson(std::string_view(json.constData(), size_t(json.size())), documentDepthLimit),
                   QStringLiteral("the one-pass decoder refused a valid list of %1 records").arg(document->size()));
    }
    return 0;
}
