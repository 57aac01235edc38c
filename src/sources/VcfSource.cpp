// VCF and BCF through htslib: the header's samples, then each record's GT
// calls counted as it is read.

#include <htslib/bgzf.h>
#include <htslib/hts.h>
#include <htslib/hts_log.h>
#include <htslib/kstring.h>
#include <htslib/tbx.h>
#include <htslib/vcf.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "sources/GenotypeCounting.h"

namespace zyg::genotypes {

namespace {

// Why htslib could not parse a record, from its error bits.
std::string recordProblem(int errcode) {
    if (errcode & BCF_ERR_NCOLS) return "too few columns for the header's samples";
    if (errcode & BCF_ERR_CTG_INVALID) return "an invalid chromosome name";
    if (errcode & BCF_ERR_TAG_INVALID) return "an invalid INFO or FORMAT field";
    if (errcode & BCF_ERR_TAG_UNDEF) return "a FORMAT field the header does not declare";
    if (errcode & BCF_ERR_LIMITS) return "a value beyond the format's limits";
    if (errcode & BCF_ERR_CHAR) return "a character not allowed there";
    return "a malformed VCF record";
}

class VcfSource : public GenotypeSource {
public:
    VcfSource(const std::string& path, const GenotypeOptions& options, std::size_t batchRecords)
        : path_(path), options_(options), batchRecords_(std::max<std::size_t>(batchRecords, 1)) {}

    // Apart from the constructor, so that the destructor frees what an open
    // that fails half-way had taken.
    void open() {
        const GenotypeOptions& options = options_;
        const std::string& path = path_;
        hts_set_log_level(HTS_LOG_OFF);
        file_ = hts_open(path.c_str(), "r");
        if (!file_) fail("cannot be read (" + std::string(std::strerror(errno)) + ")");
        // A compressed file without its end-of-file block may be cut short:
        // a record that then cannot be read says so. The check comes before
        // the decompression threads, which would wait forever on a reader
        // that a cut block has already stopped; a cut file is read on one.
        maybeCut_ = file_->format.compression == bgzf && bgzf_check_EOF(file_->fp.bgzf) == 0;
        if (options.threads > 1 && !maybeCut_)
            hts_set_threads(file_, static_cast<int>(options.threads));
        header_ = bcf_hdr_read(file_);
        if (!header_) fail(damaged("its header cannot be read"));
        std::vector<std::string> ids;
        const int n = bcf_hdr_nsamples(header_);
        for (int i = 0; i < n; ++i) ids.emplace_back(header_->samples[i]);
        if (ids.empty())
            warnings_.emplace_back("the file holds no samples: no marker has a called genotype");
        people_ = preparePeople(std::move(ids), {}, options, warnings_, groups_);
        record_ = owned_ = bcf_init();
        if (options.region) openRegion(*options.region);
    }
    ~VcfSource() override {
        if (out_) {
            hts_close(out_);
            std::remove(temporary_.c_str());
        }
        for (bcf1_t* r : pool_) bcf_destroy(r);
        if (iterator_) hts_itr_destroy(iterator_);
        if (tabix_) tbx_destroy(tabix_);
        if (index_) hts_idx_destroy(index_);
        std::free(line_.s);
        std::free(gt_);
        if (owned_) bcf_destroy(owned_);
        if (header_) bcf_hdr_destroy(header_);
        if (file_) hts_close(file_);
    }
    VcfSource(const VcfSource&) = delete;
    VcfSource& operator=(const VcfSource&) = delete;

    bool next(SampleBatch& batch) override {
        batch.clear();
        used_ = 0;
        kinds_.clear();
        while (!ended_ &&
               batch.samples.size() + batch.bad.size() + batch.notes.size() < batchRecords_) {
            if (annotating_) {
                // Each record of the batch is held until it is written.
                if (used_ == pool_.size()) pool_.push_back(bcf_init());
                record_ = pool_[used_];
            }
            const std::size_t before = batch.samples.size(), bad = batch.bad.size();
            const int got = readRecord();
            if (got == -1) {
                ended_ = true;
                break;
            }
            classify(batch, got);
            if (annotating_) {
                kinds_.push_back(
                    batch.bad.size() > bad ? -1 : static_cast<int>(batch.samples.size() - before));
                ++used_;
            }
        }
        return !batch.empty();
    }

