// workflow/Snakefile run for real: the SNPs scanned in shards and merged must
// give the bytes of one morv run over all of them, from morv's own inputs and
// from a VCF through morv-prepare.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "tests/support.hpp"

namespace {

using namespace testsupport;

const std::string kBin = std::filesystem::path(MORV_BIN).parent_path().string();

RunResult run_tool(std::vector<std::string> argv, const std::string& input = "")
{
    argv.insert(argv.begin(), "env");
    return run("/usr/bin/env", argv, input);
}

bool have_snakemake()
{
    return std::system("command -v snakemake >/dev/null 2>&1") == 0;
}

// snakemake on the workflow, its bookkeeping kept in `dir`; `env` (NAME=VALUE)
// and `options` before --config, `config` (KEY=VALUE) after it.
RunResult snakemake(const TempDir& dir, const std::vector<std::string>& config,
                    const std::vector<std::string>& env = {},
                    const std::vector<std::string>& options = {"--cores", "2"})
{
    std::vector<std::string> argv = env;
    argv.insert(argv.end(),
                {"snakemake", "-s", MORV_SOURCE_DIR "/workflow/Snakefile", "--directory", dir.path, "--quiet"});
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"--config", "bin=" + kBin});
    argv.insert(argv.end(), config.begin(), config.end());
    return run_tool(argv);
}

// The workflow on `config`, which must succeed; its standard error to `err`
// if given.
void run_workflow(const TempDir& dir, const std::vector<std::string>& config, std::string* err = nullptr)
{
    if (!have_snakemake())
        GTEST_SKIP() << "snakemake is not installed (tools/install-deps.sh installs it)";
    const RunResult r = snakemake(dir, config);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    if (err)
        *err = r.err;
}

// Shell scripts named like SLURM's commands in dir/bin; returns the PATH=
// that puts them first.
std::string stub_commands(const TempDir& dir, const std::map<std::string, std::string>& scripts)
{
    std::filesystem::create_directories(dir.file("bin"));
    for (const auto& [name, body] : scripts) {
        dir.write("bin/" + name, "#!/bin/sh\n" + body + "\n");
        std::filesystem::permissions(dir.file("bin/" + name), std::filesystem::perms::owner_all);
    }
    return "PATH=" + dir.file("bin") + ":" + std::getenv("PATH");
}

// One morv run over every SNP: the result file and morv's last two lines.
std::pair<std::string, std::string> one_run(const Inputs& in, const std::string& threshold, const std::string& output,
                                            const std::vector<std::string>& options = {})
{
    std::vector<std::string> argv = morv_argv(in, output);
    argv.insert(argv.begin() + 1, options.begin(), options.end());
    const RunResult r = run(MORV_BIN, argv, threshold + "\n");
    EXPECT_EQ(r.status, 0) << r.err;
    const auto counts = r.out.find("#pairs: ");
    return {read_file(output), counts == std::string::npos ? r.out : r.out.substr(counts)};
}

// Seven SNPs, first line 4 * 7 + 1 characters long (trailing separator and
// carriage return): 3 shards of 3, 2 and 2 SNPs, each with its share of the
// permutations, whose merged histogram must be one run's.
TEST(Workflow, ShardsMergeToOneRun)
{
    const TempDir dir;
    const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "40 7 6 1 --crlf --trailing-separator --random-effects 0.5");
    run_workflow(dir, {"genotype=" + in.geno, "expression=" + in.expr, "allele=" + in.allele, "threshold=0.05",
                       "shards=3", "threads=1", "report=true", "permutations=2", "seed=7", "out=" + dir.file("out")});
    if (HasFatalFailure() || IsSkipped())
        return;
    const auto [results, counts] = one_run(in, "0.05", dir.file("one.txt"),
                                           {"--histogram", dir.file("one.hist"), "--permutations", "2", "--seed", "7"});
    EXPECT_EQ(read_file(dir.file("out/results.txt")), results);
    EXPECT_EQ(read_file(dir.file("out/results.txt.hist")), read_file(dir.file("one.hist")));
    EXPECT_EQ(lines_of(read_file(dir.file("out/fdr.tsv"))).size(), 5u);
    EXPECT_EQ(read_file(dir.file("out/logs/merge.log")), counts);
    EXPECT_EQ(lines_of(read_file(dir.file("out/results.txt.shard"))).at(1), "snps 0-6");
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/shards/shard_2.txt")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/qq.png")));
}

