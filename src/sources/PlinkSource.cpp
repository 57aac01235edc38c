// PLINK 1 binary filesets: the .fam's people, then the .bim's markers one
// line at a time beside the .bed's rows (SNP-major: one row of two-bit codes
// per marker, four people a byte, the first in the low bits).

#include <sys/stat.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sources/GenotypeCounting.h"

namespace zyg::genotypes {

namespace {

// The two-bit codes with the .bim's fifth column as A1 (here the alternate
// allele) and its sixth as A2 (the reference).
enum BedCode : unsigned { HomA1 = 0, Missing = 1, Het = 2, HomA2 = 3 };

std::string withExtension(const std::string& bed, const char* extension) {
    const std::size_t dot = bed.rfind('.');
    const std::size_t slash = bed.rfind('/');
    const bool hasExtension =
        dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? bed.substr(0, dot) : bed) + extension;
}

std::string readSmall(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw SourceError("\"" + path + "\": cannot be read (" + std::strerror(errno) + ")");
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// Lines of a file read in pieces, as text views valid until the next call.
class LineReader {
public:
    explicit LineReader(const std::string& path) : input_(fileInput(path)) {}
    bool next(std::string_view& line) {
        for (;;) {
            const std::size_t end = held_.find('\n', begin_);
            if (end != std::string::npos) {
                line = std::string_view(held_).substr(begin_, end - begin_);
                begin_ = end + 1;
                if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
                return true;
            }
            held_.erase(0, begin_);
            begin_ = 0;
            if (ended_) {
                if (held_.empty()) return false;
                held_ += '\n';
                continue;
            }
            char buffer[1 << 16];
            const std::size_t got = input_->read(buffer, sizeof buffer);
            if (got == 0) ended_ = true;
            held_.append(buffer, got);
        }
    }

private:
    std::unique_ptr<ByteInput> input_;
    std::string held_;
    std::size_t begin_ = 0;
    bool ended_ = false;
};

// The people of one set (a group, or its males or females) as a mask over a
// row's 64-bit words: the low bit of each person's two.
struct PeopleMask {
    std::vector<std::uint64_t> bits;
    std::uint64_t size = 0;
};

// How many of the set carry each code in a row of words (zero-padded).
struct CodeCounts {
    std::uint64_t code[4] = {0, 0, 0, 0};
};

[[gnu::always_inline]] inline CodeCounts countCodes(const std::uint64_t* row, const PeopleMask& m) {
    std::uint64_t high = 0, het = 0, missing = 0;
    for (std::size_t w = 0; w < m.bits.size(); ++w) {
        const std::uint64_t low = row[w] & m.bits[w], up = (row[w] >> 1) & m.bits[w];
        high += static_cast<std::uint64_t>(__builtin_popcountll(low & up));
        het += static_cast<std::uint64_t>(__builtin_popcountll(up & ~low));
        missing += static_cast<std::uint64_t>(__builtin_popcountll(low & ~up));
    }
    CodeCounts c;
    c.code[HomA2] = high;
    c.code[Het] = het;
    c.code[Missing] = missing;
    c.code[HomA1] = m.size - high - het - missing;
    return c;
}

// The same with the processor's population count where it has one.
[[gnu::target("popcnt")]] CodeCounts countCodesPopcnt(const std::uint64_t* row,
                                                      const PeopleMask& m) {
    return countCodes(row, m);
}
CodeCounts countCodesPlain(const std::uint64_t* row, const PeopleMask& m) {
    return countCodes(row, m);
}
const bool kHasPopcnt = __builtin_cpu_supports("popcnt");

CodeCounts codeCounts(const std::uint64_t* row, const PeopleMask& m) {
    return kHasPopcnt ? countCodesPopcnt(row, m) : countCodesPlain(row, m);
}

// The fields of a .bim line, at most six kept; how many there are.
std::size_t splitSix(std::string_view line, std::array<std::string_view, 6>& fields) {
    std::size_t count = 0, i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        if (i == start) break;
        if (count < fields.size()) fields[count] = line.substr(start, i - start);
        ++count;
    }
    return count;
}

class PlinkSource : public GenotypeSource {
public:
    PlinkSource(const std::string& bed, const GenotypeOptions& options, std::size_t batchRecords)
        : bedPath_(bed),
          bimPath_(withExtension(bed, ".bim")),
          famPath_(withExtension(bed, ".fam")),
          options_(options),
          batchRecords_(std::max<std::size_t>(batchRecords, 1)) {}