    void beginAnnotation(const AnnotationRequest& request) override {
        const auto endsWith = [&](const char* suffix) {
            const std::size_t n = std::strlen(suffix);
            return request.path.size() >= n &&
                   request.path.compare(request.path.size() - n, n, suffix) == 0;
        };
        const char* mode = endsWith(".vcf.gz") ? "wz"
                           : endsWith(".bcf")  ? "wb"
                           : endsWith(".vcf")  ? "w"
                                               : nullptr;
        std::string where = "--annotate \"";
        where += request.path;
        where += "\": ";
        if (!mode) throw SourceError(where + "name a .vcf, .vcf.gz or .bcf file");
        target_ = request.path;
        temporary_ = request.path + ".part-" + std::to_string(::getpid());
        out_ = hts_open(temporary_.c_str(), mode);
        if (!out_) throw SourceError(where + "cannot be written (" + std::strerror(errno) + ")");
        // The copy is written with the header the records are read with, the
        // new tags declared in it: a tag or chromosome that the input's header
        // does not declare, added by htslib as a record is read, then keeps
        // its identity in the copy instead of taking the number of another.
        for (std::size_t t = 0; t < request.tags.size(); ++t)
            bcf_hdr_printf(header_, "##INFO=<ID=%s,Number=A,Type=Float,Description=\"%s\">",
                           request.tags[t].c_str(), request.descriptions[t].c_str());
        if (bcf_hdr_sync(header_) != 0 || bcf_hdr_write(out_, header_) != 0)
            throw SourceError(where + "cannot be written (" + std::strerror(errno) + ")");
        outBcf_ = std::strcmp(mode, "wb") == 0;
        writtenLines_ = header_->nhrec;
        tags_ = request.tags;
        annotating_ = true;
    }

    void annotate(const std::vector<std::vector<std::optional<double>>>& values,
                  const std::vector<char>& keep) override {
        // A VCF names its tags and chromosomes in each record, a BCF only by
        // their number in the header already written.
        if (outBcf_ && header_->nhrec != writtenLines_)
            writeProblem_ =
                "the input has a tag or chromosome that its header does not declare, which a "
                "BCF cannot hold; name a .vcf or .vcf.gz file";
        std::size_t at = 0;
        std::vector<float> floats;
        for (std::size_t r = 0; r < used_ && !writeError_ && writeProblem_.empty(); ++r) {
            if (kinds_[r] < 0) continue;
            const auto k = static_cast<std::size_t>(kinds_[r]);
            bcf1_t* record = pool_[r];
            bool kept = true;
            for (std::size_t t = 0; t < tags_.size() && k > 0; ++t) {
                floats.assign(k, 0);
                for (std::size_t j = 0; j < k; ++j) {
                    const auto& v = values[at + j][t];
                    if (!v)
                        bcf_float_set_missing(floats[j]);
                    else  // at least the smallest normal float: a rejection stays one
                        floats[j] =
                            std::max(static_cast<float>(*v), std::numeric_limits<float>::min());
                }
                bcf_update_info_float(header_, record, tags_[t].c_str(), floats.data(),
                                      static_cast<int>(k));
            }
            for (std::size_t j = 0; j < k; ++j) kept = kept && keep[at + j];
            at += k;
            if (kept && bcf_write(out_, header_, record) < 0) writeError_ = errno ? errno : EIO;
        }
    }

    std::string endAnnotation() override {
        if (!out_) return {};
        const int closed = hts_close(out_);
        out_ = nullptr;
        int error = writeError_ ? writeError_ : closed != 0 ? (errno ? errno : EIO) : 0;
        if (!error && writeProblem_.empty() &&
            std::rename(temporary_.c_str(), target_.c_str()) != 0)
            error = errno;
        if (error || !writeProblem_.empty()) {
            std::remove(temporary_.c_str());
            return writeProblem_.empty() ? std::strerror(error) : writeProblem_;
        }
        return {};
    }

private:
    void classify(SampleBatch& batch, int got) {
        ++records_;
        const std::size_t bad = batch.bad.size();
        classifyRecord(batch, got);
        if (batch.bad.size() > bad && maybeCut_)
            fail(damaged("record " + std::to_string(records_) +
                         " is cut short: the compressed file lacks its end-of-file block"));
    }

