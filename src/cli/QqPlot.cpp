#include "cli/QqPlot.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <thread>

#include "core/NumberText.h"
#include "engine/NullSize.h"
#include "report/WholeFile.h"

extern char** environ;

namespace zyg {

namespace {

constexpr std::size_t kTail = 300;   // ranks kept exactly
constexpr double kBinWidth = 0.01;   // -log10 p of the bulk
constexpr double kRankStep = 1.02;   // beyond the tail, ranks this far apart
constexpr int kGridPerDecade = 100;  // levels 10^(-k/100)
constexpr int kFirstLevel = 31;      // 10^-0.31, below the 0.5 the tests take
constexpr int kLastLevel = 300 * kGridPerDecade;
constexpr const char* kPlotProgram = "zygomet-plot-qq";

double minusLog10(Extended p) {
    p = std::max(p, std::numeric_limits<Extended>::min());
    return std::max(0.0, static_cast<double>(-std::log10(p)));
}

// The regularised incomplete beta function I_x(a, b) by its continued
// fraction (modified Lentz), on the side where it converges fast.
double incompleteBeta(double a, double b, double x) {
    if (x <= 0) return 0;
    if (x >= 1) return 1;
    if (x > (a + 1) / (a + b + 2)) return 1 - incompleteBeta(b, a, 1 - x);
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) +
                                  a * std::log(x) + b * std::log1p(-x)) /
                         a;
    constexpr double tiny = 1e-300;
    double c = 1, d = 1 - (a + b) * x / (a + 1);
    if (std::fabs(d) < tiny) d = tiny;
    d = 1 / d;
    double f = d;
    for (int m = 1; m < 100000; ++m) {
        for (int half = 0; half < 2; ++half) {
            const double numerator =
                half == 0 ? m * (b - m) * x / ((a + 2 * m - 1) * (a + 2 * m))
                          : -(a + m) * (a + b + m) * x / ((a + 2 * m) * (a + 2 * m + 1));
            d = 1 + numerator * d;
            if (std::fabs(d) < tiny) d = tiny;
            c = 1 + numerator / c;
            if (std::fabs(c) < tiny) c = tiny;
            d = 1 / d;
            f *= c * d;
        }
        if (std::fabs(c * d - 1) < 1e-13) break;
    }
    return front * f;
}

// The u-quantile of Beta(a, b), by bisection on log x.
double betaQuantile(double a, double b, double u) {
    double lo = -745, hi = 0;  // log x
    for (int k = 0; k < 80; ++k) {
        const double mid = (lo + hi) / 2;
        if (incompleteBeta(a, b, std::exp(mid)) < u)
            lo = mid;
        else
            hi = mid;
    }
    return std::exp((lo + hi) / 2);
}

// A panel's null distribution of the p-value on the grid of levels:
// value[k] = F0(10^(-x[k])).
struct NullGrid {
    std::vector<double> x;
    std::vector<long double> value;

    // -log10 of the smallest level t at which F0(t) reaches q.
    double inverse(long double q) const {
        std::size_t k = 0;
        while (k + 1 < value.size() && value[k + 1] >= q) ++k;
        if (k + 1 == value.size()) return x[k];
        const long double above = value[k], below = value[k + 1];
        if (below <= 0) return x[k];
        const long double share = std::log(above / q) / std::log(above / below);
        return x[k] + static_cast<double>(share) * (x[k + 1] - x[k]);
    }
};

