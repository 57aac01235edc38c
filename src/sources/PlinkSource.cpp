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

// Per byte of four codes: how many of each code, a byte per code.
constexpr std::array<std::uint32_t, 256> kCodeCounts = [] {
    std::array<std::uint32_t, 256> table{};
    for (unsigned byte = 0; byte < 256; ++byte)
        for (unsigned k = 0; k < 4; ++k) table[byte] += 1u << (8 * ((byte >> (2 * k)) & 3u));
    return table;
}();

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
        fast_ = people_.groupCount == 1;
        for (int g : people_.group)
            if (g != 0) fast_ = false;
    }

    bool next(SampleBatch& batch) override {
        batch.clear();
        std::string_view line;
        std::vector<unsigned char> row(rowBytes_);
        while (batch.samples.size() + batch.bad.size() + batch.notes.size() < batchRecords_ &&
               bim_->next(line)) {
            ++records_;
            readBed(reinterpret_cast<char*>(row.data()), row.size());
            const auto fields = splitWords(line);
            if (fields.size() != 6) {
                batch.bad.push_back({records_, std::string(line),
                                     "a .bim line has 6 fields (chromosome, ID, cM, position, "
                                     "A1, A2), this one " +
                                         std::to_string(fields.size())});
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

    void readBed(char* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const std::size_t got = bed_->read(data + done, size - done);
            if (got == 0)
                throw SourceError(quoted(bedPath_) + ": ends early, at marker " +
                                  std::to_string(records_));
            done += got;
        }
    }

    void tally(const std::vector<unsigned char>& row, bool xLinked) {
        tallies_.assign(people_.groupCount, Tally{});
        const std::size_t n = people_.ids.size();
        std::size_t i = 0;
        if (fast_ && !xLinked) {
            // Everyone in one group on an autosome: four people a byte.
            std::uint64_t counts[4] = {0, 0, 0, 0};
            const std::size_t full = n / 4;
            for (std::size_t start = 0; start < full; start += 63) {
                std::uint32_t packed = 0;
                for (std::size_t b = start; b < std::min(full, start + 63); ++b)
                    packed += kCodeCounts[row[b]];
                for (unsigned k = 0; k < 4; ++k) counts[k] += (packed >> (8 * k)) & 0xFF;
            }
            Tally& t = tallies_[0];
            t.bb = counts[HomA1];
            t.missing = counts[Missing];
            t.ab = counts[Het];
            t.aa = counts[HomA2];
            i = full * 4;
        }
        for (; i < n; ++i) {
            const int g = people_.group[i];
            if (g < 0) continue;
            Tally& t = tallies_[static_cast<std::size_t>(g)];
            const unsigned code = (row[i / 4] >> (2 * (i % 4))) & 3u;
            if (code == Missing) {
                ++t.missing;
            } else if (xLinked && people_.sex[i] == Sex::Male) {
                if (code == Het) {
                    ++t.missing;
                    ++t.maleHet;
                } else {
                    ++(code == HomA2 ? t.maleA : t.maleB);
                }
            } else {
                ++(code == HomA2 ? t.aa : code == Het ? t.ab : t.bb);
            }
        }
    }

    std::string bedPath_, bimPath_, famPath_;
    GenotypeOptions options_;
    std::size_t batchRecords_;
    People people_;
    std::unique_ptr<ByteInput> bed_;
    std::unique_ptr<LineReader> bim_;
    std::size_t rowBytes_ = 0;
    std::vector<Tally> tallies_;
    std::size_t records_ = 0;
    bool fast_ = false;
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