    void open() {
        if (options_.region)
            throw SourceError(
                "--region reads a bgzipped VCF or a BCF with its index, not a PLINK fileset");
        readFam();
        const std::uint64_t markers = countBimLines();
        rowBytes_ = (people_.ids.size() + 3) / 4;
        struct stat info {};
        if (::stat(bedPath_.c_str(), &info) != 0)
            throw SourceError(quoted(bedPath_) + ": cannot be read (" + std::strerror(errno) + ")");
        const std::uint64_t expected = 3 + markers * rowBytes_;
        if (static_cast<std::uint64_t>(info.st_size) != expected)
            throw SourceError(quoted(bedPath_) + ": " + std::to_string(info.st_size) +
                              " bytes, but the " + std::to_string(markers) + " markers of " +
                              quoted(bimPath_) + " and the " + std::to_string(people_.ids.size()) +
                              " people of " + quoted(famPath_) + " need " +
                              std::to_string(expected));
        bed_ = fileInput(bedPath_);
        char magic[3];
        readBed(magic, 3);
        bim_ = std::make_unique<LineReader>(bimPath_);
        // Per group: everyone, the males and the females.
        const std::size_t words = (people_.ids.size() + 31) / 32;
        masks_.assign(3 * people_.groupCount, PeopleMask{std::vector<std::uint64_t>(words, 0), 0});
        for (std::size_t i = 0; i < people_.ids.size(); ++i) {
            const int g = people_.group[i];
            if (g < 0) continue;
            const std::size_t sex = people_.sex[i] == Sex::Male ? 1 : 2;
            for (std::size_t k : {std::size_t{0}, sex}) {
                PeopleMask& m = masks_[3 * static_cast<std::size_t>(g) + k];
                m.bits[i / 32] |= std::uint64_t{1} << (2 * (i % 32));
                ++m.size;
            }
        }
        words_.assign(words, 0);
    }

    bool next(SampleBatch& batch) override {
        batch.clear();
        std::string_view line;
        std::vector<unsigned char> row(rowBytes_);
        while (batch.samples.size() + batch.bad.size() + batch.notes.size() < batchRecords_ &&
               bim_->next(line)) {
            ++records_;
            readBed(reinterpret_cast<char*>(row.data()), row.size());
            std::array<std::string_view, 6> fields;
            const std::size_t count = splitSix(line, fields);
            if (count != 6) {
                batch.bad.push_back({records_, std::string(line),
                                     "a .bim line has 6 fields (chromosome, ID, cM, position, "
                                     "A1, A2), this one " +
                                         std::to_string(count)});
                continue;
            }
            std::uint64_t pos = 0;
            bool number = !fields[3].empty();
            for (char c : fields[3]) {
                if (c < '0' || c > '9' || pos > (std::uint64_t{1} << 40)) number = false;
                pos = pos * 10 + static_cast<unsigned>(c - '0');
            }
            if (!number) {
                batch.bad.push_back(
                    {records_, std::string(line),
                     "the position \"" + shownText(fields[3], 20) + "\" is not a whole number"});
                continue;
            }
            const ChromKind kind = chromKind(fields[0]);
            const std::string id(fields[1]);
            if (const auto reason = skipReason(kind); !reason.empty()) {
                batch.notes.push_back({records_, id, std::string(reason), true});
                continue;
            }
            const bool xLinked = kind == ChromKind::X && !inPar(options_.par, pos);
            if (xLinked && !sexChecked_) {
                sexChecked_ = true;
                if (const std::string why = missingSexMessage(people_); !why.empty())
                    throw SourceError(quoted(famPath_) + ": " + why);
            }
            GenotypeSite site;
            site.chrom = std::string(fields[0]);
            site.pos = pos;
            site.id = id;
            site.ref = std::string(fields[5]);
            site.alt = std::string(fields[4]);
            tally(row, xLinked);
            addMarker(batch, records_, site, xLinked, tallies_, groups_);
        }
        return !batch.empty();
    }

private:
    static std::string quoted(const std::string& path) {
        std::string text = "\"";
        text += path;
        return text + "\"";
    }