NullGrid nullGrid(HweTest test, bool male,
                  const std::map<std::array<std::uint64_t, 3>, std::uint64_t>& markers,
                  std::uint64_t total, long double smallest) {
    NullGrid grid;
    grid.x.push_back(0);
    grid.value.push_back(1);
    const long double n = static_cast<long double>(total);
    std::vector<const std::pair<const std::array<std::uint64_t, 3>, std::uint64_t>*> keys;
    for (const auto& entry : markers) keys.push_back(&entry);
    // A valid test rejects at most a share t of null samples at level t, so
    // the grid falls below `smallest` by the level `smallest` (a decade
    // further for the mid-p tests): one pass there makes each marker's null
    // distribution once; later passes, a decade each, are for what is left.
    const int reach =
        static_cast<int>(std::ceil(-std::log10(static_cast<double>(smallest)) * kGridPerDecade)) +
        kGridPerDecade;
    for (int from = kFirstLevel,
             to = std::min(std::max(reach, from + kGridPerDecade - 1), kLastLevel);
         from <= kLastLevel; from = to + 1, to = std::min(from + kGridPerDecade - 1, kLastLevel)) {
        std::vector<double> levels;
        for (int k = from; k <= to; ++k)
            levels.push_back(std::pow(10.0, -static_cast<double>(k) / kGridPerDecade));
        std::vector<XTestLevel> xRequests;
        std::vector<TestLevel> requests;
        if (male)
            for (double level : levels)
                xRequests.push_back({*parseXTest(hweTestName(test)), level});
        else
            for (double level : levels) requests.push_back({test, level});
        const NullSizePlan plan(requests);
        // The markers' sizes in fixed chunks on every core, each chunk's sum
        // its own, added in chunk order: the same figures on any machine.
        constexpr std::size_t kChunk = 64;
        const std::size_t chunks = (keys.size() + kChunk - 1) / kChunk;
        std::vector<std::vector<long double>> chunkSums(chunks);
        std::atomic<std::size_t> nextChunk{0};
        const auto work = [&] {
            for (std::size_t c; (c = nextChunk.fetch_add(1)) < chunks;) {
                std::vector<long double> part(levels.size(), 0);
                for (std::size_t i = c * kChunk; i < std::min(keys.size(), (c + 1) * kChunk); ++i) {
                    const auto& [key, count] = *keys[i];
                    const auto sizes = male ? xNullSizes({static_cast<std::uint32_t>(key[0]),
                                                          static_cast<std::uint32_t>(key[1])},
                                                         key[2], xRequests)
                                            : plan.sizes(static_cast<std::uint32_t>(key[0]),
                                                         static_cast<std::uint32_t>(key[1]));
                    if (!sizes) continue;
                    for (std::size_t k = 0; k < sizes->size(); ++k)
                        part[k] += (*sizes)[k] * static_cast<long double>(count);
                }
                chunkSums[c] = std::move(part);
            }
        };
        std::vector<std::thread> pool;
        const unsigned threads = std::max(1u, std::min(8u, std::thread::hardware_concurrency()));
        for (unsigned t = 1; t < threads && t < chunks; ++t) pool.emplace_back(work);
        work();
        for (std::thread& t : pool) t.join();
        std::vector<long double> sum(levels.size(), 0);
        for (const std::vector<long double>& part : chunkSums)
            for (std::size_t k = 0; k < part.size(); ++k) sum[k] += part[k];
        for (std::size_t k = 0; k < levels.size(); ++k) {
            grid.x.push_back(static_cast<double>(from + static_cast<int>(k)) / kGridPerDecade);
            grid.value.push_back(sum[k] / n);
        }
        if (grid.value.back() < smallest) break;
    }
    return grid;
}

std::string temporaryFile(const char* what) {
    const char* folder = std::getenv("TMPDIR");
    std::string name = folder && *folder ? folder : "/tmp";
    name += "/zygomet-qq-";
    name += what;
    name += "-XXXXXX";
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    const int fd = ::mkstemp(text.data());
    if (fd < 0) return {};
    ::close(fd);
    return text.data();
}

bool executable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The drawing program: beside this program (a build), in its libexec
// folder (an installation), else on the PATH.
std::optional<std::string> plotProgram() {
    std::vector<char> self(4096);
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (length > 0) {
        std::string folder(self.data(), static_cast<std::size_t>(length));
        folder.erase(folder.rfind('/'));
        for (const char* relative : {"/", "/../libexec/zygomet/"}) {
            std::string candidate = folder;
            candidate += relative;
            candidate += kPlotProgram;
            if (executable(candidate)) return candidate;
        }
    }
    if (const char* path = std::getenv("PATH")) {
        std::stringstream folders(path);
        for (std::string folder; std::getline(folders, folder, ':');) {
            if (folder.empty()) continue;
            std::string candidate = folder;
            (candidate += '/') += kPlotProgram;
            if (executable(candidate)) return candidate;
        }
    }
    return std::nullopt;
}

}  // namespace

bool qqFileName(const std::string& path) {
    if (path.size() < 5) return false;
    std::string end = path.substr(path.size() - 4);
    for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return end == ".png" || end == ".svg" || end == ".csv";
}

void QqCollector::add(std::size_t test, LocusKind locus, const SampleCounts& c, Extended p) {
    Panel& panel = panels_[{test, locus}];
    const double x = minusLog10(p);
    ++panel.count;
    if (panel.tail.size() < kTail)
        panel.tail.push(x);
    else if (x > panel.tail.top()) {
        panel.tail.pop();
        panel.tail.push(x);
    }
    const auto bin = static_cast<std::size_t>(std::min(x, 400.0) / kBinWidth);
    if (panel.bins.size() <= bin) panel.bins.resize(bin + 1, 0);
    ++panel.bins[bin];
    const bool male = !appliesTo(tests_[test], LocusKind::Autosomal);
    const std::array<std::uint64_t, 3> key =
        male ? std::array<std::uint64_t, 3>{c.aa + c.ab + c.bb, c.maleA + c.maleB,
                                            2 * c.aa + c.ab + c.maleA}
             : std::array<std::uint64_t, 3>{c.aa + c.ab + c.bb, 2 * c.aa + c.ab, 0};
    ++panel.markers[key];
}

