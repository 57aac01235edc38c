#pragma once

// The kinds of locus a sample can come from: an autosome, where everyone
// carries two copies, and the X chromosome, where females carry two and males
// one (hemizygotes). Each kind is one entry of kLocusKinds; lists and parsing
// read that table.

#include <optional>
#include <string_view>

namespace zyg {

enum class LocusKind {
    Autosomal,
    XLinked,
};

struct LocusKindEntry {
    LocusKind kind;
    std::string_view name;   // on the command line and in files: "autosomal", "x"
    std::string_view label;  // as people read it in tables and legends
};

// Every kind of locus, in the order of the enumeration.
inline constexpr LocusKindEntry kLocusKinds[] = {
    {LocusKind::Autosomal, "autosomal", "Autosomal"},
    {LocusKind::XLinked, "x", "X-linked"},
};

constexpr const LocusKindEntry& locusKindEntry(LocusKind kind) {
    return kLocusKinds[static_cast<int>(kind)];
}

constexpr std::optional<LocusKind> parseLocusKind(std::string_view name) {
    for (const LocusKindEntry& e : kLocusKinds)
        if (e.name == name) return e.kind;
    return std::nullopt;
}

// A set of kinds of locus, one bit per kind: which loci a test applies to.
class LocusKinds {
public:
    constexpr LocusKinds() = default;
    constexpr LocusKinds(LocusKind kind) : bits_(bit(kind)) {}
    constexpr LocusKinds operator|(LocusKinds other) const {
        return LocusKinds(bits_ | other.bits_);
    }
    constexpr bool contains(LocusKind kind) const { return (bits_ & bit(kind)) != 0; }
    constexpr bool operator==(const LocusKinds&) const = default;

private:
    explicit constexpr LocusKinds(unsigned bits) : bits_(bits) {}
    static constexpr unsigned bit(LocusKind kind) { return 1u << static_cast<unsigned>(kind); }
    unsigned bits_ = 0;
};

inline constexpr LocusKinds kAutosomalOnly{LocusKind::Autosomal};
inline constexpr LocusKinds kXLinkedOnly{LocusKind::XLinked};
inline constexpr LocusKinds kEveryLocus = kAutosomalOnly | kXLinkedOnly;

}  // namespace zyg
