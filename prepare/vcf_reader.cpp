#include "prepare/vcf_reader.hpp"

#include <algorithm>
#include <cstdlib>
#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/kstring.h>
#include <htslib/vcf.h>
#include <new>
#include <sstream>
#include <unordered_set>

#include "files/checked_input.hpp"
#include "files/program_error.hpp"
#include "prepare/text_file.hpp"

struct VcfFile::Handles {
    htsFile* file = nullptr;
    bcf_hdr_t* header = nullptr;
    kstring_t line = KS_INITIALIZE;
    ~Handles()
    {
        ks_free(&line);
        if (header)
            bcf_hdr_destroy(header);
        if (file)
            hts_close(file);
    }
};

namespace {

bool is_base(const char* allele)
{
    return allele[0] && !allele[1] && (allele[0] == 'A' || allele[0] == 'C' || allele[0] == 'G' || allele[0] == 'T');
}

struct GtBuffer {
    int32_t* data = nullptr;
    int size = 0;
    ~GtBuffer() { std::free(data); }
};

// htslib refuses a header that names a sample twice without saying which;
// the header's text says it (a VCF's; a BCF's is binary, and gives "").
std::string repeated_sample(const std::string& path)
{
    htsFile* f = hts_open(path.c_str(), "r");
    if (!f)
        return "";
    kstring_t line = KS_INITIALIZE;
    std::string repeated;
    while (hts_getline(f, '\n', &line) >= 0 && line.l > 0 && line.s[0] == '#') {
        if (std::string(line.s, line.l).rfind("#CHROM", 0) != 0)
            continue;
        std::unordered_set<std::string> seen;
        std::istringstream fields(std::string(line.s, line.l));
        std::string field;
        for (int column = 0; std::getline(fields, field, '\t') && repeated.empty(); ++column)
            if (column >= 9 && !seen.insert(field).second)
                repeated = field;
        break;
    }
    ks_free(&line);
    hts_close(f);
    return repeated;
}

ProgramError no_end_block(const std::string& path)
{
    return ProgramError("the VCF file " + missing_end_block(path));
}

// BGZF ends with an empty block. Without it the file was cut short (or had
// something appended), and a cut between blocks reads as a complete shorter
// file. True when that can only be told at the end (the input is a pipe).
bool check_end_block(htsFile* file, const std::string& path)
{
    if (file->format.compression != bgzf)
        return false;
    switch (bgzf_check_EOF(file->fp.bgzf)) {
    case 1: return false;
    case 2: return true;
    case 0: throw no_end_block(path);
    default: throw ProgramError("cannot read the VCF file " + path);
    }
}

// Whether the compressed data have failed so far.
bool compressed_data_failed(htsFile* file)
{
    const htsCompression compression = file->format.compression;
    return (compression == gzip || compression == bgzf) && file->fp.bgzf->errcode;
}

// Whether the compressed data failed, here or further on. BGZF blocks are
// checked before their text is parsed; a plain gzip stream only at its end,
// so there damage first shows as text htslib cannot parse, and the rest of
// the stream is read to tell.
bool compressed_data_fail(htsFile* file)
{
    if (file->format.compression == gzip && !compressed_data_failed(file)) {
        std::vector<char> piece(std::size_t(1) << 16);
        while (bgzf_read(file->fp.bgzf, piece.data(), piece.size()) > 0) {
        }
    }
    return compressed_data_failed(file);
}

// Damage early in a compressed file can make it look like no VCF at all:
// throws FileError when the file's gzip data fail.
void read_through(const std::string& path)
{
    CheckedInput in(path);
    std::vector<char> piece(std::size_t(1) << 16);
    while (in.read(piece.data(), piece.size()) > 0) {
    }
}

// The first call of `gt` naming an allele the record does not have, or -1.
int foreign_allele(const int32_t* gt, int count, int alleles)
{
    for (int i = 0; i < count; ++i)
        if (gt[i] != bcf_int32_vector_end && !bcf_gt_is_missing(gt[i]) && bcf_gt_allele(gt[i]) >= alleles)
            return i;
    return -1;
}

}  // namespace

