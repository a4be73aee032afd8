// A system as C: constant tables for the system, then the fixed runtime of
// cRuntime.h. The tables are read from the record as the module reads it
// (through the Explainer, which the module has checked), and the output terms
// of a Mamdani system are the module's own values at the sample points, so
// that no membership function of an output is evaluated on the target.
//
// Sections: refusals, number and table texts, the header, the source, files.
#include "api/cRuntime.h"
#include "common/errorBoundary.h"
#include "cScalarExp.h"
#include "membership/builtInMembership.h"

#include <fazolt/error_ids.h>
#include <fazolt/explain.h>
#include <fazolt/export_c.h>
#include <fazolt/version.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace fazolt {

namespace {

// ---- Refusals.

[[noreturn]] void refuse(const std::string &what) {
    throw orvane::HostError(ids::exportUnsupported, "cannot export to C: " + what);
}

bool isOneOf(const std::string &name, std::initializer_list<const char *> names) {
    for (const char *n : names)
        if (name == n) return true;
    return false;
}

const BuiltInMembership *builtInNamed(const std::string &type) {
    return findBuiltInMembership(reinterpret_cast<const uint8_t *>(type.data()), static_cast<int64_t>(type.size()));
}

bool isIdentifier(const std::string &s) {
    if (s.empty() || (s[0] >= '0' && s[0] <= '9')) return false;
    for (char c : s)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
    return true;
}

// ---- Functions of the user's: refused, or declared for the user to define
// in C (CExportOptions::isExtern), called as the engine calls them.

enum class ExternRole { Membership, Connective, Implication, Aggregation, MamdaniDefuzz, SugenoDefuzz };

struct ExternFunction {
    std::string name;
    ExternRole role;
    std::string usedBy;
};

struct Externs {
    bool isAllowed;
    std::vector<ExternFunction> functions;

