#include "files/manifest.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>

#include "files/checked_input.hpp"
#include "files/file_error.hpp"
#include "files/output_path.hpp"

std::string manifest_path(const std::string& file)
{
    return file + ".manifest.json";
}

std::string utc_now()
{
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

Manifest begin_manifest(const std::string& program, int argc, const char* const* argv)
{
    Manifest m;
    m["format"] = kManifestFormat;
    m["program"] = program;
    m["version"] = build_version();
    Manifest command = Manifest::array();
    for (int i = 0; i < argc; ++i)
        command.push_back(argv[i]);
    m["command"] = command;
    m["started"] = utc_now();
    return m;
}

std::string absolute_path(const std::string& path)
{
    std::error_code ignored;  // then the path as given
    return std::filesystem::absolute(path, ignored).lexically_normal().string();
}

Manifest facts_json(const FileFacts& facts)
{
    Manifest f;
    f["path"] = absolute_path(facts.path);
    if (!facts.regular) {
        f["regular"] = false;
        return f;
    }
    f["size"] = facts.size;
    f["checksum"] = facts.checksum;
    return f;
}

bool same_contents(const Manifest& a, const Manifest& b)
{
    return a.is_object() && b.is_object() && a.contains("checksum") && a.value("size", Manifest()) == b.value("size", Manifest()) &&
           a.value("checksum", Manifest()) == b.value("checksum", Manifest());
}

std::string describe_contents(const Manifest& f)
{
    if (!f.is_object())
        return "?";
    return f.value("path", "?") + " (" + std::to_string(f.value("size", std::uint64_t(0))) + " bytes, checksum " +
           f.value("checksum", "?") + ")";
}

std::string manifest_text(const Manifest& manifest)
{
    // Invalid UTF-8 in a path or argument is replaced, not a reason to fail.
    return manifest.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

void write_manifest(const std::string& path, const Manifest& manifest)
{
    write_file_atomically(path, manifest_text(manifest), "the manifest");
}

bool read_manifest(const std::string& file, Manifest& m)
{
    return read_manifest_at(manifest_path(file), m);
}

bool read_manifest_at(const std::string& path, Manifest& m)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (errno == ENOENT)
            return false;
        throw FileError("cannot examine " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode))
        throw FileError(path + " is not a regular file, so not a manifest");
    try {
        m = Manifest::parse(read_checked_text(path));
        if (m.is_object() && m.value("format", "") == kManifestFormat)
            return true;
    } catch (const nlohmann::json::exception&) {
        throw FileError(path + " is not a manifest: it is not JSON of the form morv writes");
    }
    throw FileError(path + " is not a manifest of this version (\"format\": \"" + kManifestFormat + "\")");
}

void throw_bad_field(const char* key, const std::string& path)
{
    throw FileError(path + ": \"" + key + "\" is missing or not what morv writes there");
}