VcfFile::VcfFile(const std::string& path) : path_(path), handles_(std::make_unique<Handles>())
{
    hts_set_log_level(HTS_LOG_OFF);  // our one-line messages say what went wrong
    handles_->file = hts_open(path.c_str(), "r");
    if (!handles_->file)
        throw ProgramError("cannot open the VCF file " + path);
    const htsFormat* format = hts_get_format(handles_->file);
    if (format->format != vcf && format->format != bcf) {
        if (format->compression == gzip || format->compression == bgzf)
            read_through(path);
        throw ProgramError("the file " + path + " is not VCF or BCF");
    }
    checkEndBlockLater_ = check_end_block(handles_->file, path);
    handles_->header = bcf_hdr_read(handles_->file);
    if (!handles_->header) {
        if (compressed_data_fail(handles_->file))
            throw ProgramError("the VCF file " + path + " is damaged or cut short in its header");
        const std::string repeated = repeated_sample(path);
        if (!repeated.empty())
            throw ProgramError("the VCF file " + path + " names sample " + repeated + " twice");
        throw ProgramError("the VCF file " + path + " has a malformed header");
    }
    const int n = bcf_hdr_nsamples(handles_->header);
    if (n == 0)
        throw ProgramError("the VCF file " + path + " has no samples");
    std::unordered_set<std::string> seen;
    for (int i = 0; i < n; ++i) {
        samples_.emplace_back(handles_->header->samples[i]);
        if (!seen.insert(samples_.back()).second)
            throw ProgramError("the VCF file " + path + " names sample " + samples_.back() + " twice");
    }
    if (bcf_hdr_id2int(handles_->header, BCF_DT_ID, "GT") < 0 ||
        !bcf_hdr_idinfo_exists(handles_->header, BCF_HL_FMT, bcf_hdr_id2int(handles_->header, BCF_DT_ID, "GT")))
        throw ProgramError("the VCF file " + path + " declares no GT field");
}

VcfFile::~VcfFile() = default;

Genotypes VcfFile::read(const std::vector<std::size_t>& columns, const SnpFilter& filter)
{
    Genotypes out;
    SnpCounts& counts = out.counts;
    const std::unique_ptr<bcf1_t, void (*)(bcf1_t*)> owned(bcf_init(), bcf_destroy);
    if (!owned)
        throw std::bad_alloc();
    bcf1_t* record = owned.get();
    GtBuffer gt;
    std::vector<std::uint8_t> classes(columns.size());
    const int samples = static_cast<int>(samples_.size());
    std::size_t number = 0;
    std::unordered_set<int> seenContigs;
    while (next(record, ++number)) {
        bcf_unpack(record, BCF_UN_STR);
        const char* chrom = bcf_seqname(handles_->header, record);
        if (seenContigs.insert(record->rid).second)
            out.contigs.emplace_back(chrom);
        const long pos = static_cast<long>(record->pos) + 1;
        if (!filter.region.chrom.empty() &&
            (filter.region.chrom != chrom || pos < filter.region.from || pos > filter.region.to)) {
            ++counts.outside_region;
            continue;
        }
        if (record->n_allele > 2) {
            ++counts.multi_allelic;
            continue;
        }
        if (record->n_allele != 2 || !is_base(record->d.allele[0]) || !is_base(record->d.allele[1])) {
            ++counts.not_snv;
            continue;
        }
        // htslib ends the process on GT data that are not integers (a header
        // or a BCF record typing them otherwise): such a record is malformed.
        const bcf_fmt_t* gtField = bcf_get_fmt(handles_->header, record, "GT");
        if (gtField && (gtField->type < BCF_BT_INT8 || gtField->type > BCF_BT_INT32))
            refuse_record(number, "the VCF file " + path_ + " record " + std::to_string(number) + " is malformed");
        const int got = bcf_get_genotypes(handles_->header, record, &gt.data, &gt.size);
        if (got <= 0) {
            ++counts.missing_call;
            continue;
        }
        const int ploidy = got / samples;
        // A call of an allele the record lacks (a tool dropped ALT alleles
        // and left GT as it was): the file is broken, whatever it stands for.
        const int foreign = foreign_allele(gt.data, got, record->n_allele);
        if (foreign >= 0)
            refuse_record(number, record_name(record, number) + ": sample " +
                                      samples_[static_cast<std::size_t>(foreign / ploidy)] + " is called with allele " +
                                      std::to_string(bcf_gt_allele(gt.data[foreign])) +
                                      ", which the record does not have (its alleles are 0 to " +
                                      std::to_string(record->n_allele - 1) + ")");
        bool missing = false, not_diploid = false;
        std::size_t class_count[3] = {0, 0, 0};
        for (std::size_t k = 0; k < columns.size(); ++k) {
            const int32_t* call = gt.data + static_cast<long>(columns[k]) * ploidy;
            if (ploidy < 2 || call[1] == bcf_int32_vector_end || (ploidy > 2 && call[2] != bcf_int32_vector_end)) {
                not_diploid = true;
                break;
            }
            if (bcf_gt_is_missing(call[0]) || bcf_gt_is_missing(call[1])) {
                missing = true;
                break;
            }
            classes[k] = static_cast<std::uint8_t>((bcf_gt_allele(call[0]) != 0) + (bcf_gt_allele(call[1]) != 0));
            ++class_count[classes[k]];
        }
        if (not_diploid || missing) {
            ++(not_diploid ? counts.not_diploid : counts.missing_call);
            continue;
        }
        if (*std::min_element(class_count, class_count + 3) < filter.min_class) {
            ++counts.below_min_class;
            continue;
        }
        const double alt = static_cast<double>(class_count[1] + 2 * class_count[2]) / (2.0 * columns.size());
        if (std::min(alt, 1 - alt) < filter.maf) {
            ++counts.below_maf;
            continue;
        }
        ++counts.kept;
        if (*std::min_element(class_count, class_count + 3) < 3)
            ++counts.small_class;
        Snp snp{record->d.id, chrom, pos, record->d.allele[0][0], record->d.allele[1][0]};
        if (snp.id == ".")
            snp.id = snp.chrom + ":" + std::to_string(pos) + ":" + snp.ref + ":" + snp.alt;
        out.snps.push_back(std::move(snp));
        out.classes.insert(out.classes.end(), classes.begin(), classes.end());
    }
    return out;
}