    void take(const std::string &name, ExternRole role, const std::string &usedBy) {
        if (!isAllowed)
            refuse(usedBy + " uses the custom function \"" + name +
                   "\"; generated C has only the built-in functions (--extern declares it for you to define in C)");
        if (!isIdentifier(name)) refuse("the custom function \"" + name + "\" of " + usedBy + " is not a C identifier");
        for (const ExternFunction &f : functions) {
            if (f.name != name) continue;
            if (f.role != role)
                refuse("the custom function \"" + name + "\" serves both " + f.usedBy + " and " + usedBy +
                       ", which C calls with different arguments");
            return;
        }
        functions.push_back({name, role, usedBy});
    }
    bool has(ExternRole role) const {
        for (const ExternFunction &f : functions)
            if (f.role == role) return true;
        return false;
    }
};

void takeMethod(Externs &externs, const std::string &role, const std::string &name,
                std::initializer_list<const char *> builtIn, ExternRole externRole) {
    if (!isOneOf(name, builtIn)) externs.take(name, externRole, role);
}

Externs checkExportable(const System &system, const SystemInfo &info, bool isExtern) {
    Externs externs{isExtern, {}};
    if (info.inputs.empty()) refuse("the system has no inputs");
    if (info.rules.empty()) refuse("the system has no rules");
    takeMethod(externs, "andMethod", info.andMethod, {"min", "prod"}, ExternRole::Connective);
    takeMethod(externs, "orMethod", info.orMethod, {"max", "probor", "sum"}, ExternRole::Connective);
    if (info.isMamdani) {
        takeMethod(externs, "impMethod", info.impMethod, {"min", "prod"}, ExternRole::Implication);
        takeMethod(externs, "aggMethod", info.aggMethod, {"max", "probor", "sum"}, ExternRole::Aggregation);
        // The engine hands a custom aggregation the record's whole rule block.
        std::vector<double> orrSize = system.record().field(0, "orrSize").toDoubles();
        if (externs.has(ExternRole::Aggregation) && (orrSize.empty() || orrSize[0] != info.numSamples))
            refuse("the record's rule-output block is not one row per sample point");
    }
    takeMethod(externs, "defuzzMethod", info.defuzzMethod, {"centroid", "bisector", "mom", "som", "lom", "wtaver", "wtsum"},
               info.isMamdani ? ExternRole::MamdaniDefuzz : ExternRole::SugenoDefuzz);
    size_t numTerms = 0;
    for (const VariableInfo &v : info.inputs) {
        numTerms += v.terms.size();
        for (const TermInfo &t : v.terms)
            if (builtInNamed(t.type) == nullptr)
                externs.take(t.type, ExternRole::Membership, "input \"" + v.name + "\" term \"" + t.name + "\"");
    }
    if (numTerms == 0) refuse("no input has a term");
    // Mamdani output terms are tabulated here, whatever computes them.
    for (const VariableInfo &v : info.outputs)
        for (const TermInfo &t : v.terms) {
            const std::string where = "output \"" + v.name + "\" term \"" + t.name + "\"";
            if (!info.isMamdani && !isOneOf(t.type, {"constant", "linear"}))
                refuse(where + " is of type \"" + t.type + "\"; a Sugeno output term is constant or linear");
            if (info.isMamdani && builtInNamed(t.type) == nullptr && !isExtern)
                refuse(where + " uses the custom function \"" + t.type +
                       "\"; generated C has only the built-in functions (--extern tabulates it)");
        }
    return externs;
}

// What the user's function receives and returns, as a C declaration.
std::string externDeclaration(const std::string &prefix, const ExternFunction &f, bool isFloat) {
    const std::string R = isFloat ? "float" : "double";
    const std::string name = prefix + "_fn_" + f.name;
    switch (f.role) {
        case ExternRole::Membership: return R + " " + name + "(" + R + " x, const " + R + " params[], int numParams);";
        case ExternRole::Connective: return R + " " + name + "(const " + R + " values[], int count);";
        case ExternRole::Implication:
            return "void " + name + "(const " + R + " set[], " + R + " strength, int count, " + R + " result[]);";
        case ExternRole::Aggregation:
            return "void " + name + "(const " + R + " implied[], int numRules, int count, " + R + " result[]);";
        case ExternRole::MamdaniDefuzz:
            return R + " " + name + "(const " + R + " points[], const " + R + " set[], int count);";
        case ExternRole::SugenoDefuzz: return R + " " + name + "(" + R + " weightedSum, " + R + " totalStrength);";
    }
    return "";
}

// ---- Number and table texts.

// Round-trip decimal text that C and C++ read alike (no hex floats in C++
// before 17): 17 digits for a double, 9 for a float, always with a point.
std::string number(double v, bool isFloat) {
    if (std::isnan(v)) return "(fz_real)NAN";
    if (std::isinf(v)) return v < 0 ? "-(fz_real)INFINITY" : "(fz_real)INFINITY";
    char text[40];
    if (isFloat) {
        std::snprintf(text, sizeof text, "%.9g", static_cast<double>(static_cast<float>(v)));
    } else {
        std::snprintf(text, sizeof text, "%.17g", v);
    }
    std::string s = text;
    if (s.find_first_of(".e") == std::string::npos) s += ".0";
    return isFloat ? s + "f" : s;
}

struct TableWriter {
    std::string &out;
    bool isFloat;