// A study from its VCF, with more shards asked for than it has SNPs, the
// options passed on, and the report at the end, without the QQ plot that
// --omit-pruned results cannot give.
TEST(Workflow, StudyFromVcfWithReport)
{
    const TempDir dir;
    const int samples = 24, snps = 4, genes = 4;
    std::string vcf = "##fileformat=VCFv4.2\n##contig=<ID=1>\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"GT\">\n"
                      "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT",
                matrix = "gene";
    for (int s = 0; s < samples; ++s) {
        vcf += "\tS" + std::to_string(s);
        matrix += "\tS" + std::to_string(s);
    }
    const char* calls[] = {"\t0/0", "\t0/1", "\t1/1"};
    for (int j = 0; j < snps; ++j) {
        vcf += "\n1\t" + std::to_string(100 * (j + 1)) + "\trs" + std::to_string(j) + "\tA\tG\t.\t.\t.\tGT";
        for (int s = 0; s < samples; ++s)
            vcf += calls[(s * (j + 1) + s / 3) % 3];
    }
    for (int g = 0; g < genes; ++g) {
        matrix += "\ng" + std::to_string(g);
        for (int s = 0; s < samples; ++s)
            matrix += "\t" + std::to_string(1 + (s * (g + 3) + g * s % 5) % 17);
    }
    std::string err;
    run_workflow(dir, {"vcf=" + dir.write("s.vcf", vcf + "\n"), "expression_matrix=" + dir.write("m.tsv", matrix + "\n"),
                       "threshold=0.5", "shards=9", "threads=2", "bgzip=true", "omit_pruned=true",
                       "annotate_args=--flags 2", "prepare_args=--min-class 3", "out=" + dir.file("out")},
                 &err);
    if (HasFatalFailure() || IsSkipped())
        return;
    EXPECT_NE(err.find("omit_pruned: no QQ plot"), std::string::npos) << err;
    const std::string prepared = dir.file("out/prepared/");
    const Inputs in{prepared + "genotype.txt", prepared + "expression.txt", prepared + "allele.txt"};
    const auto [results, counts] = one_run(in, "0.5", dir.file("one.txt"), {"--omit-pruned"});
    EXPECT_EQ(run_tool({"gzip", "-dc", dir.file("out/results.txt.gz")}).out, results);
    EXPECT_EQ(read_file(dir.file("out/logs/merge.log")), counts);
    EXPECT_EQ(lines_of(read_file(dir.file("out/results.txt.gz.shard"))).at(1), "snps 0-3");
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/shards/shard_3.txt.gz")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/shards/shard_4.txt.gz")));
    const RunResult top =
        run_tool({kBin + "/morv-annotate", "--results", dir.file("one.txt"), "--prepared", prepared, "--flags", "2"});
    EXPECT_GT(lines_of(top.out).size(), 1u) << top.err;
    EXPECT_EQ(read_file(dir.file("out/top.tsv")), top.out);
    EXPECT_FALSE(std::filesystem::exists(dir.file("out/qq.png")));
}

