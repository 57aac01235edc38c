// The option code the command lines share: lists and ranges of numbers, whole
// numbers, and the arguments read through a table of options.
#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "power/StudyRequest.h"

using namespace zyg;

namespace {

std::string usageMessage(const std::function<void()>& f) {
    try {
        f();
    } catch (const UsageError& e) {
        return e.what();
    }
    return "no error";
}

struct Toy {
    std::string name;
    bool loud = false;
};

const std::vector<OptionEntry<Toy>>& toyTable() {
    static const std::vector<OptionEntry<Toy>> table = {
        {"--name", "NAME", "a name", [](Toy& t, const std::string& v) { t.name = v; }},
        {"--loud", nullptr, "a flag", [](Toy& t, const std::string&) { t.loud = true; }},
    };
    return table;
}

}  // namespace

TEST(Axis, ValuesListsAndRanges) {
    EXPECT_EQ(parseList("--p", "0.1", kMaxListValues), (std::vector<double>{0.1}));
    EXPECT_EQ(parseList("--p", "0.1,0.25", kMaxListValues), (std::vector<double>{0.1, 0.25}));
    // Range values are the decimals the user wrote, not accumulated steps.
    EXPECT_EQ(parseList("--p", "0.1:0.5:0.1", kMaxListValues),
              (std::vector<double>{0.1, 0.2, 0.3, 0.4, 0.5}));
    const auto hundred = parseList("--n", "10:1000:10", kMaxListValues);
    ASSERT_EQ(hundred.size(), 100u);
    EXPECT_EQ(hundred.front(), 10);
    EXPECT_EQ(hundred.back(), 1000);
    // The end is included only when a step lands on it.
    EXPECT_EQ(parseList("--f", "0:1:0.3", kMaxListValues), (std::vector<double>{0, 0.3, 0.6, 0.9}));
    EXPECT_EQ(parseList("--f", "0.5:0.5:1", kMaxListValues), (std::vector<double>{0.5}));
    EXPECT_EQ(parseList("--n", "1,5:7:1", kMaxListValues), (std::vector<double>{1, 5, 6, 7}));
    EXPECT_EQ(parseList("--level", "5e-3", kMaxListValues), (std::vector<double>{0.005}));
}

TEST(Axis, MalformedTextNamesTheOptionAndTheValue) {
    for (const char* bad :
         {"", "abc", "0.1,", ",0.1", "1,,2", "1:2", "1:2:3:4", "1:x:1", "nan", "inf", "0,1"}) {
        if (std::string(bad) == "0,1") continue;  // a list of two values, not a decimal comma
        const std::string m = usageMessage([&] { parseList("--p", bad, kMaxListValues); });
        EXPECT_EQ(m.rfind("--p \"" + std::string(bad) + "\": ", 0), 0u) << m;
    }
    EXPECT_NE(usageMessage([] { parseList("--n", "5:1:1", kMaxListValues); }).find("backwards"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { parseList("--n", "1:5:0", kMaxListValues); }).find("step"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { parseList("--n", "1:5:-1", kMaxListValues); }).find("step"),
              std::string::npos);
    EXPECT_NE(usageMessage([] { parseList("--f", "0:1:1e-9", kMaxListValues); }).find("more than"),
              std::string::npos);
}

TEST(Arguments, OptionsValuesFlagsAndTheEndOfTheOptions) {
    Toy toy;
    std::set<std::string> given;
    const auto operands = parseArguments({"--name=x", "--loud", "a", "--", "--name", "-"},
                                         toyTable(), toy, given, "toy", true);
    EXPECT_EQ(toy.name, "x");
    EXPECT_TRUE(toy.loud);
    // After "--" every argument is an operand, even one that looks like an option.
    EXPECT_EQ(operands, (std::vector<std::string>{"a", "--name", "-"}));
    EXPECT_EQ(given, (std::set<std::string>{"--name", "--loud"}));

    // A value that starts like an option is still the option's value.
    Toy negative;
    std::set<std::string> seen;
    parseArguments({"--name", "--loud"}, toyTable(), negative, seen, "toy", false);
    EXPECT_EQ(negative.name, "--loud");
    EXPECT_FALSE(negative.loud);

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--name"}, "--name: needs a value (NAME)"},
        {{"--loud=yes"}, "--loud: takes no value"},
        {{"--loud", "--loud"}, "--loud: given twice"},
        {{"--quiet"}, "--quiet: unknown option (toy --help lists them)"},
        {{"stray"}, "\"stray\": unexpected argument"},
        {{"--", "stray"}, "\"stray\": unexpected argument"},
    };
    for (const auto& [args, expected] : refused) {
        Toy t;
        std::set<std::string> g;
        const std::string m =
            usageMessage([&] { parseArguments(args, toyTable(), t, g, "toy", false); });
        EXPECT_EQ(m.rfind(expected, 0), 0u) << m;
    }
    EXPECT_EQ(optionLines(toyTable()),
              "  --name NAME         a name\n"
              "  --loud              a flag\n");
}

TEST(Arguments, WholeNumbersAreDigitsWithinTheirRange) {
    EXPECT_EQ(parseWhole("--nrep", "50000", 1, 50000, "rule"), 50000u);
    for (const char* bad : {"", "-1", "1.0", "1e3", " 5", "50001", "0", "99999999999999999999"})
        EXPECT_EQ(usageMessage([&] { parseWhole("--nrep", bad, 1, 50000, "rule"); }),
                  "--nrep \"" + std::string(bad) + "\": rule")
            << bad;
}
