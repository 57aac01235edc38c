#pragma once

// Genotype files as sample sources: VCF and BCF (plain or BGZF-compressed,
// read with htslib) and PLINK 1 binary filesets (.bed in SNP-major mode with
// its .bim and .fam, read directly). Each marker's genotype calls are counted
// as they are read, so a file of any number of markers is read in bounded
// memory. No Qt.
//
// Counting. On an autosome AA, AB and BB are the people homozygous for the
// reference allele (the .bim's sixth column for PLINK), heterozygous, and
// homozygous for the alternate one; A1 is the reference allele. A missing
// call is not counted but reported (GenotypeSite::missing). On chromosome X
// outside the pseudo-autosomal regions a female's genotype is counted as on
// an autosome and a male's call as a hemizygote (a homozygous call of a male
// too); a male's heterozygous call there is counted as missing and reported
// (GenotypeSite::maleHet). Inside the regions markers are autosomal, as are
// PLINK's XY markers. Markers on Y and the mitochondrial genome are skipped
// with a note; so are multi-allelic VCF sites, unless they are split: each
// alternate allele is then tested against all the others together (one copy
// of it is a heterozygote), as a marker named ID:ALT.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sources/SampleSource.h"

namespace zyg {

// The pseudo-autosomal regions of chromosome X, by assembly.
enum class ParBuild { B37, B38, None };
std::optional<ParBuild> parseParBuild(std::string_view name);  // "b37", "b38", "none"

// What a file given to read holds, recognised from its content.
enum class InputFormat { CountLines, Vcf, Bcf, PlinkBed };

struct RecognisedInput {
    InputFormat format = InputFormat::CountLines;
    std::string path;  // the file to read (a PLINK prefix completed to its .bed)
    // For a file that is none of the formats: what it looks like ("a gzip
    // file that holds no VCF header"); empty otherwise.
    std::string unreadable;
};
// Throws SourceError when the file cannot be opened.
RecognisedInput recogniseInput(const std::string& path);

struct GenotypeOptions {
    ParBuild par = ParBuild::B38;
    bool splitMultiallelic = false;
    std::optional<std::string> sexFile;     // sample ID and sex (1/2, M/F)
    std::optional<std::string> keepFile;    // sample IDs to keep
    std::optional<std::string> removeFile;  // sample IDs to leave out
    std::optional<std::string> groupsFile;  // sample ID and group
    std::optional<std::string> region;      // CHR:FROM-TO of an indexed VCF/BCF
    unsigned threads = 1;                   // decompression threads
};

// The file --annotate writes: the input's records with an INFO tag per test
// (Number=A, Type=Float), in the format its name says (.vcf, .vcf.gz, .bcf).
struct AnnotationRequest {
    std::string path;
    std::vector<std::string> tags, descriptions;
};

// A genotype source: its samples carry their GenotypeSite; `line` is the
// record's number among the markers (1-based), notes tell what was skipped.
class GenotypeSource : public SampleSource {
public:
    // Starts writing the annotated copy (to a temporary file beside it).
    // Throws SourceError when the input is no VCF or BCF or the file cannot
    // be opened.
    virtual void beginAnnotation(const AnnotationRequest&) {
        throw SourceError("--annotate: only for a VCF or BCF input");
    }
    // Writes the records of the last batch: `values[s][t]` is sample s's
    // value of tag t (nothing: missing); a record is left out when `keep` is
    // false for any of its samples. Records skipped with a note are written
    // as read, bad ones not at all.
    virtual void annotate(const std::vector<std::vector<std::optional<double>>>&,
                          const std::vector<char>&) {}
    // Completes the file and gives it its name: empty, else why not (the
    // temporary file is then removed).
    virtual std::string endAnnotation() { return {}; }

    // Warnings found on opening (IDs of --keep not in the data, ...).
    const std::vector<std::string>& warnings() const { return warnings_; }
    // The groups in the order of their first appearance in the groups file;
    // empty without groups.
    const std::vector<std::string>& groups() const { return groups_; }

protected:
    std::vector<std::string> warnings_;
    std::vector<std::string> groups_;
};

// Opens a VCF/BCF or a PLINK fileset (the .bed's path). Throws SourceError
// with a message naming the file and what is wrong.
std::unique_ptr<GenotypeSource> openGenotypeFile(const RecognisedInput& input,
                                                 const GenotypeOptions& options,
                                                 std::size_t batchRecords = 4096);

}  // namespace zyg
