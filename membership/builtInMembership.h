// The built-in membership functions: each name, how many parameters it
// reads and its kind. The evaluation's dispatch, the validator and the
// description builder all read this one table; any other name is a host
// function. Header-only data, so that the embedding API can read it
// without linking the module.
#ifndef FAZOLT_MEMBERSHIP_BUILTINMEMBERSHIP_H
#define FAZOLT_MEMBERSHIP_BUILTINMEMBERSHIP_H

#include <cstdint>

// The row loop switches on the kind, resolved once per call, instead of
// comparing names. Host: any other name.
enum class MembershipKind : uint8_t {
    Trimf,
    Trapmf,
    Gaussmf,
    Gbellmf,
    Sigmf,
    Smf,
    Zmf,
    Gauss2mf,
    Dsigmf,
    Psigmf,
    Pimf,
    Host
};

struct BuiltInMembership {
    const char *name;
    int32_t nameLength;
    int32_t numParams;  // parameters read, by position
    MembershipKind kind;
};

// Names are matched in this order, exactly: by length, then byte by byte.
inline constexpr BuiltInMembership kBuiltInMemberships[] = {
    {"trimf", 5, 3, MembershipKind::Trimf},     {"trapmf", 6, 4, MembershipKind::Trapmf},
    {"gaussmf", 7, 2, MembershipKind::Gaussmf}, {"gbellmf", 7, 3, MembershipKind::Gbellmf},
    {"sigmf", 5, 2, MembershipKind::Sigmf},     {"smf", 3, 2, MembershipKind::Smf},
    {"zmf", 3, 2, MembershipKind::Zmf},         {"gauss2mf", 8, 4, MembershipKind::Gauss2mf},
    {"dsigmf", 6, 4, MembershipKind::Dsigmf},   {"psigmf", 6, 4, MembershipKind::Psigmf},
    {"pimf", 4, 4, MembershipKind::Pimf},
};

constexpr bool isInKindOrder() {
    int k = 0;
    for (const BuiltInMembership &b : kBuiltInMemberships)
        if (static_cast<int>(b.kind) != k++) return false;
    return true;
}
static_assert(isInKindOrder(), "builtInMembershipOf indexes the table by kind");

// The entry for a name of `length` bytes, or null for a host function.
inline const BuiltInMembership *findBuiltInMembership(const uint8_t *name, int64_t length) {
    for (const BuiltInMembership &b : kBuiltInMemberships) {
        if (b.nameLength != length) continue;
        int32_t k = 0;
        while (k < length && name[k] == static_cast<uint8_t>(b.name[k])) ++k;
        if (k == length) return &b;
    }
    return nullptr;
}

inline const BuiltInMembership &builtInMembershipOf(MembershipKind kind) {
    return kBuiltInMemberships[static_cast<int>(kind)];  // not Host
}

#endif
