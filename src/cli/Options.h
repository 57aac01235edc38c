#pragma once

// The option code the command-line programs share: reading the texts of
// numeric options (a value, a list, a range from:to:step), whole numbers, and
// a table of options that parses the arguments and writes the option lines of
// --help. The parser is written here rather than taken from a library: the
// range syntax, and messages that quote each option's text exactly as typed
// (so that "0,05" is shown as the user wrote it, not as the list 0 and 5 it
// became), are domain work that no general-purpose parser does.

#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <optional>
#include <ostream>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/TestCatalogue.h"
#include "sources/GenotypeFiles.h"

namespace zyg {

// Exit statuses of the command lines: 0 done, 1 an output could not be
// written, 2 bad input.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Input the user gave that cannot be used. what() is one line naming the
// option, the text as typed and what is allowed.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& message) : std::runtime_error(message) {}
};

// The lines of --help that describe the tests, in their order: each test's
// name and its help line from the test catalogue.
std::string testHelpLines(std::span<const HweTest> tests);

// The tests' names, "a, b and c" (or joined by `separator` when it is given).
std::string testNameList(std::span<const HweTest> tests, const char* separator = nullptr);

// Throws `option "text": why`.
[[noreturn]] void refuse(std::string_view option, std::string_view text, const std::string& why);

// The kind of locus a --locus value names; refuses any other, listing the
// kinds.
LocusKind parseLocusOption(std::string_view text);

// The tests of a --test value, comma-separated, in its order, a test named
// twice twice. Refuses a name that is not one of `offered`, saying "the
// tests are " and their names (testNameList with `separator`).
std::vector<HweTest> parseTestList(std::string_view text, std::span<const HweTest> offered,
                                   const char* separator = nullptr);

// A value ("0.1"), a list ("0.1,0.2") or a range "from:to:step" (from,
// from + step, ... up to to, which is included when the step lands on it), or
// a list of such ranges and values. Numbers use ".". Refuses malformed text,
// a range that runs backwards or has a step of 0 or less, and more than
// `maxValues` values.
std::vector<double> parseList(std::string_view option, std::string_view text,
                              std::size_t maxValues);

// A whole number from `low` to `high` written in decimal digits only.
std::uint64_t parseWhole(std::string_view option, std::string_view text, std::uint64_t low,
                         std::uint64_t high, const std::string& allowed);

// One option: its name, its value's name (nullptr for a flag), its line of
// --help and what it does with its value. Adding an option is adding an entry.
template <class Options>
struct OptionEntry {
    std::string name;
    const char* valueName;
    std::string help;
    std::function<void(Options&, const std::string&)> apply;
};

// An option whose value is a file name, stored in `member`; an empty name is
// refused with `whenEmpty` ("give a file name, or - for standard output").
template <class Options>
OptionEntry<Options> fileOption(const char* name, const char* help, const char* whenEmpty,
                                std::optional<std::string> Options::*member) {
    return {name, "FILE", help, [name, whenEmpty, member](Options& o, const std::string& v) {
                if (v.empty()) refuse(name, v, whenEmpty);
                o.*member = v;
            }};
}

// How a genotype file is read, for every command that reads one: --par,
// --multiallelic, --sex, --keep, --remove and --region, into the
// GenotypeOptions at `genotypes`.
template <class Options>
std::vector<OptionEntry<Options>> genotypeFileOptions(GenotypeOptions Options::*genotypes) {
    using Field = std::optional<std::string> GenotypeOptions::*;
    const auto file = [genotypes](const char* name, const char* valueName, const char* help,
                                  const char* whenEmpty, Field field) {
        return OptionEntry<Options>{
            name, valueName, help,
            [name, whenEmpty, genotypes, field](Options& o, const std::string& v) {
                if (v.empty()) refuse(name, v, whenEmpty);
                (o.*genotypes).*field = v;
            }};
    };
    return {
        {"--par", "BUILD", "the pseudo-autosomal regions of X: b37, b38 (default) or none",
         [genotypes](Options& o, const std::string& v) {
             const auto build = parseParBuild(v);
             if (!build) refuse("--par", v, "give b37, b38 or none");
             (o.*genotypes).par = *build;
         }},
        {"--multiallelic", "HOW",
         "multi-allelic sites: skip (default), or split into ID:ALT markers",
         [genotypes](Options& o, const std::string& v) {
             if (v != "skip" && v != "split") refuse("--multiallelic", v, "give skip or split");
             (o.*genotypes).splitMultiallelic = v == "split";
         }},
        file("--sex", "FILE", "a VCF's sexes: sample ID and sex (1 or M, 2 or F) a line",
             "give a file name", &GenotypeOptions::sexFile),
        file("--keep", "FILE",
             "genotype files: only the sample IDs of FILE (first column, or FID IID)",
             "give a file name", &GenotypeOptions::keepFile),
        file("--remove", "FILE", "genotype files: leave out the sample IDs of FILE",
             "give a file name", &GenotypeOptions::removeFile),
        file("--region", "CHR:FROM-TO", "an indexed VCF or BCF: only the markers of the region",
             "give CHR, CHR:FROM or CHR:FROM-TO", &GenotypeOptions::region),
    };
}

