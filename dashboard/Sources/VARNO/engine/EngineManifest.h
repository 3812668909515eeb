#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The integrity check of the installed engine: cli-manifest.json, shipped in
// the app's resources beside the engine, lists the SHA-256 digest of every
// engine file ({"files": {"<path relative to ~/.varno>": "<64 hex digits>"}}),
// and each listed file under the install folder must have that digest.
namespace EngineManifest {

// The manifest among the app bundle's own resources, if the bundle has one.
std::optional<QString> bundledManifestPath();

// One listed file: its path relative to the install folder and its digest
// as the manifest writes it.
struct Entry {
    QString path;
    QString sha256;

    bool operator==(const Entry &) const = default;
};

// Reads a manifest's bytes. Throws CLIBootstrapError::hashMismatch for
// "(manifest)" when they are not JSON, or not an object whose "files" member
// maps paths to texts. A path must stay inside the install folder: relative,
// not empty, and without a "." or ".." component or an empty one.
QList<Entry> parse(const QByteArray &bytes);

// Checks installDir against the manifest. Throws CLIBootstrapError::hashMismatch
// naming the first file that is missing, unreadable or different, or
// "(manifest)" when the manifest itself is absent, unreadable or malformed.
void verify(const std::optional<QString> &manifestPath, const QString &installDir);

// 64 lower-case hexadecimal digits.
QString sha256Hex(const QByteArray &bytes);

} // namespace EngineManifest
