// The decoders of the engine's smaller records: trust seal, backup,
// provenance (a list), ghosts (a list) and the adopt dry run. Each reads the
// same bytes; none may crash, throw or read out of bounds, each agrees with
// decoding the parsed document, and what the app derives from an accepted
// record is computed too.
#include "FuzzSupport.h"

#include "records/AdoptFlow.h"
#include "records/BackupRecord.h"
#include "records/GhostAppRecord.h"
#include "records/ProvenanceRecord.h"
#include "records/StrictJson.h"
#include "records/TrustSealRecord.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char *>(data), qsizetype(size));
    const auto object = StrictJson::parseObject(json);
    const auto array = object ? std::nullopt : StrictJson::parseArray(json);

    // Each decoder from the parsed document...
    const auto seal = object ? TrustSealRecord::fromJson(*object) : std::nullopt;
    const auto backup = object ? BackupRecord::fromJson(*object) : std::nullopt;
    const auto preview = object ? AdoptFlow::Preview::fromJson(*object) : std::nullopt;
    const auto history = array ? ProvenanceRecord::listFromJson(*array) : std::nullopt;
    const auto ghosts = array ? GhostAppRecord::listFromJson(*array) : std::nullopt;

    // ...and one of them (by the input's length) from the bytes, as the app
    // reads the engine's output: both ways agree.
    switch (size % 5) {
    case 0:
        FUZZ_CHECK(TrustSealRecord::decode(json) == seal, QStringLiteral("trust seal"));
        break;
    case 1:
        FUZZ_CHECK(BackupRecord::decode(json).has_value() == backup.has_value(), QStringLiteral("backup"));
        break;
    case 2:
        FUZZ_CHECK(AdoptFlow::Preview::decode(json) == preview, QStringLiteral("adopt preview"));
        break;
    case 3:
        FUZZ_CHECK(ProvenanceRecord::decodeList(json).has_value() == history.has_value(), QStringLiteral("provenance"));
        break;
    default:
        FUZZ_CHECK(GhostAppRecord::decodeList(json).has_value() == ghosts.has_value(), QStringLiteral("ghosts"));
        break;
    }

    // What the app derives from accepted records.
    if (seal)
        FUZZ_CHECK(object->value(QLatin1String("green_seal")).toBool() == seal->green_seal, QStringLiteral("green_seal"));
    if (backup && backup->backup_path)
        FUZZ_CHECK(backup->id() == *backup->backup_path, QStringLiteral("backup id"));
    if (history) {
        for (const ProvenanceRecord &entry : *history)
            FUZZ_CHECK(entry.id().startsWith(entry.bundle_id), entry.id());
    }
    if (preview) {
        const auto unsignedAllowed = AdoptFlow::confirmAvailability(*preview, true);
        const auto unsignedRefused = AdoptFlow::confirmAvailability(*preview, false);
        FUZZ_CHECK((unsignedAllowed == AdoptFlow::ConfirmAvailability::unsignedOverride)
                       == (unsignedRefused == AdoptFlow::ConfirmAvailability::refused),
                   QStringLiteral("confirmation"));
        (void)AdoptFlow::downgradeWarning(*preview);
        (void)AdoptFlow::noMatchMessage(preview->app_name.value_or(QString()), preview->reason);
        (void)AdoptFlow::terminalCommandToken(std::nullopt, preview->cask_token);
        (void)AdoptFlow::failedText(preview->app_name.value_or(QString()));
    }
    return 0;
}
