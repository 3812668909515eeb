// The engine manifest reader (EngineManifest::parse). It refuses with the
// manifest's own integrity error or returns the listed files; what it
// returns is exactly the "files" object of a JSON object, and every path
// names a file inside the install folder.
#include "FuzzSupport.h"

#include "engine/CLIBootstrapError.h"
#include "engine/EngineManifest.h"

#include <QJsonDocument>
#include <QJsonObject>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Fuzz::quietQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QList<EngineManifest::Entry> entries;
    try {
        entries = EngineManifest::parse(bytes);
    } catch (const CLIBootstrapError &error) {
        FUZZ_CHECK(error.kind() == CLIBootstrapError::Kind::hashMismatch, error.errorDescription());
        FUZZ_CHECK(error.file() == QLatin1String("(manifest)"), error.errorDescription());
        FUZZ_CHECK(!error.errorDescription().isEmpty() && error.errorDescription().size() < 200,
                   error.errorDescription());
        return 0;
    }

    const QJsonObject files = QJsonDocument::fromJson(bytes).object().value(QLatin1String("files")).toObject();
    FUZZ_CHECK(entries.size() == files.size(), QStringLiteral("%1 entries of %2").arg(entries.size()).arg(files.size()));
    for (const EngineManifest::Entry &entry : entries) {
        FUZZ_CHECK(files.value(entry.path) == entry.sha256, entry.path);
        FUZZ_CHECK(!entry.path.isEmpty() && !entry.path.startsWith(QLatin1Char('/')), entry.path);
        for (const QStringView part : QStringView(entry.path).split(QLatin1Char('/')))
            FUZZ_CHECK(!part.isEmpty() && part != QLatin1String("..") && part != QLatin1String("."), entry.path);
    }
    return 0;
}
