#ifndef FAZOLT_CODEGEN_APPLYOPERATORS_H
#define FAZOLT_CODEGEN_APPLYOPERATORS_H

#include "model/systemRecord.h"

// The connectives resolved once per call.
enum class AndMethod : uint8_t { Min, Prod, Host };
enum class OrMethod : uint8_t { Max, Probor, Sum, Host };
AndMethod selectAndMethod(const DynArray<uint8_t> *name);
OrMethod selectOrMethod(const DynArray<uint8_t> *name);
// Fills firingStrengths (numRules) from ruleInputValues (numRules x
// numInputs, mapRuleAntecedents) and returns the total firing strength,
// accumulated in rule order from 0.0. A host method receives a rule's
// values as a column copied into scratch (numInputs doubles, one
// dimension). The row loop's path when a connective is a host function.
double applyOperators(zorbTLS *tls, const DynArray<double> *ruleInputValues, const SystemRecord *fis,
                      AndMethod andMethod, OrMethod orMethod, DynArray<double> *firingStrengths,
                      DynArray<double> *scratch);
// For built-in connectives and at least one input: each rule's values read
// from the row's degree table (fillDegreeTable) through its indices
// (planRuleDegrees), combined with the same operations in the same order
// as applyOperators. andMethod and orMethod are both built in. hasNaN false promises that no entry a rule reads is
// NaN. ruleInputValues, when given, receives the values (the last row);
// firingStrengths and the total as applyOperators. firedRules, when given,
// receives the rules of positive strength in order, and the strengths'
// plainness is found; without it numFired is -1 and plainness false.
struct RuleFiring {
    double totalFiringStrength;
    bool areStrengthsPlain;  // every strength +0 or positive
    int32_t numFired;        // rules listed in firedRules
};
RuleFiring fireRulesBuiltIn(const SystemRecord *fis, const DynArray<int32_t> *ruleDegrees,
                            const DynArray<double> *degrees, bool hasNaN, AndMethod andMethod, OrMethod orMethod,
                            DynArray<double> *ruleInputValues, DynArray<double> *firingStrengths,
                            DynArray<int32_t> *firedRules);

#endif