// Applies every "--name value", "--name=value" and flag to `options` and
// returns the operands (the arguments that are no options). "--" ends the
// options: every argument after it is an operand. Refuses an unknown option,
// a missing value and an option given twice; `given` receives the names.
// `operands` says whether the program takes any.
template <class Options>
std::vector<std::string> parseArguments(const std::vector<std::string>& args,
                                        const std::vector<OptionEntry<Options>>& table,
                                        Options& options, std::set<std::string>& given,
                                        std::string_view program, bool takesOperands) {
    std::vector<std::string> operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        const bool looksLikeOption = name.size() > 2 && name.rfind("--", 0) == 0;
        if (!optionsEnded && name == "--") {
            optionsEnded = true;
            continue;
        }
        if (optionsEnded || !looksLikeOption) {
            if (!takesOperands)
                throw UsageError("\"" + name + "\": unexpected argument; options start with --");
            operands.push_back(name);
            continue;
        }
        bool inlineValue = false;
        if (const auto eq = name.find('='); eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        const auto it = std::find_if(table.begin(), table.end(),
                                     [&](const OptionEntry<Options>& s) { return name == s.name; });
        if (it == table.end())
            throw UsageError(name + ": unknown option (" + std::string(program) +
                             " --help lists them)");
        if (!it->valueName && inlineValue) throw UsageError(name + ": takes no value");
        if (it->valueName && !inlineValue) {
            if (i + 1 >= args.size())
                throw UsageError(name + ": needs a value (" + it->valueName + ")");
            value = args[++i];
        }
        if (!given.insert(name).second) throw UsageError(name + ": given twice");
        it->apply(options, value);
    }
    return operands;
}

// Whether one of `names` stands among the arguments as an option of its own,
// not as the value of the option before it, and before any "--".
template <class Options>
bool asksFor(const std::vector<std::string>& args, const std::vector<OptionEntry<Options>>& table,
             std::initializer_list<std::string_view> names) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") return false;
        if (std::find(names.begin(), names.end(), args[i]) != names.end()) return true;
        const auto it =
            std::find_if(table.begin(), table.end(),
                         [&](const OptionEntry<Options>& s) { return args[i] == s.name; });
        if (it != table.end() && it->valueName) ++i;  // its value follows
    }
    return false;
}

// Runs a command's body and makes what it throws its exit status: bad input
// (UsageError) is one line on `err` and status 2, any other failure one line
// and status 1.
template <class Body>
int exitStatusOf(std::string_view program, std::ostream& err, Body body) {
    try {
        return body();
    } catch (const UsageError& e) {
        err << program << ": " << e.what() << "\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        err << program << ": " << e.what() << "\n";
        return kExitFailure;
    }
}

// The option lines of --help: "  --name VALUE        help".
template <class Options>
std::string optionLines(const std::vector<OptionEntry<Options>>& table) {
    std::string text;
    for (const OptionEntry<Options>& s : table) {
        // Appended rather than `"  " + std::string(...)`: GCC 12 at -O3 warns
        // falsely (-Wrestrict) on a literal plus a temporary string
        // (https://gcc.gnu.org/bugzilla/show_bug.cgi?id=105329).
        std::string head = "  ";
        head += s.name;
        if (s.valueName) (head += " ") += s.valueName;
        if (head.size() < 20) head += std::string(20 - head.size(), ' ');
        text += head + "  " + s.help + "\n";
    }
    return text;
}

}  // namespace zyg
