// Fuzz target: morv-prepare's readers. The first input byte picks the reader
// (bit 0 set: the VCF reader on every sample; clear: the expression table,
// then gene selection on every column with the scale of bits 1-2 and, when
// bit 7 is set, the rank transform, which must keep every gene's order), the form
// of the file (bits 3-4: plain, gzip, BGZF, plain) and, when compressed, damage
// done to it (bits 5-6: none, cut, a flipped byte, bytes appended). The
// target compresses the text itself; for a compressed form bytes 1-2 give
// the offset of the damage, byte 3 where in the text BGZF ends its first
// block (in 256ths), and the text follows; for the plain form the text
// follows byte 0. A file cut short or with bytes appended must be refused;
// one with a flipped byte refused, or read as if whole.
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstdint>
#include <fstream>
#include <htslib/bgzf.h>
#include <iterator>
#include <numeric>
#include <string>
#include <zlib.h>

#include "files/checked_input.hpp"
#include "files/file_error.hpp"
#include "files/program_error.hpp"
#include "fuzz/invariant.hpp"
#include "fuzz/scratch_files.hpp"
#include "prepare/expression_table.hpp"
#include "prepare/transform.hpp"
#include "prepare/vcf_reader.hpp"

namespace {

enum Form { plain, gzip_form, bgzf_form };
enum Damage { none, cut, flip, append };

std::vector<std::size_t> all_columns(std::size_t count)
{
    std::vector<std::size_t> columns(count);
    std::iota(columns.begin(), columns.end(), 0);
    return columns;
}

// The written values, as morv reads them, in the order of the file's.
void require_same_order(const KeptGenes& kept)
{
    for (std::size_t g = 0; g < kept.rows.size(); ++g) {
        const std::vector<double>& raw = kept.raw[g];
        std::vector<double> read;
        for (const std::string& token : kept.values[g])
            read.push_back(std::log10(std::strtod(token.c_str(), nullptr)));
        for (std::size_t i = 0; i < raw.size(); ++i)
            for (std::size_t j = 0; j < raw.size(); ++j)
                require((raw[i] < raw[j]) == (read[i] < read[j]) && (raw[i] == raw[j]) == (read[i] == read[j]),
                        "the rank transform keeps each gene's order and ties");
    }
}

// What each reader made of the file, to compare.
std::string expression(const std::string& text, Scale scale, bool ranks = false)
{
    const ExpressionTable table = parse_expression(text, "fuzz");
    for (const Gene& gene : table.genes)
        require(gene.values.size() == table.samples.size(), "every row as wide as the header");
    KeptGenes kept = select_genes(table, all_columns(table.samples.size()), {}, scale, ranks);
    if (ranks) {
        transform_genes(kept, ValueSettings{Transform::inverse_normal});
        require_same_order(kept);
    }
    require(kept.rows.size() == kept.counts.kept && kept.values.size() == kept.rows.size(), "kept genes counted");
    std::string seen = std::to_string(table.genes.size()) + " genes\n";
    for (std::size_t k = 0; k < kept.rows.size(); ++k) {
        seen += table.genes[kept.rows[k]].id;
        for (const std::string& value : kept.values[k])
            seen += "\t" + value;
        seen += "\n";
    }
    return seen;
}

std::string vcf(const std::string& path)
{
    VcfFile file(path);
    const Genotypes g = file.read(all_columns(file.samples().size()), SnpFilter{});
    require(g.classes.size() == g.snps.size() * file.samples().size(), "one class per kept call");
    for (const std::uint8_t c : g.classes)
        require(c <= 2, "a class is 0, 1 or 2");
    const SnpCounts& n = g.counts;
    std::string seen = std::to_string(n.multi_allelic) + " " + std::to_string(n.not_snv) + " " +
                       std::to_string(n.missing_call) + " " + std::to_string(n.not_diploid) + "\n";
    for (const Snp& snp : g.snps)
        seen += snp.id + "\t" + snp.chrom + "\t" + std::to_string(snp.pos) + "\t" + snp.ref + snp.alt + "\n";
    return seen.append(g.classes.begin(), g.classes.end());
}

// What the reader made of the file, or "" when it refused it (as the
// program would, printing the message).
std::string outcome(bool isVcf, Scale scale, const std::string& bytes)
{
    try {
        const std::string path = write_scratch(isVcf ? "input.vcf" : "input.tsv", bytes);
        return isVcf ? vcf(path) : expression(read_checked_text(path), scale);
    } catch (const ProgramError&) {
    } catch (const FileError&) {
    }
    return "";
}

std::string gzip(const std::string& text)
{
    z_stream z{};
    require(deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK,
            "deflate starts");
    std::string out(deflateBound(&z, text.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    require(deflate(&z, Z_FINISH) == Z_STREAM_END, "deflate ends");
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Two blocks, the first ending at `split` 256ths of the text, and the
// end-of-file block.
std::string bgzf(const std::string& text, unsigned split256)
{
    const std::string path = write_scratch("bgzf", nullptr, 0);
    BGZF* file = bgzf_open(path.c_str(), "w");
    const std::size_t split = text.size() * split256 / 256;
    require(file && bgzf_write(file, text.data(), split) >= 0 && bgzf_flush(file) == 0 &&
                bgzf_write(file, text.data() + split, text.size() - split) >= 0 && bgzf_close(file) == 0,
            "BGZF written");
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string damaged(std::string bytes, Damage damage, std::size_t offset)
{
    if (damage == cut)
        bytes.resize(offset);
    else if (damage == flip)
        bytes[offset] = static_cast<char>(bytes[offset] ^ 0x10);
    else if (damage == append)
        bytes += "junk\n";
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const NoFileLeftOpen files;
    if (size == 0)
        return 0;
    const bool isVcf = data[0] % 2;
    const auto scale = static_cast<Scale>(data[0] / 2 % 4);
    const auto form = static_cast<Form>((data[0] >> 3 & 3) % 3);
    const auto damage = static_cast<Damage>(data[0] >> 5 & 3);
    const std::size_t head = form == plain ? 1 : 4;
    if (size < head)
        return 0;
    const std::string text(reinterpret_cast<const char*>(data + head), size - head);
    if (form == plain && !isVcf) {
        try {
            expression(text, scale, data[0] >> 7);
        } catch (const ProgramError&) {
        }
        return 0;
    }
    if (form == plain) {
        outcome(isVcf, scale, text);
        return 0;
    }
    const std::string whole = form == gzip_form ? gzip(text) : bgzf(text, data[3]);
    if (damage == none) {
        outcome(isVcf, scale, whole);
        return 0;
    }
    const std::size_t offset = (data[1] | data[2] << 8) % whole.size();
    const std::string seen = outcome(isVcf, scale, damaged(whole, damage, offset));
    require(seen.empty() || damage == flip, "a compressed file cut short or appended to is refused");
    // Without its magic number the file is no longer gzip but other bytes,
    // judged as they are (here the table alone; the program then finds no
    // sample of the VCF in it).
    if (offset >= 2)
        require(seen.empty() || seen == outcome(isVcf, scale, whole), "a flipped byte is refused or changes nothing");
    return 0;
}
