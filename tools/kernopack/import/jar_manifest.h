// The manifest of a jar (a zip archive): its Main-Class and Class-Path.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "import/java_command.h"

// Reads `size` bytes at `offset` of the archive into `out`; false when the
// archive is shorter or cannot be read.
using ArchiveReader = std::function<bool(uint64_t offset, size_t size, std::string& out)>;

// Largest manifest read, compressed or not.
inline constexpr size_t kMaxManifestBytes = 1u << 20;
// Largest central directory read.
inline constexpr size_t kMaxCentralDirectoryBytes = 64u << 20;

// Finds META-INF/MANIFEST.MF in an archive of `archiveSize` bytes (stored or
// deflated) and reads its main section.
JarManifest readJarManifest(uint64_t archiveSize, const ArchiveReader& read);

// The main section of a manifest: continuation lines (one leading space)
// joined, names compared without case, Class-Path split at spaces with %20
// and other URL escapes decoded.
JarManifest parseManifest(std::string_view text);
