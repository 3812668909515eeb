#pragma once

#include <QString>

#include <optional>

// The integrity check of the installed engine: cli-manifest.json, shipped in
// the app's resources beside the engine, lists the SHA-256 digest of every
// engine file ({"files": {"<path relative to ~/.varno>": "<64 hex digits>"}}),
// and each listed file under the install folder must have that digest.
namespace CLIManifest {

// The manifest among the app bundle's own resources, if the bundle has one.
std::optional<QString> bundledManifestPath();

// Checks installDir against the manifest. Throws CLIBootstrapError::hashMismatch
// naming the first file that is missing, unreadable or different, or
// "(manifest)" when the manifest itself is absent, unreadable or malformed.
void verify(const std::optional<QString> &manifestPath, const QString &installDir);

// 64 lower-case hexadecimal digits.
QString sha256Hex(const QByteArray &bytes);

} // namespace CLIManifest
