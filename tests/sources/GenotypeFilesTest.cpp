#include <gtest/gtest.h>
#include <htslib/bgzf.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>

#include "sources/GenotypeFiles.h"

namespace zyg {
namespace {

namespace fs = std::filesystem;

// A folder of its own per test, removed after it.
struct Scratch {
    fs::path dir = fs::temp_directory_path() /
                   ("zyg-genotypes-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    Scratch() { fs::create_directories(dir); }
    ~Scratch() { fs::remove_all(dir); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(dir / name, std::ios::binary) << text;
        return (dir / name).string();
    }
};

// Calls per person: 0/1/2 copies of ALT, 3 missing; on X a male's call is
// 4 (REF) or 5 (ALT), 1 a male's heterozygous call.
struct Marker {
    std::string chrom;
    std::uint64_t pos;
    std::vector<int> calls;
};

std::string vcfText(const std::vector<Marker>& markers, std::size_t people, bool phased) {
    std::string text = "##fileformat=VCFv4.2\n##contig=<ID=1>\n##contig=<ID=X>\n##contig=<ID=Y>\n";
    text += "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n";
    text += "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
    for (std::size_t i = 0; i < people; ++i) text += "\tP" + std::to_string(i);
    text += "\n";
    const char* diploid[] = {"0/0", "0/1", "1/1", "./.", "0", "1"};
    const char* phasedCalls[] = {"0|0", "1|0", "1|1", ".|.", "0", "1"};
    for (std::size_t m = 0; m < markers.size(); ++m) {
        text += markers[m].chrom + "\t" + std::to_string(markers[m].pos) + "\tm" +
                std::to_string(m) + "\tA\tG\t.\tPASS\t.\tGT";
        for (int c : markers[m].calls) {
            text += '\t';
            text += (phased && m % 2 ? phasedCalls : diploid)[c];
        }
        text += "\n";
    }
    return text;
}

// The same markers as a PLINK fileset; the .bim's A1 is ALT.
std::string writePlink(const Scratch& s, const std::vector<Marker>& markers,
                       const std::vector<int>& sex) {
    std::string fam, bim, bed = "\x6c\x1b\x01";
    for (std::size_t i = 0; i < sex.size(); ++i)
        fam += "F P" + std::to_string(i) + " 0 0 " + std::to_string(sex[i]) + " -9\n";
    constexpr unsigned kCode[] = {3, 2, 0, 1, 3, 0};  // per call code
    for (std::size_t m = 0; m < markers.size(); ++m) {
        bim += markers[m].chrom + "\tm" + std::to_string(m) + "\t0\t" +
               std::to_string(markers[m].pos) + "\tG\tA\n";
        std::string row((sex.size() + 3) / 4, '\0');
        for (std::size_t i = 0; i < sex.size(); ++i)
            row[i / 4] =
                static_cast<char>(row[i / 4] | kCode[markers[m].calls[i]] << (2 * (i % 4)));
        bed += row;
    }
    s.write("set.fam", fam);
    s.write("set.bim", bim);
    return s.write("set.bed", bed);
}

// A BCF of the VCF text, written with htslib.
std::string writeBcf(const Scratch& s, const std::string& vcf) {
    const std::string vcfPath = s.write("in.vcf", vcf), bcfPath = (s.dir / "in.bcf").string();
    htsFile* in = hts_open(vcfPath.c_str(), "r");
    htsFile* out = hts_open(bcfPath.c_str(), "wb");
    bcf_hdr_t* header = bcf_hdr_read(in);
    EXPECT_EQ(bcf_hdr_write(out, header), 0);
    bcf1_t* record = bcf_init();
    while (bcf_read(in, header, record) == 0) EXPECT_EQ(bcf_write(out, header, record), 0);
    bcf_destroy(record);
    bcf_hdr_destroy(header);
    hts_close(in);
    hts_close(out);
    return bcfPath;
}

using Five = std::array<std::uint64_t, 5>;
Five five(const SampleCounts& c) { return {c.aa, c.ab, c.bb, c.maleA, c.maleB}; }

struct Counted {
    std::string id;
    SampleCounts counts;
    std::uint64_t missing, maleHet;
};

std::vector<Counted> readAll(const std::string& path, const GenotypeOptions& options,
                             std::vector<RecordNote>* notes = nullptr) {
    const auto source = openGenotypeFile(recogniseInput(path), options, 3);
    std::vector<Counted> out;
    for (SampleBatch batch; source->next(batch);) {
        EXPECT_TRUE(batch.bad.empty()) << batch.bad.front().why;
        for (const InputSample& s : batch.samples)
            out.push_back({s.site.id + (s.site.group.empty() ? "" : "@" + s.site.group), s.counts,
                           s.site.missing, s.site.maleHet});
        if (notes) notes->insert(notes->end(), batch.notes.begin(), batch.notes.end());
    }
    return out;
}

TEST(GenotypeFiles, VcfBcfAndPlinkCountAsAnIndependentTally) {
    // Random calls on autosomes and on X inside and outside the b38 PARs.
    std::mt19937 rng(7);
    const std::size_t people = 23;  // not a multiple of four: the .bed's last byte is partial
    std::vector<int> sex(people);
    for (std::size_t i = 0; i < people; ++i) sex[i] = 1 + static_cast<int>(rng() % 2);
    std::vector<Marker> markers;
    const std::array<std::pair<const char*, std::uint64_t>, 4> places = {
        {{"1", 5000}, {"X", 20000}, {"X", 5000000}, {"X", 156000000}}};
    for (int m = 0; m < 40; ++m) {
        const auto [chrom, pos] = places[static_cast<std::size_t>(m) % places.size()];
        Marker marker{chrom, pos + static_cast<std::uint64_t>(m), {}};
        const bool hemizygous = m % 4 == 2;
        for (std::size_t i = 0; i < people; ++i) {
            // A male outside the PARs: every code, haploid or diploid.
            const bool male = hemizygous && sex[i] == 1;
            marker.calls.push_back(static_cast<int>(rng() % (male ? 6 : 4)));
        }
        markers.push_back(marker);
    }
    // The expected counts, tallied here from the calls.
    std::vector<Counted> expected;
    for (std::size_t m = 0; m < markers.size(); ++m) {
        // Appended piece by piece: GCC 12 at -O3 warns falsely of overlapping
        // copies on a literal plus a temporary string.
        std::string name = "m";
        name += std::to_string(m);
        Counted e{name, {}, 0, 0};
        const bool hemizygous = m % 4 == 2;
        e.counts.locus = hemizygous ? LocusKind::XLinked : LocusKind::Autosomal;
        for (std::size_t i = 0; i < people; ++i) {
            const int c = markers[m].calls[i];
            const bool male = hemizygous && sex[i] == 1;
            if (c == 3)
                ++e.missing;
            else if (male && c == 1)
                ++e.missing, ++e.maleHet;
            else if (male)
                ++(c == 4 || c == 0 ? e.counts.maleA : e.counts.maleB);
            else
                ++(c == 0 ? e.counts.aa : c == 1 ? e.counts.ab : e.counts.bb);
        }
        expected.push_back(e);
    }
    Scratch s;
    std::string sexFile;
    for (std::size_t i = 0; i < people; ++i)
        ((sexFile += 'P') += std::to_string(i)) += sex[i] == 1 ? " M\n" : " F\n";
    GenotypeOptions withSex;
    withSex.sexFile = s.write("sexes.txt", sexFile);
    const std::string vcf = vcfText(markers, people, true);
    const std::vector<std::pair<std::string, GenotypeOptions>> inputs = {
        {s.write("in.vcf", vcf), withSex},
        {writeBcf(s, vcf), withSex},
        {writePlink(s, markers, sex), {}},
        {(s.dir / "set").string(), {}},  // a PLINK prefix
    };
    for (const auto& [path, options] : inputs) {
        const auto got = readAll(path, options);
        ASSERT_EQ(got.size(), expected.size()) << path;
        for (std::size_t m = 0; m < got.size(); ++m) {
            const SampleCounts &a = got[m].counts, &b = expected[m].counts;
            EXPECT_EQ(got[m].id, expected[m].id);
            EXPECT_EQ(five(a), five(b)) << path << " marker " << m;
            EXPECT_EQ(a.locus, b.locus) << path << " marker " << m;
            EXPECT_EQ(got[m].missing, expected[m].missing) << path << " marker " << m;
            EXPECT_EQ(got[m].maleHet, expected[m].maleHet) << path << " marker " << m;
        }
    }
}

TEST(GenotypeFiles, MultiallelicHaploidAndOtherChromosomes) {
    Scratch s;
    const std::string path =
        s.write("in.vcf",
                "##fileformat=VCFv4.2\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"G\">\n"
                "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\tc\td\n"
                "1\t10\tmulti\tA\tC,T\t.\t.\t.\tGT\t0/1\t1/2\t2/2\t0/0\n"
                "1\t20\thap\tA\tC\t.\t.\t.\tGT\t0\t0/1\t1/1\t./.\n"
                "chrY\t30\ty1\tA\tC\t.\t.\t.\tGT\t0\t1\t.\t0\n"
                "MT\t40\tmt1\tA\tC\t.\t.\t.\tGT\t0\t1\t.\t0\n"
                "X\t3000000\tx1\tA\tC\t.\t.\t.\tGT\t0\t1\t0/1\t1/1\n");
    std::vector<RecordNote> notes;
    const auto skipped = readAll(path, {}, &notes);
    ASSERT_EQ(skipped.size(), 2u);
    EXPECT_EQ(skipped[0].id, "hap");
    EXPECT_EQ(skipped[0].missing, 2u);  // the haploid call and ./.
    // Without --sex, ploidy says the sex on X: two males, two females.
    EXPECT_EQ(five(skipped[1].counts), Five({0, 1, 1, 1, 1}));
    ASSERT_EQ(notes.size(), 4u);
    EXPECT_EQ(notes[0].reason, "multi-allelic");
    EXPECT_FALSE(notes[1].skipped);  // the haploid call, tested
    EXPECT_EQ(notes[2].reason, "on chromosome Y");
    EXPECT_EQ(notes[3].reason, "on the mitochondrial genome");

    GenotypeOptions split;
    split.splitMultiallelic = true;
    const auto parts = readAll(path, split);
    ASSERT_GE(parts.size(), 2u);
    EXPECT_EQ(parts[0].id, "multi:C");  // 0/1 1/2 2/2 0/0 against C
    EXPECT_EQ(five(parts[0].counts), Five({2, 2, 0, 0, 0}));
    EXPECT_EQ(parts[1].id, "multi:T");
    EXPECT_EQ(five(parts[1].counts), Five({2, 1, 1, 0, 0}));
}

TEST(GenotypeFiles, KeepRemoveAndGroups) {
    Scratch s;
    const std::string path =
        s.write("in.vcf",
                "##fileformat=VCFv4.2\n##FORMAT=<ID=GT,Number=1,Type=String,Description=\"G\">\n"
                "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT\ta\tb\tc\td\te\n"
                "1\t10\tm\tA\tC\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t0/1\t0/0\n");
    GenotypeOptions o;
    o.keepFile = s.write("keep.txt", "a\nb x\nc\nd\nnobody\n");
    o.removeFile = s.write("remove.txt", "# leave out\nd\n");
    o.groupsFile = s.write("groups.txt", "a EUR\nb AFR\nc EUR\nd AFR\ne AFR\n");
    const auto source = openGenotypeFile(recogniseInput(path), o);
    ASSERT_EQ(source->warnings().size(), 1u);
    EXPECT_NE(source->warnings()[0].find("nobody"), std::string::npos);
    std::vector<Counted> rows;
    for (SampleBatch batch; source->next(batch);)
        for (const InputSample& x : batch.samples) rows.push_back({x.site.group, x.counts, 0, 0});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].id, "EUR");  // a, c
    EXPECT_EQ(five(rows[0].counts), Five({1, 0, 1, 0, 0}));
    EXPECT_EQ(rows[1].id, "AFR");  // b; d removed, e not kept
    EXPECT_EQ(five(rows[1].counts), Five({0, 1, 0, 0, 0}));
}

// PLINK's own files name people by FID IID, whose FID ("F" here) is no ID.
TEST(GenotypeFiles, PlinkFidIidLinesNameTheirPeople) {
    Scratch s;
    const std::string bed =
        writePlink(s, {{"1", 10, {0, 1, 2, 1}}, {"X", 5000000, {0, 4, 2, 5}}}, {0, 0, 0, 0});
    GenotypeOptions o;
    o.keepFile = s.write("keep.txt", "F P0\nF P1\nF P2\n");
    o.sexFile = s.write("sex.txt", "FID IID SEX\nF P0 2\nF P1 1\nF P2 2\nF P3 1\n");
    const auto rows = readAll(bed, o);
    ASSERT_EQ(rows.size(), 2u);
    const Five autosomal = five(rows[0].counts), x = five(rows[1].counts);
    EXPECT_EQ(autosomal[0] + autosomal[1] + autosomal[2], 3u);  // P3 not kept
    EXPECT_EQ(x[0] + x[1] + x[2], 2u);                          // P0, P2 female
    EXPECT_EQ(x[3] + x[4], 1u);                                 // P1 male
}

TEST(GenotypeFiles, RegionsOfIndexedVcfAndBcf) {
    Scratch s;
    std::vector<Marker> markers;
    for (std::uint64_t pos = 10; pos <= 50; pos += 10) markers.push_back({"1", pos, {0, 1, 2}});
    markers.push_back({"X", 60, {0, 1, 2}});
    const std::string text = vcfText(markers, 3, false), gz = (s.dir / "in.vcf.gz").string();
    BGZF* out = bgzf_open(gz.c_str(), "w");
    ASSERT_EQ(bgzf_write(out, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    bgzf_close(out);
    ASSERT_EQ(tbx_index_build(gz.c_str(), 0, &tbx_conf_vcf), 0);
    const std::string bcf = writeBcf(s, text);
    ASSERT_EQ(bcf_index_build(bcf.c_str(), 14), 0);
    for (const std::string& path : {gz, bcf}) {
        for (const auto& [region, ids] : std::vector<std::pair<std::string, std::string>>{
                 {"1:15-40", "m1 m2 m3 "}, {"1", "m0 m1 m2 m3 m4 "}, {"Y", ""}}) {
            GenotypeOptions o;
            o.region = region;
            std::string got;
            for (const Counted& c : readAll(path, o)) got += c.id + " ";
            EXPECT_EQ(got, ids) << path << " " << region;
        }
    }
}

TEST(GenotypeFiles, FormatsAreRecognisedFromTheirContent) {
    Scratch s;
    const std::string gz = (s.dir / "counts.gz").string();
    s.write("counts.txt", "rs1 1 2 3\n");
    ASSERT_EQ(std::system(("gzip -c " + (s.dir / "counts.txt").string() + " > " + gz).c_str()), 0);
    struct Case {
        std::string path;
        InputFormat format;
        std::string unreadable;
    } cases[] = {
        {(s.dir / "counts.txt").string(), InputFormat::CountLines, ""},
        {s.write("named.bed",
                 "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n"),
         InputFormat::Vcf, ""},
        {gz, InputFormat::CountLines, "a gzip file that holds no VCF header"},
        {s.write("im.bed", std::string("\x6c\x1b\x00\x00", 4)), InputFormat::CountLines,
         "a PLINK .bed file in individual-major mode"},
        {s.write("blob", std::string("\x01\x02\x00\x03garbage", 11)), InputFormat::CountLines,
         "a binary file of no format read here"},
    };
    for (const Case& c : cases) {
        const RecognisedInput r = recogniseInput(c.path);
        EXPECT_EQ(r.format, c.format) << c.path;
        EXPECT_EQ(r.unreadable.substr(0, c.unreadable.size()), c.unreadable) << c.path;
    }
}

}  // namespace
}  // namespace zyg