    void classifyRecord(SampleBatch& batch, int got) {
        if (got < -1) {
            if (compressedFault()) fail(damaged("its compressed data are damaged or cut short"));
            if (file_->format.format == bcf)
                fail(damaged("record " + std::to_string(records_) + " cannot be read"));
            batch.bad.push_back({records_, rawLine(), recordProblem(record_->errcode)});
            return;
        }
        // A chromosome or tag the header does not declare is added by htslib
        // as the record is read, which is no fault of the record.
        if (record_->errcode & ~(BCF_ERR_CTG_UNDEF | BCF_ERR_TAG_UNDEF)) {
            batch.bad.push_back({records_, rawLine(), recordProblem(record_->errcode)});
            return;
        }
        countRecord(batch);
    }

private:
    [[noreturn]] void fail(const std::string& why) const { throw SourceError(why); }
    std::string damaged(const std::string& what) const {
        return what + " (a damaged or truncated " +
               (file_ && file_->format.format == bcf ? "BCF" : "VCF") + " file)";
    }
    bool compressedFault() const {
        return file_->format.compression != no_compression && file_->fp.bgzf &&
               file_->fp.bgzf->errcode != 0;
    }
    std::string rawLine() const {
        if (file_->format.format != vcf) return {};
        const kstring_t& s = iterator_ ? line_ : file_->line;
        std::string text(s.s ? s.s : "", std::min<std::size_t>(s.l, 256));
        std::replace(text.begin(), text.end(), '\0', '\t');  // htslib splits the line in place
        return text;
    }

    void openRegion(const std::string& region) {
        if (file_->format.format == vcf && file_->format.compression == bgzf) {
            tabix_ = tbx_index_load3(path_.c_str(), nullptr, HTS_IDX_SILENT_FAIL);
            if (!tabix_)
                fail("--region needs an index beside the file (tabix -p vcf, or bcftools index)");
            iterator_ = tbx_itr_querys(tabix_, region.c_str());
        } else if (file_->format.format == bcf) {
            index_ = bcf_index_load3(path_.c_str(), nullptr, HTS_IDX_SILENT_FAIL);
            if (!index_) fail("--region needs an index beside the file (bcftools index)");
            iterator_ = bcf_itr_querys(index_, header_, region.c_str());
        } else {
            fail("--region reads only a bgzipped VCF or a BCF with its index");
        }
        if (!iterator_) {
            // A chromosome the index does not hold has no markers; anything
            // else is no region.
            hts_pos_t from = 0, to = 0;
            const char* end = hts_parse_reg64(region.c_str(), &from, &to);
            if (!end || from > to)
                throw SourceError("--region \"" + region +
                                  "\": expected CHR, CHR:FROM or CHR:FROM-TO");
            regionEmpty_ = true;
        }
    }

    int readRecord() {
        if (regionEmpty_) return -1;
        if (!iterator_) return bcf_read(file_, header_, record_);
        if (tabix_) {
            const int got = tbx_itr_next(file_, tabix_, iterator_, &line_);
            if (got < 0) return got;
            return vcf_parse1(&line_, header_, record_) < 0 ? -2 : 0;
        }
        return bcf_itr_next(file_, iterator_, record_);
    }

    void countRecord(SampleBatch& batch) {
        bcf_unpack(record_, BCF_UN_STR);
        const std::string id = record_->d.id && std::strcmp(record_->d.id, ".") != 0
                                   ? record_->d.id
                                   : std::string(bcf_seqname_safe(header_, record_)) + ":" +
                                         std::to_string(record_->pos + 1);
        const ChromKind kind = chromKind(bcf_seqname_safe(header_, record_));
        if (const auto reason = skipReason(kind); !reason.empty()) {
            batch.notes.push_back({records_, id, std::string(reason), true});
            return;
        }
        const int alleles = record_->n_allele;
        if (alleles > 2 && !options_.splitMultiallelic) {
            batch.notes.push_back({records_, id, "multi-allelic", true});
            return;
        }
        const std::uint64_t pos = static_cast<std::uint64_t>(record_->pos) + 1;
        const bool xLinked = kind == ChromKind::X && !inPar(options_.par, pos);
        if (xLinked && !people_.sexFromPloidy && !sexChecked_) {
            sexChecked_ = true;
            if (const std::string why = missingSexMessage(people_); !why.empty()) fail(why);
        }
        const int got = bcf_get_genotypes(header_, record_, &gt_, &gtSize_);
        const int n = static_cast<int>(people_.ids.size());
        int ploidy = got > 0 && n > 0 ? got / n : 0;
        if (got <= 0 && n > 0 && record_->n_fmt == 0) {
            batch.bad.push_back(
                {records_, rawLine(), "the record has no FORMAT and sample columns"});
            return;
        }
        if (got <= 0 && n > 0) {
            // A record with FORMAT fields other than GT is valid: it calls no
            // genotype, so everyone is missing there.
            if (gtSize_ < n) {
                void* grown = std::realloc(gt_, static_cast<std::size_t>(n) * sizeof(std::int32_t));
                if (!grown) throw std::bad_alloc();
                gt_ = static_cast<std::int32_t*>(grown);
                gtSize_ = n;
            }
            std::fill(gt_, gt_ + n, bcf_gt_missing);
            ploidy = 1;
        }
        GenotypeSite site;
        site.chrom = bcf_seqname_safe(header_, record_);
        site.pos = pos;
        site.ref = record_->d.allele[0];
        for (int k = 1; k < std::max(alleles, 2); ++k) {
            site.alt = alleles > 1 ? record_->d.allele[k] : ".";
            site.id = alleles > 2 ? id + ":" + site.alt : id;
            if (!tally(k, alleles, ploidy, xLinked)) {
                batch.bad.push_back(
                    {records_, rawLine(), "a GT call names an allele the record does not have"});
                return;
            }
            addMarker(batch, records_, site, xLinked, tallies_, groups_);
        }
    }