// The SLURM profile's status script: sacct's state, else scontrol's; a job
// neither knows has ended unseen (failed); a query that keeps failing may
// yet answer (running).
TEST(Workflow, SlurmStatusScript)
{
    if (!have_snakemake())
        GTEST_SKIP() << "snakemake is not installed (tools/install-deps.sh installs it)";
    const std::string disabled = "echo 'Slurm accounting storage is disabled' >&2; exit 1",
                      forgotten = "echo 'slurm_load_jobs error: Invalid job id specified' >&2; exit 1",
                      down = "echo 'Unable to contact slurm controller' >&2; exit 1",
                      only_job_7 = "case \" $* \" in *\" 7 \"*) ;; *) exit 9 ;; esac\n";
    const struct {
        std::string sacct, scontrol, answer;
    } cases[] = {
        {"echo COMPLETED", down, "success"},
        {"echo 'CANCELLED by 0'", down, "failed"},
        {"echo PENDING", forgotten, "running"},
        {disabled, "echo 'JobId=7 JobState=TIMEOUT Reason=TimeLimit'", "failed"},
        {"true", "echo 'JobId=7 JobState=COMPLETED'", "success"},  // not in sacct yet
        {disabled, forgotten, "failed"},
        {down, forgotten, "running"},
        {disabled, down, "running"},
        {disabled, "[ -e $0.tried ] || { touch $0.tried; " + down + "; }\necho JobState=OUT_OF_MEMORY", "failed"},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        const std::string path =
            stub_commands(dir, {{"sacct", only_job_7 + c.sacct}, {"scontrol", only_job_7 + c.scontrol}});
        const RunResult r = run_tool(
            {path, "MORV_SLURM_STATUS_PAUSE=0", MORV_SOURCE_DIR "/workflow/profiles/slurm/slurm-status.py", "7"});
        EXPECT_EQ(r.out, c.answer + "\n") << c.sacct << " / " << c.scontrol << "\n" << r.err;
    }
}

// The SLURM profile, from another folder than the run's, on stand-ins: sbatch
// runs the job at once, scontrol tells how it ended, sinfo shows one node of
// 2 CPUs and 4000 MB. Each job's log goes to OUT/logs/slurm; a job larger
// than the node is refused before anything is submitted.
TEST(Workflow, SlurmProfile)
{
    if (!have_snakemake())
        GTEST_SKIP() << "snakemake is not installed (tools/install-deps.sh installs it)";
    const std::string profile = std::filesystem::relative(MORV_SOURCE_DIR "/workflow/profiles/slurm").string();
    const struct {
        std::string threads, mem_mb, error;
    } cases[] = {
        {"2", "2000", ""},
        {"3", "2000", "give threads=2 or fewer"},
        {"1", "5000", "--set-resources shard:mem_mb=4000"},
    };
    for (const auto& c : cases) {
        const TempDir dir;
        const Inputs in = simulate(MORV_SIMULATE_BIN, dir, "20 3 4 1");
        const std::string path = stub_commands(
            dir, {{"sbatch", "echo \"$*\" >> $0.args\n"
                             "for a; do case $a in --output=*) log=${a#--output=} ;; esac; done\n"
                             "if \"$a\" > $(echo $log | sed s/%j/$$/) 2>&1; then s=COMPLETED; else s=FAILED; fi\n"
                             "echo JobState=$s > $0.$$; echo $$"},
                  {"scontrol", "for a; do :; done; cat $(dirname $0)/sbatch.$a"},
                  {"sacct", "exit 1"},
                  {"sinfo", "echo 2 4000"}});
        const RunResult r = snakemake(dir,
                                      {"genotype=" + in.geno, "expression=" + in.expr, "allele=" + in.allele,
                                       "shards=2", "threads=" + c.threads, "out=out"},
                                      {path, "CI=true"},  // CI: status checks 1 s apart, not 10
                                      {"--profile", profile, "--set-resources", "shard:mem_mb=" + c.mem_mb});
        const std::string submitted = read_file(dir.file("bin/sbatch.args"));
        if (!c.error.empty()) {
            EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
            EXPECT_EQ(submitted, "");
            continue;
        }
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(submitted.find("--job-name=morv-out --output=out/logs/slurm/shard-%j.out"), std::string::npos)
            << submitted;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("out/logs/slurm")), {}), 3);
    }
}

}  // namespace
