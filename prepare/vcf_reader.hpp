#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "files/program_error.hpp"

typedef struct bcf1_t bcf1_t;

// Genotypes from a VCF or BCF file, plain or bgzipped, read record by record.

struct Region {
    std::string chrom;  // empty: the whole file
    long from = 0, to = 0;  // 1-based, inclusive; a whole contig is 1 to LONG_MAX
};

struct SnpFilter {
    Region region;
    std::size_t min_class = 10;  // every class needs at least this many samples
    double maf = 0;             // minor allele frequency at least this
};

struct Snp {
    std::string id, chrom;
    long pos = 0;
    char ref = 0, alt = 0;
};

struct SnpCounts {
    std::size_t kept = 0, multi_allelic = 0, not_snv = 0, missing_call = 0, not_diploid = 0, outside_region = 0,
                below_min_class = 0, below_maf = 0, small_class = 0;  // small_class: kept, a class under 3
};

// One byte per kept call, SNP-major: classes[snp * samples + sample] is the
// number of ALT alleles (0, 1, 2). The genotype file wants sample-major lines,
// so the calls are held and transposed at the end.
struct Genotypes {
    std::vector<Snp> snps;
    std::vector<std::uint8_t> classes;
    SnpCounts counts;
    std::vector<std::string> contigs;  // those of the records, skipped or not, in order of first appearance
};

class VcfFile {
public:
    explicit VcfFile(const std::string& path);  // opens and reads the header
    ~VcfFile();
    VcfFile(const VcfFile&) = delete;
    VcfFile& operator=(const VcfFile&) = delete;
    const std::vector<std::string>& samples() const { return samples_; }
    // Streams every record; `columns` are the kept samples' VCF columns.
    Genotypes read(const std::vector<std::size_t>& columns, const SnpFilter& filter);

private:
    // Reads the next record into `record` (its number counts from 1): false at
    // the end. Throws ProgramError when the file is damaged or the record malformed.
    bool next(bcf1_t* record, std::size_t number);
    std::string record_name(const bcf1_t* record, std::size_t number) const;  // "the VCF file F record N (chrom:pos)"
    // Throws `message`, or that the file is damaged when its compressed data fail.
    [[noreturn]] void refuse_record(std::size_t number, const std::string& message);
    ProgramError damaged(std::size_t number) const;  // the file is damaged or cut short

    struct Handles;
    std::string path_;
    std::unique_ptr<Handles> handles_;
    std::vector<std::string> samples_;
    bool checkEndBlockLater_ = false;  // BGZF through a pipe: its end-of-file block is checked at the end
};