    void readFam() {
        const std::string text = readSmall(famPath_);
        std::vector<std::string> ids;
        std::vector<Sex> sex;
        std::string_view rest = text;
        std::size_t number = 0;
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find('\n'), rest.size());
            std::string_view line = rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
            ++number;
            const auto fields = splitWords(line);
            if (fields.empty()) continue;
            if (fields.size() != 6) {
                std::string message =
                    quoted(famPath_) + ", line " + std::to_string(number) + ": \"";
                message += shownText(line);
                throw SourceError(message +
                                  "\": a .fam line has 6 fields (family, ID, father, mother, "
                                  "sex, phenotype), this one " +
                                  std::to_string(fields.size()));
            }
            ids.emplace_back(fields[1]);
            sex.push_back(fields[4] == "1"   ? Sex::Male
                          : fields[4] == "2" ? Sex::Female
                                             : Sex::Unknown);
        }
        people_ = preparePeople(std::move(ids), std::move(sex), options_, warnings_, groups_);
        // A --sex file overrides the .fam's sexes; both are in people_.sex.
    }

    std::uint64_t countBimLines() {
        LineReader reader(bimPath_);
        std::uint64_t lines = 0;
        for (std::string_view line; reader.next(line);) ++lines;
        return lines;
    }

    // The next bytes of the .bed, read a megabyte at a time.
    void readBed(char* data, std::size_t size) {
        while (size > 0) {
            if (bedAt_ == bedHeld_) {
                bedHeld_ = bed_->read(bedBuffer_.data(), bedBuffer_.size());
                bedAt_ = 0;
                if (bedHeld_ == 0)
                    throw SourceError(quoted(bedPath_) + ": ends early, at marker " +
                                      std::to_string(records_));
            }
            const std::size_t n = std::min(size, bedHeld_ - bedAt_);
            std::memcpy(data, bedBuffer_.data() + bedAt_, n);
            bedAt_ += n;
            data += n;
            size -= n;
        }
    }

    void tally(const std::vector<unsigned char>& row, bool xLinked) {
        tallies_.assign(people_.groupCount, Tally{});
        std::memcpy(words_.data(), row.data(), row.size());  // little-endian words
        for (std::size_t g = 0; g < people_.groupCount; ++g) {
            Tally& t = tallies_[g];
            if (!xLinked) {
                const CodeCounts c = codeCounts(words_.data(), masks_[3 * g]);
                t.aa = c.code[HomA2];
                t.ab = c.code[Het];
                t.bb = c.code[HomA1];
                t.missing = c.code[Missing];
                continue;
            }
            const CodeCounts m = codeCounts(words_.data(), masks_[3 * g + 1]);
            const CodeCounts f = codeCounts(words_.data(), masks_[3 * g + 2]);
            t.aa = f.code[HomA2];
            t.ab = f.code[Het];
            t.bb = f.code[HomA1];
            t.maleA = m.code[HomA2];
            t.maleB = m.code[HomA1];
            t.maleHet = m.code[Het];
            t.missing = f.code[Missing] + m.code[Missing] + m.code[Het];
        }
    }

    std::string bedPath_, bimPath_, famPath_;
    GenotypeOptions options_;
    std::size_t batchRecords_;
    People people_;
    std::unique_ptr<ByteInput> bed_;
    std::unique_ptr<LineReader> bim_;
    std::size_t rowBytes_ = 0;
    std::vector<char> bedBuffer_ = std::vector<char>(std::size_t{1} << 20);
    std::size_t bedAt_ = 0, bedHeld_ = 0;
    std::vector<PeopleMask> masks_;
    std::vector<std::uint64_t> words_;
    std::vector<Tally> tallies_;
    std::size_t records_ = 0;
    bool sexChecked_ = false;
};

}  // namespace

std::unique_ptr<GenotypeSource> openPlink(const std::string& bedPath,
                                          const GenotypeOptions& options,
                                          std::size_t batchRecords) {
    auto source = std::make_unique<PlinkSource>(bedPath, options, batchRecords);
    source->open();
    return source;
}

}  // namespace zyg::genotypes
