#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "files/manifest.hpp"

// A file written under a temporary name, and the name it is to have.
struct Replacement {
    std::string temporary, final;
};

using RenameFile = std::function<int(const char* from, const char* to)>;

// Renames every temporary over its final name, all or none. Each existing
// final file is first linked to a hidden backup name beside it; when a
// rename fails, those done are undone (the old file back from its backup, a
// new file that had none removed), so the folder holds the old set whole.
// The backups go at the end. `rename` is std::rename but in tests. Throws
// FileError, also when a final name exists as other than a regular file.
void replace_together(const std::vector<Replacement>& files, const RenameFile& rename = std::rename);

// The files of one output folder: each written under a hidden temporary
// name, then all renamed into place together, so that the folder always
// holds one whole set, the old one or the new one.
class OutputSet {
public:
    using Put = std::function<void(const std::string&)>;

    // Refuses (FileError) when an output name in `dir` exists as other than
    // a regular file; writes nothing.
    OutputSet(const std::string& dir, const std::vector<std::string>& names);
    ~OutputSet();  // removes the temporaries unless committed
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Writes the temporary of `name` (the folder is created first if need
    // be): `fill` hands each piece to `put`. Throws ProgramError.
    void write(const std::string& name, const std::function<void(const Put&)>& fill);
    // {"NAME": {"path", "size", "checksum"}} of each file written so far.
    Manifest outputs() const;
    // Renames them all into place (replace_together).
    void commit();

private:
    struct Written {
        std::string name;
        std::uint64_t size;
        std::string checksum;
    };
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string temporary(const std::string& name) const { return dir_ + "/." + name + ".tmp"; }

    std::string dir_;
    std::vector<Written> written_;
    bool committed_ = false;
};