    void reals(const char *name, const std::vector<double> &values) {
        out += "static const fz_real " + std::string(name) + "[" + std::to_string(values.size()) + "] = {";
        for (size_t k = 0; k < values.size(); ++k) {
            out += k % 4 == 0 ? "\n    " : " ";
            out += number(values[k], isFloat) + ",";
        }
        out += "\n};\n";
    }
    void integers(const char *type, const char *name, const std::vector<int> &values) {
        out += "static const " + std::string(type) + " " + name + "[" + std::to_string(values.size()) + "] = {";
        for (size_t k = 0; k < values.size(); ++k) {
            out += k % 16 == 0 ? "\n    " : " ";
            out += std::to_string(values[k]) + ",";
        }
        out += "\n};\n";
    }
};

std::string upper(const std::string &s) {
    std::string u = s;
    for (char &c : u)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return u;
}


// Names come from the user's file: keep a comment closed whatever they hold.
// The own exp's text with its hexadecimal constants as decimal ones that read
// back to the same doubles (17 digits), since C++ before 17 has no hex floats.
std::string withDecimalConstants(const std::string &text) {
    static const std::regex hexFloat("0x[0-9a-fA-F]+(\\.[0-9a-fA-F]*)?p[-+]?[0-9]+");
    std::string out;
    auto last = text.cbegin();
    for (std::sregex_iterator m(text.begin(), text.end(), hexFloat), end; m != end; ++m) {
        out.append(last, (*m)[0].first);
        char digits[40];
        std::snprintf(digits, sizeof digits, "%.17g", std::strtod(m->str().c_str(), nullptr));
        out += digits;
        if (std::strpbrk(digits, ".e") == nullptr) out += ".0";
        last = (*m)[0].second;
    }
    out.append(last, text.cend());
    return out;
}

std::string commentSafe(const std::string &s) {
    std::string out;
    for (size_t k = 0; k < s.size(); ++k) {
        char c = s[k];
        if (c == '\n' || c == '\r') c = ' ';
        if (c == '/' && !out.empty() && out.back() == '*') out += ' ';
        if (c == '*' && k + 1 < s.size() && s[k + 1] == '/') {
            out += "* ";
            continue;
        }
        out += c;
    }
    return out;
}

std::string rangeText(const VariableInfo &v, bool isClamped) {
    return "[" + orvane::formatDouble(v.low, false) + ", " + orvane::formatDouble(v.high, false) + "]" +
           (isClamped ? ", clamped to it" : "");
}

// ---- The header.

struct Flag {
    const char *name;
    int bit;
    const char *meaning;
};
constexpr Flag kFlags[] = {
    {"OUT_OF_RANGE_INPUT", 1, "an input outside its range (eval: diagFazolt_OutOfRangeInput)"},
    {"NO_RULE_FIRED", 2, "no rule fired; each output is its default or its range's midpoint (warnFazolt_NoRuleFired)"},
    {"EMPTY_OUTPUT_SET", 4, "an output's set is empty (warnFazolt_ZeroMembershipValue)"},
    {"NAN_INPUT", 8, "an input is NaN (fazolt:inputs:NaN)"},
    {"NON_FINITE_OUTPUT", 16, "an output is NaN or infinite from finite inputs (fazolt:outputs:NonFinite)"},
};

std::string clampedAt(const std::vector<std::optional<std::pair<double, double>>> &clamps, size_t k) {
    return k < clamps.size() && clamps[k] ? "1" : "0";
}

std::string headerText(const System &system, const SystemInfo &info, const Externs &externs, const std::string &prefix,
                       bool isFloat) {
    const std::string P = upper(prefix);
    const char *real = isFloat ? "float" : "double";
    std::string h;
    h += "/* " + prefix + ".h: the fuzzy system \"" + commentSafe(info.name) + "\" (" + info.type +
         ") as C, generated by fazolt " + FAZOLT_VERSION_STRING + (isFloat ? " in single precision" : "") + ".\n *\n";
    h += " * int " + prefix + "_evaluate(const " + real + " inputs[], " + real + " outputs[]);\n";
    h += " *   Evaluates one row: reads inputs[" + P + "_NUM_INPUTS], writes outputs[" + P +
         "_NUM_OUTPUTS], in the\n"
         " *   orders below. Returns 0, or the " +
         P +
         "_ bits below of what happened on the row; the\n"
         " *   outputs are written in every case. Reentrant: no heap, no static state.\n *\n";
    h += " * Inputs:\n";
    for (size_t i = 0; i < info.inputs.size(); ++i)
        h += " *   inputs[" + std::to_string(i) + "]  " + commentSafe(info.inputs[i].name) + "  " +
             rangeText(info.inputs[i], clampedAt(system.inputClamps(), i) == "1") + "\n";
    h += " * Outputs:\n";
    for (size_t o = 0; o < info.outputs.size(); ++o)
        h += " *   outputs[" + std::to_string(o) + "] " + commentSafe(info.outputs[o].name) + "  " +
             rangeText(info.outputs[o], clampedAt(system.outputClamps(), o) == "1") + "\n";
    h += " *\n * This file was generated by fazolt from a system of its user. It belongs to whoever\n"
         " * generated it, with no condition attached: fazolt's licence does not cover it.\n */\n";
    h += "#ifndef " + P + "_H\n#define " + P + "_H\n\n#ifdef __cplusplus\nextern \"C\" {\n#endif\n\n";
    h += "#define " + P + "_NUM_INPUTS " + std::to_string(info.inputs.size()) + "\n";
    h += "#define " + P + "_NUM_OUTPUTS " + std::to_string(info.outputs.size()) + "\n\n";
    h += "/* The bits " + prefix + "_evaluate returns, and the warning fazolt eval gives for each. */\n";
    for (const Flag &f : kFlags)
        h += "#define " + P + "_" + f.name + " " + std::to_string(f.bit) + " /* " + f.meaning + " */\n";
    h += "\nint " + prefix + "_evaluate(const " + real + " inputs[], " + real + " outputs[]);\n";
    if (!externs.functions.empty()) {
        h += "\n/* The system's own functions, for you to define in C (fazolt export --extern).\n"
             " * " + prefix + "_evaluate calls them as fazolt calls them:\n"
             " *   a membership function: the degree at x of an input term, params[numParams] its\n"
             " *     parameters as the system gives them (output terms are tabulated: not called);\n"
             " *   andMethod, orMethod: a rule's value from its inputs' values[count], in input order\n"
             " *     (1 for an input an AND rule does not test, 0 under OR; 1 - degree under NOT);\n"
             " *   impMethod: result[count], the implied set, from a rule's output set[count] at\n"
             " *     the sample points (complemented under NOT) and its strength;\n"
             " *   aggMethod: result[count], the output's set, from implied[numRules * count],\n"
             " *     implied[r * count + s] rule r's implied set at point s (0 for a rule that\n"
             " *     says nothing of this output);\n"
             " *   defuzzMethod (Mamdani): the crisp value of set[count] at points[count];\n"
             " *   defuzzMethod (Sugeno): the crisp value from the sum of each rule's strength times\n"
             " *     its output level, and the sum of the strengths (never 0: that row is\n"
             " *     NO_RULE_FIRED). */\n";
        for (const ExternFunction &f : externs.functions)
            h += externDeclaration(prefix, f, isFloat) + " /* " + commentSafe(f.usedBy) + " */\n";
    }
    h += "\n#ifdef __cplusplus\n}\n#endif\n\n#endif\n";
    return h;
}

// ---- The source.

void defineFlag(std::string &c, const char *name, bool isSet) {
    c += std::string("#define ") + name + (isSet ? " 1\n" : " 0\n");
}

// The membership kinds that the kinds used call in turn.
std::vector<bool> kindsUsed(const SystemInfo &info) {
    std::vector<bool> used(static_cast<size_t>(MembershipKind::Host), false);
    for (const VariableInfo &v : info.inputs)
        for (const TermInfo &t : v.terms)
            if (const BuiltInMembership *b = builtInNamed(t.type)) used[static_cast<size_t>(b->kind)] = true;
    auto k = [](MembershipKind m) { return static_cast<size_t>(m); };
    if (used[k(MembershipKind::Gauss2mf)]) used[k(MembershipKind::Gaussmf)] = true;
    if (used[k(MembershipKind::Dsigmf)] || used[k(MembershipKind::Psigmf)]) used[k(MembershipKind::Sigmf)] = true;
    if (used[k(MembershipKind::Pimf)]) used[k(MembershipKind::Smf)] = used[k(MembershipKind::Zmf)] = true;
    return used;
}

constexpr int kExternKind = 11;  // FZ_EXTERN in the runtime

// The user's membership functions by input term, each with its parameters.
std::string externMembershipText(const SystemInfo &info, const std::string &prefix, bool isFloat) {
    std::string tables, cases;
    int j = 0;
    for (const VariableInfo &v : info.inputs)
        for (const TermInfo &term : v.terms) {
            if (builtInNamed(term.type) == nullptr) {
                const std::string k = std::to_string(j), n = std::to_string(term.params.size());
                std::string params = "(const fz_real *)0";
                if (!term.params.empty()) {
                    params = "fz_externParams" + k;
                    TableWriter{tables, isFloat}.reals(params.c_str(), term.params);
                }
                cases += "    case " + k + ": return " + prefix + "_fn_" + term.type + "(x, " + params + ", " + n + ");\n";
            }
            ++j;
        }
    return "\n/* ---- The user's membership functions, by input term. */\n\n" + tables +
           "static fz_real fz_externMembership(int term, fz_real x) {\n    switch (term) {\n" + cases +
           "    default: break;\n    }\n    return FZ_C(0.0); /* never reached */\n}\n";
}

// som and lom start from the point of largest (som) or smallest (lom)
// magnitude, which depends on the sample points alone: found here, as the
// engine finds it on every row.
std::vector<int> magnitudeStarts(const SystemInfo &info) {
    const bool isSmallest = info.defuzzMethod == "som";
    std::vector<int> starts;
    for (const std::vector<double> &x : info.samplePoints) {
        size_t start = 0;
        double h = std::fabs(x[0]);
        for (size_t i = 0; i < x.size(); ++i) {
            const double a = std::fabs(x[i]);
            if (!std::isnan(a) && (std::isnan(h) || (isSmallest ? a > h : a < h))) {
                h = a;
                start = i;
            }
        }
        starts.push_back(static_cast<int>(start));
    }
    return starts;
}

std::string sourceText(const System &system, const Explainer &explainer, const Externs &externs,
                       const std::string &prefix, bool isFloat) {
    const SystemInfo &info = explainer.info();
    const std::string P = upper(prefix);
    const size_t numInputs = info.inputs.size(), numOutputs = info.outputs.size(), numRules = info.rules.size();
    std::string c;
    c += "/* " + prefix + ".c: the fuzzy system \"" + commentSafe(info.name) + "\" as C, generated by fazolt " +
         FAZOLT_VERSION_STRING + ".\n *\n";
    if (isFloat) {
        c += " * Single precision: the outputs differ from fazolt's double-precision ones.\n";
    } else {
        c += " * The outputs are fazolt's bit for bit: + - * / and comparisons are exact IEEE\n"
             " * operations everywhere and exp is fazolt's own, below; pow (gbellmf) is the C\n"
             " * library's, so a system with gbellmf is exact only with the library fazolt used.\n";
    }
    c += " * Compile without -ffast-math (or -Ofast, -funsafe-math-optimizations), and with\n"
         " * -ffp-contract=off on targets that have a fused multiply-add (GCC's GNU modes fuse by\n"
         " * default); on 32-bit x86 use SSE2 arithmetic (-msse2 -mfpmath=sse).\n"
         " *\n * This file was generated by fazolt from a system of its user. It belongs to whoever\n"
         " * generated it, with no condition attached: fazolt's licence does not cover it.\n */\n";
    c += "#include \"" + prefix + ".h\"\n\n#include <math.h>\n\n";

    // Which parts of the runtime this system takes.
    const std::vector<bool> used = kindsUsed(info);
    auto usesKind = [&](MembershipKind m) { return used[static_cast<size_t>(m)]; };
    defineFlag(c, "FZ_FLOAT", isFloat);
    defineFlag(c, "FZ_MAMDANI", info.isMamdani);
    defineFlag(c, "FZ_AND_PROD", info.andMethod == "prod");
    defineFlag(c, "FZ_OR_MAX", info.orMethod == "max");
    defineFlag(c, "FZ_OR_PROBOR", info.orMethod == "probor");
    defineFlag(c, "FZ_IMP_PROD", info.impMethod == "prod");
    defineFlag(c, "FZ_AGG_MAX", info.aggMethod == "max");
    defineFlag(c, "FZ_AGG_PROBOR", info.aggMethod == "probor");
    for (const char *m : {"centroid", "bisector", "mom", "som", "wtaver", "wtsum"})
        defineFlag(c, ("FZ_DEFUZZ_" + upper(m)).c_str(), info.defuzzMethod == m);
    for (const BuiltInMembership &b : kBuiltInMemberships)
        defineFlag(c, ("FZ_USE_" + upper(b.name)).c_str(), usesKind(b.kind));
    const bool usesExp = usesKind(MembershipKind::Gaussmf) || usesKind(MembershipKind::Sigmf);
    defineFlag(c, "FZ_USES_EXP", usesExp);
    defineFlag(c, "FZ_USES_POW", usesKind(MembershipKind::Gbellmf));
    // The user's functions, called through macros the runtime tests.
    const std::pair<const char *, const std::string *> methods[] = {
        {"AND", &info.andMethod}, {"OR", &info.orMethod}, {"IMP", &info.impMethod},
        {"AGG", &info.aggMethod}, {"DEFUZZ", &info.defuzzMethod}};
    for (const auto &[macro, name] : methods) {
        bool isExtern = false;
        for (const ExternFunction &f : externs.functions)
            isExtern = isExtern || (f.name == *name && f.role != ExternRole::Membership);
        defineFlag(c, (std::string("FZ_") + macro + "_EXTERN").c_str(), isExtern);
        if (isExtern) c += std::string("#define FZ_") + macro + "_FN " + prefix + "_fn_" + *name + "\n";
    }
    defineFlag(c, "FZ_EXTERN_MEMBERSHIP", externs.has(ExternRole::Membership));
    std::vector<double> orrSize = system.record().field(0, "orrSize").toDoubles();
    defineFlag(c, "FZ_SUGENO_PADDED",
               !info.isMamdani && !orrSize.empty() && orrSize[0] > static_cast<double>(numRules));
    size_t numInputTerms = 0, numOutputTerms = 0;
    for (const VariableInfo &v : info.inputs) numInputTerms += v.terms.size();
    for (const VariableInfo &v : info.outputs) numOutputTerms += v.terms.size();
    c += "#define FZ_NUM_INPUTS " + std::to_string(numInputs) + "\n";
    c += "#define FZ_NUM_OUTPUTS " + std::to_string(numOutputs) + "\n";
    c += "#define FZ_NUM_RULES " + std::to_string(numRules) + "\n";
    c += "#define FZ_NUM_INPUT_TERMS " + std::to_string(numInputTerms) + "\n";
    c += "#define FZ_NUM_OUTPUT_TERMS " + std::to_string(numOutputTerms) + "\n";
    if (info.isMamdani) c += "#define FZ_NUM_SAMPLES " + std::to_string(info.numSamples) + "\n";
    for (const Flag &f : kFlags) c += std::string("#define FZ_FLAG_") + f.name + " " + P + "_" + f.name + "\n";
    const bool isShort = 2 * numInputTerms + 2 < 32767 && 2 * numOutputTerms < 32767;
    c += std::string("typedef ") + (isShort ? "short" : "int") + " fz_entry;\n";
    c += kCRuntimeTypes;

    // The tables.
    TableWriter t{c, isFloat};
    std::vector<double> ranges;
    std::vector<int> clamps, firstTerms, kinds;
    std::vector<double> params;
    int first = 0;
    for (size_t i = 0; i < numInputs; ++i) {
        const VariableInfo &v = info.inputs[i];
        ranges.insert(ranges.end(), {v.low, v.high});
        clamps.push_back(clampedAt(system.inputClamps(), i) == "1");
        firstTerms.push_back(first);
        first += static_cast<int>(v.terms.size());
        for (const TermInfo &term : v.terms) {
            const BuiltInMembership *b = builtInNamed(term.type);
            kinds.push_back(b != nullptr ? static_cast<int>(b->kind) : kExternKind);
            for (size_t q = 0; q < 4; ++q) params.push_back(q < term.params.size() ? term.params[q] : 0.0);
        }
    }
    firstTerms.push_back(first);
    c += "\n/* ---- The system's tables. */\n\n";
    t.reals("fz_inputRange", ranges);
    t.integers("unsigned char", "fz_inputClamp", clamps);
    t.integers("int", "fz_firstInputTerm", firstTerms);
    t.integers("unsigned char", "fz_inputTermKind", kinds);
    t.reals("fz_inputTermParams", params);

    ranges.clear();
    clamps.clear();
    std::vector<int> firstOutputTerm;
    first = 0;
    for (size_t o = 0; o < numOutputs; ++o) {
        ranges.insert(ranges.end(), {info.outputs[o].low, info.outputs[o].high});
        clamps.push_back(clampedAt(system.outputClamps(), o) == "1");
        firstOutputTerm.push_back(first);
        first += static_cast<int>(info.outputs[o].terms.size());
    }
    firstOutputTerm.push_back(first);
    t.reals("fz_outputRange", ranges);
    t.integers("unsigned char", "fz_outputClamp", clamps);
    // Where no rule fired an output with a default takes it: kind 1 the value, 2 NaN.
    const std::vector<std::optional<double>> &defaults = system.outputDefaults();
    if (!defaults.empty()) {
        std::vector<int> defaultKinds;
        std::vector<double> defaultValues;
        for (size_t o = 0; o < numOutputs; ++o) {
            const bool hasDefault = o < defaults.size() && defaults[o].has_value();
            const double d = hasDefault ? *defaults[o] : 0.0;
            defaultKinds.push_back(!hasDefault ? 0 : (std::isnan(d) ? 2 : 1));
            defaultValues.push_back(hasDefault && !std::isnan(d) ? d : 0.0);
        }
        c += "#define FZ_HAS_DEFAULTS 1\n";
        t.integers("unsigned char", "fz_outputDefaultKind", defaultKinds);
        t.reals("fz_outputDefault", defaultValues);
    }

    std::vector<int> antecedent, consequent, isAnd;
    bool usesNot = false;
    std::vector<double> weight;
    for (const RuleInfo &rule : info.rules) {
        // Indices into the row's rule inputs: degrees, complements, 1, 0.
        for (size_t i = 0; i < numInputs; ++i) {
            const int k = rule.antecedent[i];
            const int T = static_cast<int>(numInputTerms);
            usesNot = usesNot || k < 0;
            antecedent.push_back(k == 0 ? 2 * T + (rule.isAnd ? 0 : 1)
                                        : (k < 0 ? T + firstTerms[i] - k - 1 : firstTerms[i] + k - 1));
        }
        for (size_t o = 0; o < numOutputs; ++o) {
            int k = rule.consequent[o];
            int magnitude = k < 0 ? -k : k;
            consequent.push_back(k == 0 ? 0 : (k < 0 ? -1 : 1) * (firstOutputTerm[o] + magnitude));
        }
        isAnd.push_back(rule.isAnd);
        weight.push_back(rule.weight);
    }
    defineFlag(c, "FZ_USES_NOT", usesNot);
    bool areWeightsUnit = true;
    for (double w : weight) areWeightsUnit = areWeightsUnit && ((w > 0.0 && w <= 1.0) || (w == 0.0 && !std::signbit(w)));
    defineFlag(c, "FZ_WEIGHTS_UNIT", areWeightsUnit);
    t.integers("fz_entry", "fz_antecedent", antecedent);
    t.integers("unsigned char", "fz_isAndRule", isAnd);
    t.reals("fz_weight", weight);
    if (info.isMamdani) {
        // The sets a rule can conclude: each term's values at the sample
        // points, then the complement of each term some rule negates.
        std::vector<double> points, sets;
        for (const std::vector<double> &x : info.samplePoints) points.insert(points.end(), x.begin(), x.end());
        for (const std::vector<std::vector<double>> &curves : explainer.outputTermCurves())
            for (const std::vector<double> &curve : curves) sets.insert(sets.end(), curve.begin(), curve.end());
        const size_t numSamples = static_cast<size_t>(info.numSamples);
        std::map<int, int> complementRow;
        for (int &entry : consequent) {
            if (entry >= 0) continue;
            auto [it, isNew] = complementRow.try_emplace(-entry, static_cast<int>(sets.size() / numSamples) + 1);
            if (isNew)
                for (size_t s = 0; s < numSamples; ++s) {
                    const double complement = 1.0 - sets[static_cast<size_t>(-entry - 1) * numSamples + s];
                    sets.push_back(complement > 0.0 ? complement : 0.0);  // NaN too gives 0
                }
            entry = it->second;
        }
        t.integers("fz_entry", "fz_consequent", consequent);
        t.reals("fz_samplePoints", points);
        t.reals("fz_outputSets", sets);
        // Each set's span of positive values, for the rows whose sets are
        // built on supports alone (FZ_SETS_PLAIN).
        bool isPlain = isOneOf(info.impMethod, {"min", "prod"}) && isOneOf(info.aggMethod, {"max", "probor", "sum"}) &&
                       !externs.has(ExternRole::MamdaniDefuzz);
        for (double v : sets) isPlain = isPlain && ((v > 0.0 && v <= 1.0) || (v == 0.0 && !std::signbit(v)));
        for (double x : points) isPlain = isPlain && std::isfinite(x);
        defineFlag(c, "FZ_SETS_PLAIN", isPlain);
        if (isPlain) {
            std::vector<int> support;
            for (size_t k = 0; k < sets.size() / numSamples; ++k) {
                int low = static_cast<int>(numSamples), end = 0;
                for (size_t s = 0; s < numSamples; ++s)
                    if (sets[k * numSamples + s] > 0.0) {
                        low = std::min(low, static_cast<int>(s));
                        end = static_cast<int>(s) + 1;
                    }
                support.insert(support.end(), {low, end});
            }
            t.integers("int", "fz_setSupport", support);
        }
        if (isOneOf(info.defuzzMethod, {"som", "lom"})) t.integers("int", "fz_magnitudeStart", magnitudeStarts(info));
    } else {
        t.integers("fz_entry", "fz_consequent", consequent);
        std::vector<int> isLinear;
        std::vector<double> coefficients;
        for (const VariableInfo &v : info.outputs) {
            for (const TermInfo &term : v.terms) {
                const bool isConstant = term.type == "constant";
                isLinear.push_back(!isConstant);
                const size_t numRead = isConstant ? 1 : numInputs + 1;
                for (size_t q = 0; q < numInputs + 1; ++q)
                    coefficients.push_back(q < numRead && q < term.params.size() ? term.params[q] : 0.0);
            }
        }
        t.integers("unsigned char", "fz_isLinearTerm", isLinear);
        t.reals("fz_outputCoefficients", coefficients);
    }

    if (usesExp && !isFloat) {
        c += "\n/* ---- fazolt's own exp. */\n";
        c += withDecimalConstants(kCScalarExp);
    }
    if (externs.has(ExternRole::Membership)) c += externMembershipText(info, prefix, isFloat);
    c += kCRuntime;
    const char *real = isFloat ? "float" : "double";
    c += "\nint " + prefix + "_evaluate(const " + real + " inputs[], " + real +
         " outputs[]) { return fz_evaluate(inputs, outputs); }\n";
    return c;
}

// ---- Files.

// The text written beside `path` and renamed over it once complete, so a
// failure leaves any old file as it was.
void writeWhole(const std::string &path, const std::string &text) {
    std::string temporary = path + ".XXXXXX";
    int fd = mkstemp(temporary.data());
    if (fd < 0) throw orvane::HostError(ids::ioCannotWrite, path + ": " + std::strerror(errno));
    int error = 0;
    size_t done = 0;
    while (done < text.size() && error == 0) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR) error = errno;
        if (n > 0) done += static_cast<size_t>(n);
    }
    // mkstemp makes the file private; source files are read by others too.
    if (error == 0 && fchmod(fd, 0644) != 0) error = errno;
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && std::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        std::remove(temporary.c_str());
        throw orvane::HostError(ids::ioWriteFailed, path + ": " + std::strerror(error));
    }
}

}  // namespace

CExport generateC(const System &system, const std::string &prefix, const CExportOptions &options) try {
    if (!isIdentifier(prefix))
        throw orvane::HostError(ids::exportBadPrefix,
                                "the prefix \"" + prefix + "\" is not a C identifier (letters, digits and _)");
    Explainer explainer(system);
    const Externs externs = checkExportable(system, explainer.info(), options.isExtern);
    return CExport{headerText(system, explainer.info(), externs, prefix, options.isFloat),
                   sourceText(system, explainer, externs, prefix, options.isFloat)};
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

void exportC(const System &system, const std::string &directory, const std::string &prefix,
             const CExportOptions &options) try {
    CExport files = generateC(system, prefix, options);
    std::string base = (directory.empty() ? std::string(".") : directory) + "/" + prefix;
    writeWhole(base + ".h", files.header);
    writeWhole(base + ".c", files.source);
} catch (const orvane::HostError &e) {
    rethrowAsError(e);
}

}  // namespace fazolt