std::vector<QqPanel> QqCollector::panels() const {
    std::vector<QqPanel> out;
    for (const auto& [where, panel] : panels_) {
        QqPanel model{tests_[where.first], where.second, panel.count, {}};
        const std::uint64_t n = panel.count;
        const auto total = static_cast<long double>(n);
        const double a = 1, b = static_cast<double>(n);
        const long double smallest =
            std::min<long double>(0.5L / total, betaQuantile(a, b, 0.025) / 2);
        const NullGrid grid = nullGrid(model.test, !appliesTo(model.test, LocusKind::Autosomal),
                                       panel.markers, n, smallest);
        // The tail exactly, largest -log10 p first.
        std::vector<double> tail;
        for (auto copy = panel.tail; !copy.empty(); copy.pop()) tail.push_back(copy.top());
        std::reverse(tail.begin(), tail.end());
        std::size_t bin = panel.bins.size();
        std::uint64_t above = 0;  // the values in the bins above `bin`
        for (std::uint64_t rank = 1; rank <= n;) {
            QqPoint point;
            point.rank = rank;
            if (rank <= tail.size()) {
                point.observed = tail[rank - 1];
            } else {
                while (bin > 0 && above < rank) above += panel.bins[--bin];
                point.observed = (static_cast<double>(bin) + 0.5) * kBinWidth;
            }
            const long double q = (static_cast<long double>(rank) - 0.5L) / total;
            point.expected = grid.inverse(q);
            point.uniform = static_cast<double>(-std::log10(q));
            const double i = static_cast<double>(rank), rest = static_cast<double>(n - rank + 1);
            point.low = grid.inverse(betaQuantile(i, rest, 0.975));
            point.high = grid.inverse(betaQuantile(i, rest, 0.025));
            model.points.push_back(point);
            if (rank == n) break;
            std::uint64_t next = rank + 1;
            if (rank >= kTail)
                next = std::max(next, static_cast<std::uint64_t>(
                                          std::ceil(static_cast<double>(rank) * kRankStep)));
            rank = std::min(next, n);
        }
        out.push_back(std::move(model));
    }
    // The map orders by test, then locus: autosomal before X-linked.
    return out;
}

std::string qqCsv(const std::vector<QqPanel>& panels) {
    std::string text = "test,locus,markers,rank,expected,observed,low,high,uniform\n";
    for (const QqPanel& panel : panels)
        for (const QqPoint& p : panel.points) {
            text += hweTestName(panel.test);
            text += ',';
            text += locusKindEntry(panel.locus).name;
            (text += ',') += std::to_string(panel.markers);
            (text += ',') += std::to_string(p.rank);
            for (double v : {p.expected, p.observed, p.low, p.high, p.uniform})
                (text += ',') += shortestText(v);
            text += '\n';
        }
    return text;
}

std::string writeQqFile(const std::string& path, const std::vector<QqPanel>& panels) {
    if (path.size() >= 4) {
        std::string end = path.substr(path.size() - 4);
        for (char& c : end) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end == ".csv") {
            const std::string fault = writeWholeFile(path, qqCsv(panels));
            if (fault.empty()) return {};
            std::string message = "the file cannot be written (";
            return (message += fault) += ")";
        }
    }
    if (panels.empty()) return "no p-values to plot";
    const std::optional<std::string> program = plotProgram();
    if (!program) {
        std::string message = "the plot needs the program ";
        message += kPlotProgram;
        return message + ", found neither beside zygomet-test nor on the PATH";
    }
    const std::string data = temporaryFile("data"), errors = temporaryFile("errors");
    const auto cleanUp = [&] {
        if (!data.empty()) std::remove(data.c_str());
        if (!errors.empty()) std::remove(errors.c_str());
    };
    if (data.empty() || errors.empty() || !writeWholeFile(data, qqCsv(panels)).empty()) {
        cleanUp();
        return "the plot's numbers cannot be written to a temporary file";
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> args = {*program, data, path};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    const int spawned =
        posix_spawn(&child, program->c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned == 0)
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    std::string said;
    {
        std::ifstream in(errors);
        std::getline(in, said);
    }
    cleanUp();
    if (spawned != 0) {
        std::string message = "the program ";
        message += *program;
        return (message += " cannot be started: ") += std::strerror(spawned);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return {};
    if (!said.empty()) return said;
    std::string message = "the program ";
    message += *program;
    return message + " failed";
}

}  // namespace zyg
