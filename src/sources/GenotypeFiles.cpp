#include "sources/GenotypeFiles.h"

#include <htslib/hfile.h>
#include <htslib/hts.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "sources/GenotypeCounting.h"

namespace zyg {

namespace genotypes {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// A small table file (--sex, --keep, --remove, --groups): its lines with
// their numbers, blank lines and # comments left out.
struct TableLine {
    std::size_t number;
    std::vector<std::string_view> fields;
    std::string_view text;
};

class TableFile {
public:
    TableFile(const std::string& option, const std::string& path) : option_(option), path_(path) {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw SourceError(where() + ": cannot be read (" + std::strerror(errno) + ")");
        std::ostringstream all;
        all << in.rdbuf();
        text_ = all.str();
        std::string_view rest = text_;
        std::size_t number = 0;
        while (!rest.empty()) {
            const std::size_t end = std::min(rest.find('\n'), rest.size());
            std::string_view line = rest.substr(0, end);
            rest.remove_prefix(std::min(end + 1, rest.size()));
            ++number;
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            auto fields = splitWords(line);
            if (!fields.empty() && fields[0][0] != '#') lines_.push_back({number, fields, line});
        }
    }
    const std::vector<TableLine>& lines() const { return lines_; }
    std::string where() const { return option_ + " \"" + path_ + "\""; }
    [[noreturn]] void bad(const TableLine& line, const std::string& why) const {
        std::string message = where() + ", line " + std::to_string(line.number) + ": \"";
        message += shownText(line.text);
        message += "\": ";
        throw SourceError(message + why);
    }

private:
    std::string option_, path_, text_;
    std::vector<TableLine> lines_;
};

std::optional<Sex> parseSex(std::string_view code) {
    const std::string c = lower(code);
    if (c == "1" || c == "m" || c == "male") return Sex::Male;
    if (c == "2" || c == "f" || c == "female") return Sex::Female;
    if (c == "0" || c == "-9" || c == "na" || c == "." || c == "u") return Sex::Unknown;
    return std::nullopt;
}

// The IDs named in the data: those of `names` not among the people are warned
// of, the first few by name.
void warnUnknown(const std::string& what, const std::vector<std::string>& unknown,
                 std::vector<std::string>& warnings) {
    if (unknown.empty()) return;
    std::string text = what + ": " + std::to_string(unknown.size()) +
                       (unknown.size() == 1 ? " ID is" : " IDs are") + " not in the data (";
    for (std::size_t i = 0; i < unknown.size() && i < 5; ++i) {
        if (i) text += ", ";
        text += shownText(unknown[i], 40);
    }
    if (unknown.size() > 5) text += ", ...";
    warnings.push_back(text + ")");
}

}  // namespace

std::vector<std::string_view> splitWords(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) ++i;
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i])) ++i;
        if (i > start) words.push_back(line.substr(start, i - start));
    }
    return words;
}