    // Counts the calls against allele k; false when a call names an allele
    // beyond the record's.
    bool tally(int k, int alleles, int ploidy, bool xLinked) {
        tallies_.assign(people_.groupCount, Tally{});
        const int n = static_cast<int>(people_.ids.size());
        for (int i = 0; i < n; ++i) {
            const int g = people_.group[static_cast<std::size_t>(i)];
            if (g < 0) continue;
            Tally& t = tallies_[static_cast<std::size_t>(g)];
            const std::int32_t* call = gt_ + static_cast<std::ptrdiff_t>(i) * ploidy;
            const std::int32_t first = call[0];
            const std::int32_t second = ploidy > 1 ? call[1] : bcf_int32_vector_end;
            if (first == bcf_int32_vector_end || bcf_gt_is_missing(first) ||
                (second != bcf_int32_vector_end && bcf_gt_is_missing(second)) ||
                (ploidy > 2 && call[2] != bcf_int32_vector_end)) {
                ++t.missing;
                continue;
            }
            const int a = bcf_gt_allele(first);
            const bool haploid = second == bcf_int32_vector_end;
            const int b = haploid ? a : bcf_gt_allele(second);
            if (a >= alleles || b >= alleles || a < 0 || b < 0) return false;
            const int copies = (a == k) + (b == k);
            const Sex sex = people_.sexFromPloidy ? (haploid ? Sex::Male : Sex::Female)
                                                  : people_.sex[static_cast<std::size_t>(i)];
            if (xLinked && sex == Sex::Male) {
                if (copies == 1) {
                    ++t.missing;
                    ++t.maleHet;
                } else {
                    ++(copies == 0 ? t.maleA : t.maleB);
                }
            } else if (haploid) {
                ++t.missing;
                if (!xLinked) ++t.haploid;
            } else {
                ++(copies == 0 ? t.aa : copies == 1 ? t.ab : t.bb);
            }
        }
        return true;
    }

    std::string path_;
    GenotypeOptions options_;
    std::size_t batchRecords_;
    htsFile* file_ = nullptr;
    bcf_hdr_t* header_ = nullptr;
    bcf1_t* record_ = nullptr;  // the record read into
    bcf1_t* owned_ = nullptr;
    // --annotate: the batch's records, each one's number of samples (-1 bad).
    std::vector<bcf1_t*> pool_;
    std::vector<int> kinds_;
    std::size_t used_ = 0;
    bool annotating_ = false;
    htsFile* out_ = nullptr;
    std::vector<std::string> tags_;
    std::string target_, temporary_;
    int writeError_ = 0;
    std::string writeProblem_;  // a copy that cannot be made, in words
    bool outBcf_ = false;
    int writtenLines_ = 0;  // the header's lines when it was written
    tbx_t* tabix_ = nullptr;
    hts_idx_t* index_ = nullptr;
    hts_itr_t* iterator_ = nullptr;
    kstring_t line_{0, 0, nullptr};
    std::int32_t* gt_ = nullptr;
    int gtSize_ = 0;
    People people_;
    std::vector<Tally> tallies_;
    std::size_t records_ = 0;
    bool ended_ = false;
    bool regionEmpty_ = false;
    bool sexChecked_ = false;
    bool maybeCut_ = false;
};

}  // namespace

std::unique_ptr<GenotypeSource> openVcf(const std::string& path, const GenotypeOptions& options,
                                        std::size_t batchRecords) {
    auto source = std::make_unique<VcfSource>(path, options, batchRecords);
    source->open();
    return source;
}

}  // namespace zyg::genotypes
