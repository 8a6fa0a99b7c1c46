#include "prepare/output_set.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "files/checksum.hpp"
#include "files/file_error.hpp"
#include "files/output_path.hpp"
#include "files/program_error.hpp"

namespace {

std::string backup_name(const std::string& final)
{
    const std::filesystem::path p(final);
    return (p.parent_path() / ("." + p.filename().string() + ".old")).string();
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void remove_backups(const std::vector<std::string>& backups)
{
    for (const std::string& b : backups)
        if (!b.empty())
            ::unlink(b.c_str());
}

// A second name for each existing final file ("" where there is none), so
// that the old file outlives its replacement until the set is complete.
std::vector<std::string> keep_old_files(const std::vector<Replacement>& files)
{
    std::vector<std::string> backups(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!exists(files[i].final))
            continue;
        const std::string backup = backup_name(files[i].final);
        ::unlink(backup.c_str());  // left by a run that was killed while renaming
        if (::link(files[i].final.c_str(), backup.c_str()) != 0) {
            const int e = errno;
            remove_backups(backups);
            throw FileError("cannot keep the old " + files[i].final + " as " + backup + " while it is replaced: " +
                            std::strerror(e));
        }
        backups[i] = backup;
    }
    return backups;
}

// Undoes the first `done` renames: each old file back from its backup, each
// new file that had none removed. Returns the names that could not be put
// back (their backups stay).
std::string put_back(const std::vector<Replacement>& files, std::vector<std::string>& backups, std::size_t done,
                     const RenameFile& rename)
{
    std::string stuck;
    for (std::size_t i = 0; i < done; ++i) {
        const std::string& final = files[i].final;
        if (backups[i].empty() ? ::unlink(final.c_str()) == 0 : rename(backups[i].c_str(), final.c_str()) == 0)
            backups[i].clear();
        else
            stuck += (stuck.empty() ? "" : ", ") + final + " (" + std::strerror(errno) + ")";
    }
    return stuck;
}

}  // namespace

void replace_together(const std::vector<Replacement>& files, const RenameFile& rename)
{
    for (const Replacement& f : files)
        check_replaceable(f.final, "the output file");
    std::vector<std::string> backups = keep_old_files(files);
    std::size_t done = 0;
    while (done < files.size() && rename(files[done].temporary.c_str(), files[done].final.c_str()) == 0)
        ++done;
    if (done == files.size()) {
        remove_backups(backups);
        return;
    }
    const std::string failure =
        "cannot rename " + files[done].temporary + " to " + files[done].final + ": " + std::strerror(errno);
    for (std::size_t i = done; i < files.size(); ++i)
        if (!backups[i].empty())
            ::unlink(backups[i].c_str());  // never replaced: the old file is still in place
    const std::string stuck = put_back(files, backups, done, rename);
    if (!stuck.empty())
        throw FileError(failure + "; and " + stuck + " could not be put back: the folder holds a mixed set, the "
                        "old files under hidden names ending in .old");
    throw FileError(failure + "; the old files are left as they were");
}

OutputSet::OutputSet(const std::string& dir, const std::vector<std::string>& names) : dir_(dir)
{
    while (dir_.size() > 1 && dir_.back() == '/')
        dir_.pop_back();
    std::error_code ec;
    if (!std::filesystem::is_directory(dir_, ec))
        return;  // nothing to replace; write() says when it cannot be created
    for (const std::string& name : names)
        check_replaceable(path(name), "the output file");
}

OutputSet::~OutputSet()
{
    if (!committed_)
        for (const Written& w : written_)
            std::remove(temporary(w.name).c_str());
}

void OutputSet::write(const std::string& name, const std::function<void(const Put&)>& fill)
{
    if (written_.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(dir_, ec);
        if (ec || !std::filesystem::is_directory(dir_))
            throw ProgramError("cannot create the output folder " + dir_);
    }
    // The hidden name is ours: whatever has it (left by a killed run) goes,
    // and "x" makes sure no link or FIFO put there in between is followed.
    const std::string temp = temporary(name);
    ::unlink(temp.c_str());
    std::FILE* file = std::fopen(temp.c_str(), "wx");
    if (!file)
        throw ProgramError("cannot write " + temp);
    Written w{name, 0, ""};
    Checksum sum;
    bool ok = true;
    try {
        fill([&](const std::string& text) {
            ok = ok && std::fwrite(text.data(), 1, text.size(), file) == text.size();
            sum.add(text.data(), text.size());
            w.size += text.size();
        });
    } catch (...) {
        std::fclose(file);
        std::remove(temp.c_str());
        throw;
    }
    ok = std::fclose(file) == 0 && ok;
    if (!ok) {
        std::remove(temp.c_str());
        throw ProgramError("cannot write " + temp);
    }
    w.checksum = sum.hex();
    written_.push_back(std::move(w));
}

Manifest OutputSet::outputs() const
{
    Manifest m = Manifest::object();
    for (const Written& w : written_)
        m[w.name] = {{"path", path(w.name)}, {"size", w.size}, {"checksum", w.checksum}};
    return m;
}

void OutputSet::commit()
{
    std::vector<Replacement> files;
    for (const Written& w : written_)
        files.push_back({temporary(w.name), path(w.name)});
    replace_together(files);
    committed_ = true;
}