People preparePeople(std::vector<std::string> ids, std::vector<Sex> sex,
                     const GenotypeOptions& options, std::vector<std::string>& warnings,
                     std::vector<std::string>& groups) {
    People people;
    people.ids = std::move(ids);
    const std::size_t n = people.ids.size();
    std::map<std::string_view, std::size_t> index;
    for (std::size_t i = 0; i < n; ++i) index.emplace(people.ids[i], i);
    people.sexFromPloidy = sex.empty() && !options.sexFile;
    people.sex = sex.empty() ? std::vector<Sex>(n, Sex::Unknown) : std::move(sex);
    people.group.assign(n, 0);

    if (options.sexFile) {
        TableFile file("--sex", *options.sexFile);
        std::vector<std::string> unknown;
        std::size_t idColumn = 0, sexColumn = 1;
        for (const TableLine& line : file.lines()) {
            std::size_t id = idColumn, code = sexColumn;
            if (line.fields.size() >= 6) {
                id = 1, code = 4;  // a .fam line
            } else if (line.fields.size() >= 3 && !parseSex(line.fields[1]) &&
                       parseSex(line.fields[2])) {
                id = 1, code = 2;  // PLINK's FID IID SEX
            }
            if (line.fields.size() < 2 || line.fields.size() <= code)
                file.bad(line, "expected a sample ID and a sex (1 or M male, 2 or F female)");
            const auto s = parseSex(line.fields[code]);
            if (!s) {
                // A header such as .psam's "IID SEX" names the columns.
                if (&line == &file.lines().front()) continue;
                file.bad(line, "the sex \"" + shownText(line.fields[code], 20) +
                                   "\" is none of 1, 2, M, F (0 or NA: unknown)");
            }
            const auto found = index.find(line.fields[id]);
            if (found == index.end())
                unknown.emplace_back(line.fields[id]);
            else
                people.sex[found->second] = *s;
        }
        warnUnknown(file.where(), unknown, warnings);
    }

    const auto listed = [&](const std::string& option, const std::string& path) {
        TableFile file(option, path);
        std::vector<char> in(n, 0);
        std::vector<std::string> unknown;
        for (const TableLine& line : file.lines()) {
            // A sample ID first, or PLINK's FID IID: the second field when
            // the first names nobody.
            auto found = index.find(line.fields[0]);
            if (found == index.end() && line.fields.size() >= 2) found = index.find(line.fields[1]);
            if (found == index.end())
                unknown.emplace_back(line.fields[0]);
            else
                in[found->second] = 1;
        }
        warnUnknown(file.where(), unknown, warnings);
        return in;
    };
    if (options.keepFile) {
        const auto in = listed("--keep", *options.keepFile);
        for (std::size_t i = 0; i < n; ++i)
            if (!in[i]) people.group[i] = -1;
    }
    if (options.removeFile) {
        const auto in = listed("--remove", *options.removeFile);
        for (std::size_t i = 0; i < n; ++i)
            if (in[i]) people.group[i] = -1;
    }
    if (options.groupsFile) {
        TableFile file("--groups", *options.groupsFile);
        std::vector<int> groupOf(n, -1);
        std::map<std::string, int, std::less<>> groupIndex;
        std::vector<std::string> unknown;
        for (const TableLine& line : file.lines()) {
            if (line.fields.size() < 2) file.bad(line, "expected a sample ID and a group");
            auto [it, added] =
                groupIndex.emplace(std::string(line.fields[1]), static_cast<int>(groups.size()));
            if (added) groups.emplace_back(line.fields[1]);
            const auto found = index.find(line.fields[0]);
            if (found == index.end())
                unknown.emplace_back(line.fields[0]);
            else
                groupOf[found->second] = it->second;
        }
        warnUnknown(file.where(), unknown, warnings);
        for (std::size_t i = 0; i < n; ++i)
            if (people.group[i] >= 0) people.group[i] = groupOf[i];
        people.groupCount = std::max<std::size_t>(groups.size(), 1);
    }
    return people;
}

ChromKind chromKind(std::string_view chrom) {
    std::string c = lower(chrom);
    if (c.rfind("chr", 0) == 0) c.erase(0, 3);
    if (c == "x" || c == "23") return ChromKind::X;
    if (c == "xy" || c == "25" || c == "par1" || c == "par2") return ChromKind::Par;
    if (c == "y" || c == "24") return ChromKind::Y;
    if (c == "mt" || c == "m" || c == "26") return ChromKind::Mito;
    return ChromKind::Autosome;
}

bool inPar(ParBuild build, std::uint64_t pos) {
    switch (build) {
        case ParBuild::B37:
            return (pos >= 60001 && pos <= 2699520) || (pos >= 154931044 && pos <= 155260560);
        case ParBuild::B38:
            return (pos >= 10001 && pos <= 2781479) || (pos >= 155701383 && pos <= 156030895);
        case ParBuild::None: return false;
    }
    return false;
}

std::string_view skipReason(ChromKind kind) {
    if (kind == ChromKind::Y) return "on chromosome Y";
    if (kind == ChromKind::Mito) return "on the mitochondrial genome";
    return {};
}

std::string missingSexMessage(const People& people) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < people.ids.size(); ++i)
        if (people.group[i] >= 0 && people.sex[i] == Sex::Unknown) names.push_back(people.ids[i]);
    if (names.empty()) return {};
    std::string text = std::to_string(names.size()) +
                       (names.size() == 1 ? " person has" : " people have") +
                       " no sex, which markers on chromosome X need (";
    for (std::size_t i = 0; i < names.size() && i < 5; ++i) {
        if (i) text += ", ";
        text += shownText(names[i], 40);
    }
    if (names.size() > 5) text += ", ...";
    return text + "); give them one with --sex FILE, or leave them out with --remove FILE";
}

void addMarker(SampleBatch& batch, std::size_t record, const GenotypeSite& site, bool xLinked,
               const std::vector<Tally>& tallies, const std::vector<std::string>& groups) {
    std::uint64_t haploid = 0;
    for (std::size_t g = 0; g < tallies.size(); ++g) {
        const Tally& t = tallies[g];
        haploid += t.haploid;
        InputSample& s = batch.samples.emplace_back();
        s.line = record;
        s.marker = site.id;
        s.site = site;
        if (!groups.empty()) s.site.group = groups[g];
        s.site.missing = t.missing;
        s.site.maleHet = t.maleHet;
        s.counts = {t.aa,    t.ab,    t.bb,
                    t.maleA, t.maleB, xLinked ? LocusKind::XLinked : LocusKind::Autosomal};
    }
    if (haploid > 0)
        batch.notes.push_back(
            {record, site.id, "haploid calls on an autosome, counted as missing", false});
}

}  // namespace genotypes

