#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "files/checksum.hpp"

// A manifest ties a result to what made it: which program and version, the
// command line, every input's path, size and checksum, the settings, what
// was written and when. It sits beside the file it describes as
// `<file>.manifest.json` (beside a folder: inside it, `manifest.json`), is
// written under a temporary name and renamed, and is read back by the
// programs that use the file, which refuse inputs that do not belong
// together. Keys keep the order they are written in, for people reading it.
using Manifest = nlohmann::ordered_json;

constexpr const char* kManifestFormat = "morv-manifest 1";

std::string manifest_path(const std::string& file);

// The program's version as `git describe` gave it when it was built.
const char* build_version();

// "2026-12-07T05:20:56Z"
std::string utc_now();

// format, program, version, command (argv as given), started.
Manifest begin_manifest(const std::string& program, int argc, const char* const* argv);

// The path a manifest records: absolute and without "." or "..", so that it
// still names the file when read from another folder.
std::string absolute_path(const std::string& path);

// {"path", "size", "checksum"}; a FIFO or device has "regular": false instead.
Manifest facts_json(const FileFacts& facts);

// Whether two facts_json entries name the same bytes (both with a checksum,
// equal size and checksum), and one as a reader sees it: "PATH (N bytes,
// checksum C)".
bool same_contents(const Manifest& a, const Manifest& b);
std::string describe_contents(const Manifest& facts);

// The text write_manifest writes, for a manifest that is renamed into place
// together with the files it describes.
std::string manifest_text(const Manifest& manifest);

// Written atomically; throws FileError (the path must be free or a regular file).
void write_manifest(const std::string& path, const Manifest& manifest);

// The manifest of `file` into `m`; false when it has none. Throws FileError
// when there is one but it is not a manifest of this format.
bool read_manifest(const std::string& file, Manifest& m);

// The same for the manifest at `path` itself (a folder's: DIR/manifest.json).
bool read_manifest_at(const std::string& path, Manifest& m);

// A field of a manifest that was read, as type T: throws FileError naming
// the manifest when it is missing or of another type, so readers need not
// check each one.
[[noreturn]] void throw_bad_field(const char* key, const std::string& path);

template <class T>
T manifest_get(const Manifest& m, const char* key, const std::string& path)
{
    const auto it = m.find(key);
    try {
        if (it != m.end())
            return it->template get<T>();
    } catch (const nlohmann::json::exception&) {
    }
    throw_bad_field(key, path);
}