std::string VcfFile::record_name(const bcf1_t* record, std::size_t number) const
{
    return "the VCF file " + path_ + " record " + std::to_string(number) + " (" +
           bcf_seqname_safe(handles_->header, record) + ":" + std::to_string(record->pos + 1) + ")";
}

bool VcfFile::next(bcf1_t* record, std::size_t number)
{
    htsFile* file = handles_->file;
    int status;
    std::size_t columns = 0;
    if (file->format.format == vcf) {
        // The line itself rather than bcf_read: htslib ignores columns beyond
        // the header's samples (and its parser overwrites the tabs).
        kstring_t& line = handles_->line;
        status = hts_getline(file, '\n', &line);
        if (status >= 0) {
            columns = static_cast<std::size_t>(std::count(line.s, line.s + line.l, '\t')) + 1;
            status = vcf_parse(&line, handles_->header, record) == 0 ? 0 : -2;
        }
    } else
        status = bcf_read(file, handles_->header, record);
    // When a block fails, htslib hands over the start of a line cut by it
    // as a whole line, and then reports the end of the file.
    if (compressed_data_failed(file))
        throw damaged(number);
    if (status == -1) {
        if (checkEndBlockLater_ && !file->fp.bgzf->last_block_eof)
            throw no_end_block(path_);
        return false;
    }
    // htslib invents header lines for undeclared contigs and tags; the record itself is sound.
    if (status < -1 || (record->errcode & ~(BCF_ERR_CTG_UNDEF | BCF_ERR_TAG_UNDEF))) {
        // A BCF record is binary: unreadable, it is damage, not a typing error.
        if (file->format.format == bcf)
            throw damaged(number);
        refuse_record(number, "the VCF file " + path_ + " record " + std::to_string(number) + " is malformed");
    }
    if (columns > 9 + samples_.size())
        refuse_record(number, record_name(record, number) + " has " + std::to_string(columns - 9) +
                                  " sample columns, the header names " + std::to_string(samples_.size()));
    return true;
}

ProgramError VcfFile::damaged(std::size_t number) const
{
    return ProgramError("the VCF file " + path_ + " is damaged or cut short: reading stopped at record " +
                        std::to_string(number));
}

void VcfFile::refuse_record(std::size_t number, const std::string& message)
{
    if (compressed_data_fail(handles_->file))
        throw damaged(number);
    throw ProgramError(message);
}