std::optional<ParBuild> parseParBuild(std::string_view name) {
    if (name == "b37") return ParBuild::B37;
    if (name == "b38") return ParBuild::B38;
    if (name == "none") return ParBuild::None;
    return std::nullopt;
}

namespace {

bool exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Whether the first bytes read as text: no NUL, few other control bytes.
bool looksLikeText(const unsigned char* data, std::size_t size) {
    std::size_t control = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) return false;
        if (data[i] < 0x20 && data[i] != '\n' && data[i] != '\r' && data[i] != '\t') ++control;
    }
    return control * 20 <= size;
}

std::string compressionName(htsCompression c) {
    switch (c) {
        case gzip: return "a gzip file";
        case bgzf: return "a BGZF-compressed file";
        case bzip2_compression: return "a bzip2-compressed file";
        case xz_compression: return "an xz-compressed file";
        case zstd_compression: return "a zstd-compressed file";
        default: return "a compressed file";
    }
}

}  // namespace

RecognisedInput recogniseInput(const std::string& path) {
    RecognisedInput r;
    r.path = path;
    // A PLINK fileset may be named by its prefix.
    if (!exists(path) && exists(path + ".bed")) r.path = path + ".bed";
    std::ifstream in(r.path, std::ios::binary);
    if (!in) throw SourceError(std::string("cannot be read (") + std::strerror(errno) + ")");
    unsigned char head[4096];
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) throw SourceError(std::string("cannot be read (") + std::strerror(errno) + ")");
    if (got >= 3 && head[0] == 0x6C && head[1] == 0x1B) {
        if (head[2] == 0x01) {
            r.format = InputFormat::PlinkBed;
        } else if (head[2] == 0x00) {
            r.unreadable =
                "a PLINK .bed file in individual-major mode, which is not read (plink --make-bed "
                "writes it in SNP-major mode)";
        } else {
            r.unreadable = "a PLINK 2 .pgen file or a PLINK .bed of an unknown mode";
        }
        return r;
    }
    const bool compressed = got >= 2 && head[0] == 0x1F && head[1] == 0x8B;
    const bool otherBinary = !compressed && !looksLikeText(head, got);
    if (!compressed && !otherBinary &&
        !(got >= 16 && std::memcmp(head, "##fileformat=VCF", 16) == 0))
        return r;  // count lines, or an empty file

    hFILE* file = hopen(r.path.c_str(), "r");
    if (!file) throw SourceError(std::string("cannot be read (") + std::strerror(errno) + ")");
    htsFormat format{};
    const int detected = hts_detect_format2(file, r.path.c_str(), &format);
    hclose_abruptly(file);
    if (detected == 0 && format.format == vcf) {
        r.format = InputFormat::Vcf;
    } else if (detected == 0 && format.format == bcf) {
        r.format = InputFormat::Bcf;
    } else if (compressed || format.compression != no_compression) {
        r.unreadable =
            compressionName(format.compression == no_compression ? gzip : format.compression);
        if (detected == 0 && format.format != unknown_format && format.format != binary_format &&
            format.format != text_format && format.format != empty_format) {
            char* description = hts_format_description(&format);
            r.unreadable += std::string(" (") + (description ? description : "?") + ")";
            std::free(description);
        }
        r.unreadable += format.format == empty_format ? " that is empty once uncompressed"
                                                      : " that holds no VCF header";
    } else if (detected == 0 && format.format != unknown_format && format.format != binary_format &&
               format.format != text_format) {
        char* description = hts_format_description(&format);
        r.unreadable = std::string("a file of ") + (description ? description : "another format") +
                       ", not a VCF, BCF, PLINK .bed or count lines";
        std::free(description);
    } else {
        r.unreadable = "a binary file of no format read here";
    }
    return r;
}

std::unique_ptr<GenotypeSource> openGenotypeFile(const RecognisedInput& input,
                                                 const GenotypeOptions& options,
                                                 std::size_t batchRecords) {
    if (input.format == InputFormat::PlinkBed)
        return genotypes::openPlink(input.path, options, batchRecords);
    return genotypes::openVcf(input.path, options, batchRecords);
}

}  // namespace zyg
