#pragma once

// What the VCF and PLINK readers share: the people (sex, kept or not, group),
// the kinds of chromosome, and the tallies of one marker's calls turned into
// samples. Internal to the genotype readers.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sources/GenotypeFiles.h"

namespace zyg::genotypes {

enum class Sex : std::uint8_t { Unknown, Male, Female };

// The people of a file in its order: their sex and the group each is counted
// in (-1: left out by --keep, --remove or --groups).
struct People {
    std::vector<std::string> ids;
    std::vector<Sex> sex;
    std::vector<int> group;
    std::size_t groupCount = 1;
    bool sexFromPloidy = false;  // a VCF without --sex: each call's ploidy says
};

// Applies --sex, --keep, --remove and --groups to the people of a file whose
// own sexes (a .fam's) are `sex` (empty: none). Throws SourceError naming the
// file and line of a bad line; IDs not in the data become warnings.
People preparePeople(std::vector<std::string> ids, std::vector<Sex> sex,
                     const GenotypeOptions& options, std::vector<std::string>& warnings,
                     std::vector<std::string>& groups);

enum class ChromKind { Autosome, X, Par, Y, Mito };
// "X", "chrX" and PLINK's 23 are X; "XY", 25, "PAR1" and "PAR2" are the
// pseudo-autosomal part; "Y"/24, "MT"/"M"/26 likewise with or without "chr".
ChromKind chromKind(std::string_view chrom);
// Whether a position of chromosome X lies in a pseudo-autosomal region.
bool inPar(ParBuild build, std::uint64_t pos);

// One marker's calls in one group.
struct Tally {
    std::uint64_t aa = 0, ab = 0, bb = 0;  // everyone's, or the females' on X
    std::uint64_t maleA = 0, maleB = 0;    // hemizygotes on X
    std::uint64_t missing = 0, maleHet = 0, haploid = 0;
};

// The marker's samples, one per group, appended to `batch`; a note when some
// call was haploid on an autosome.
void addMarker(SampleBatch& batch, std::size_t record, const GenotypeSite& site, bool xLinked,
               const std::vector<Tally>& tallies, const std::vector<std::string>& groups);

// The note of a marker skipped for the kind of its chromosome, or empty.
std::string_view skipReason(ChromKind kind);

// "the people Sxx have no sex ..." when a kept person has no sex (X needs it).
std::string missingSexMessage(const People& people);

}  // namespace zyg::genotypes

namespace zyg::genotypes {

std::unique_ptr<GenotypeSource> openVcf(const std::string& path, const GenotypeOptions& options,
                                        std::size_t batchRecords);
std::unique_ptr<GenotypeSource> openPlink(const std::string& bedPath,
                                          const GenotypeOptions& options, std::size_t batchRecords);

// The whitespace-separated fields of a line.
std::vector<std::string_view> splitWords(std::string_view line);

}  // namespace zyg::genotypes
