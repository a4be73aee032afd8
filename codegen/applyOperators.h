#ifndef FAZOLT_CODEGEN_APPLYOPERATORS_H
#define FAZOLT_CODEGEN_APPLYOPERATORS_H

#include "model/systemRecord.h"

// Fills firingStrengths (numRules) from ruleInputValues and returns the
// total firing strength, accumulated in rule order from 0.0. scratch holds
// numInputs doubles (one dimension).
double applyOperators(zorbTLS *tls, const DynArray<double> *ruleInputValues, const SystemRecord *fis,
                      DynArray<double> *firingStrengths, DynArray<double> *scratch);
// values: one dimension, numInputs elements.
double evaluateAndMethod(zorbTLS *tls, const DynArray<uint8_t> *name, const DynArray<double> *values);
double evaluateOrMethod(zorbTLS *tls, const DynArray<uint8_t> *name, const DynArray<double> *values);

// The connectives resolved once per call.
enum class AndMethod : uint8_t { Min, Prod, Host };
enum class OrMethod : uint8_t { Max, Probor, Sum, Host };
AndMethod selectAndMethod(const DynArray<uint8_t> *name);
OrMethod selectOrMethod(const DynArray<uint8_t> *name);
// applyOperators with the connectives selected once: the same strengths,
// total and host calls.
double applyOperatorsByMethod(zorbTLS *tls, const DynArray<double> *ruleInputValues, const SystemRecord *fis,
                              AndMethod andMethod, OrMethod orMethod, DynArray<double> *firingStrengths,
                              DynArray<double> *scratch);
// For built-in connectives and at least one input: each rule's values read
// from the row's degree table (fillDegreeTable) through its indices
// (planRuleDegrees), combined with the same operations in the same order
// as applyOperators. hasNaN false promises that no entry a rule reads is
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
