// Checks the imported system record and inputs before the evaluation reads
// them. The evaluation trusts every count, index and size in the record; a
// record that breaks those relations would make it read or write outside its
// arrays. Only such records, and those without a defined result, are
// rejected: every other record evaluates exactly as it would unchecked.
//
// Sections: reporting, counts and extents, variables and membership
// functions, rules, intermediate sizes, validateSystem.
#include "host/validateSystem.h"
#include "membership/builtInMembership.h"
#include "model/indexArithmetic.h"

#include <cstdarg>
#include <cstdio>
#include <limits>

namespace {

constexpr int64_t kInt32Limit = std::numeric_limits<int32_t>::max();

// ---- Reporting: rejectSystem, below the checks.

int64_t rowsOf(const DynArray<double> *a) { return a->size[0]; }
int64_t colsOf(const DynArray<double> *a) { return a->numDimensions > 1 ? a->size[1] : 1; }

template <typename T>
int64_t elementCount(const DynArray<T> *a) {
    int64_t n = 1;
    for (int32_t k = 0; k < a->numDimensions; ++k) n *= a->size[k];
    return n;
}

// ---- Counts and extents.

void checkCount(zorbTLS *tls, const char *name, int32_t value) {
    if (value < 0) rejectSystem(tls, "fis.%s is %d; a count cannot be negative", name, value);
}

template <typename T>
void checkAtLeast(zorbTLS *tls, const char *field, const char *what, int64_t have, const char *countName,
                  int64_t need) {
    if (have < need) {
        rejectSystem(tls, "fis.%s has %lld %s, fewer than %s (%lld)", field, static_cast<long long>(have), what,
                     countName, static_cast<long long>(need));
    }
}

// Counts per variable and their running sums: entry k of the cumulative row
// must be the sum of the counts before k, and the sum must fit the cache.
int64_t checkCounts(zorbTLS *tls, const char *countsName, const char *cumulativeName, const DynArray<int32_t> *counts,
                    const DynArray<int32_t> *cumulative, int32_t numVars, const char *numVarsName) {
    checkAtLeast<int32_t>(tls, countsName, "entries", elementCount(counts), numVarsName, numVars);
    checkAtLeast<int32_t>(tls, cumulativeName, "entries", elementCount(cumulative), numVarsName, numVars);
    int64_t total = 0;
    for (int64_t k = 0; k < elementCount(counts); ++k) {
        if (counts->data[k] < 0) {
            rejectSystem(tls, "fis.%s(%lld) is %d; a count cannot be negative", countsName,
                         static_cast<long long>(k + 1), counts->data[k]);
        }
        if (k < numVars && cumulative->data[k] != total) {
            rejectSystem(tls, "fis.%s(%lld) is %d, but the counts before it add up to %lld", cumulativeName,
                         static_cast<long long>(k + 1), cumulative->data[k], static_cast<long long>(total));
        }
        total += counts->data[k];
    }
    if (total > kInt32Limit)
        rejectSystem(tls, "fis.%s adds up to %lld membership functions, beyond 2^31-1", countsName,
                     static_cast<long long>(total));
    return total;
}

// ---- Variables and membership functions.

int32_t trimmed(int32_t origLength) { return origLength < 0 ? 0 : origLength; }

// The name the evaluation sees: the stored type cut to origTypeLength.
bool trimmedNameIs(const MFRecord &mf, const char *name, int32_t length) {
    if (trimmed(mf.origTypeLength) != length) return false;
    for (int32_t k = 0; k < length; ++k) {
        if (mf.type->data[k] != static_cast<uint8_t>(name[k])) return false;
    }
    return true;
}

// How many parameters a built-in membership function reads; -1 for a name
// that the host evaluates.
int32_t paramsRead(const MFRecord &mf) {
    const BuiltInMembership *b = findBuiltInMembership(mf.type->data, trimmed(mf.origTypeLength));
    return b == nullptr ? -1 : b->numParams;
}

// Every variable's stored lists must hold what its orig lengths say, since
// the trimmed copies read that far.
void checkVariables(zorbTLS *tls, const char *field, const DynArray<VariableRecord> *vars) {
    for (int64_t v = 0; v < elementCount(vars); ++v) {
        const VariableRecord &var = vars->data[v];
        if (var.origNumMF > elementCount(var.mf)) {
            rejectSystem(tls, "fis.%s(%lld).origNumMF is %d, but its mf list holds %lld", field,
                         static_cast<long long>(v + 1), var.origNumMF, static_cast<long long>(elementCount(var.mf)));
        }
        for (int32_t j = 0; j < var.origNumMF; ++j) {
            const MFRecord &mf = var.mf->data[j];
            if (mf.origTypeLength > elementCount(mf.type)) {
                rejectSystem(tls, "fis.%s(%lld).mf(%d).origTypeLength is %d, beyond its type of %lld characters", field,
                             static_cast<long long>(v + 1), j + 1, mf.origTypeLength,
                             static_cast<long long>(elementCount(mf.type)));
            }
            if (mf.origParamLength > elementCount(mf.params)) {
                rejectSystem(tls, "fis.%s(%lld).mf(%d).origParamLength is %d, beyond its %lld stored parameters", field,
                             static_cast<long long>(v + 1), j + 1, mf.origParamLength,
                             static_cast<long long>(elementCount(mf.params)));
            }
        }
    }
}

// The membership functions that the evaluation reads: counts within the
// variable's list, and built-in parameter rows as long as the function reads.
void checkEvaluatedMFs(zorbTLS *tls, const char *field, const char *countsName, const DynArray<VariableRecord> *vars,
                       const DynArray<int32_t> *counts, int32_t numVars, bool checkParams) {
    checkAtLeast<VariableRecord>(tls, field, "variables", elementCount(vars),
                                 field[0] == 'i' ? "numInputs" : "numOutputs", numVars);
    for (int32_t v = 0; v < numVars; ++v) {
        const VariableRecord &var = vars->data[v];
        if (counts->data[v] > var.origNumMF) {
            rejectSystem(tls, "fis.%s(%d) is %d, but variable %d of fis.%s has %d membership functions", countsName,
                         v + 1, counts->data[v], v + 1, field, var.origNumMF);
        }
        if (!checkParams) continue;
        for (int32_t j = 0; j < counts->data[v]; ++j) {
            const MFRecord &mf = var.mf->data[j];
            int32_t needed = paramsRead(mf);
            if (needed > trimmed(mf.origParamLength)) {
                rejectSystem(tls, "fis.%s(%d).mf(%d).params: %.*s reads %d parameters, but %d are given", field, v + 1,
                             j + 1, trimmed(mf.origTypeLength), reinterpret_cast<const char *>(mf.type->data), needed,
                             trimmed(mf.origParamLength));
            }
        }
    }
}

// Sugeno output functions: "constant" reads one parameter, every other type
// one per input column and a constant term.
void checkSugenoOutputs(zorbTLS *tls, const SystemRecord *fis, int64_t numColumns) {
    for (int32_t o = 0; o < fis->numOutputs; ++o) {
        const VariableRecord &var = fis->outputMF->data[o];
        for (int32_t j = 0; j < fis->numOutputMFs->data[o]; ++j) {
            const MFRecord &mf = var.mf->data[j];
            bool isConstant = trimmedNameIs(mf, "constant", 8);
            int64_t needed = isConstant ? 1 : numColumns + 1;
            if (needed > trimmed(mf.origParamLength)) {
                rejectSystem(
                    tls, "fis.outputMF(%d).mf(%d).params: a %s output function reads %lld parameters, but %d are given",
                    o + 1, j + 1, isConstant ? "constant" : "linear", static_cast<long long>(needed),
                    trimmed(mf.origParamLength));
            }
        }
    }
}

// ---- Rules.

void checkRuleMatrix(zorbTLS *tls, const char *field, const DynArray<double> *m, const SystemRecord *fis,
                     int32_t numVars, const char *numVarsName, const DynArray<int32_t> *counts, bool isSugeno) {
    checkAtLeast<double>(tls, field, "rows", rowsOf(m), "numRules", fis->numRules);
    checkAtLeast<double>(tls, field, "columns", colsOf(m), numVarsName, numVars);
    for (int32_t v = 0; v < numVars; ++v) {
        for (int32_t r = 0; r < fis->numRules; ++r) {
            double stored = m->data[r + static_cast<int64_t>(v) * rowsOf(m)];
            int64_t k = magnitudeIndex(stored);  // what the evaluation reads
            if (isSugeno && !quvIsNaN(stored) && quvRound(stored) < 0.0) {
                rejectSystem(tls, "fis.%s(%d, %d) is %g; a Sugeno consequent cannot be negative", field, r + 1, v + 1,
                             stored);
            }
            if (k > counts->data[v]) {
                rejectSystem(tls, "fis.%s(%d, %d) is %g, but %s %d has %d membership functions", field, r + 1, v + 1,
                             stored, numVarsName[3] == 'I' ? "input" : "output", v + 1, counts->data[v]);
            }
        }
    }
}

// ---- Intermediate sizes: what the evaluation writes must fit.

void checkElementCount(zorbTLS *tls, const char *what, int64_t rows, int64_t cols) {
    if (rows < 0 || cols < 0)
        rejectSystem(tls, "%s would be %lld x %lld", what, static_cast<long long>(rows), static_cast<long long>(cols));
    if (rows * cols > kInt32Limit) {
        rejectSystem(tls, "%s would be %lld x %lld, more than 2^31-1 elements", what, static_cast<long long>(rows),
                     static_cast<long long>(cols));
    }
}

void checkMamdaniSizes(zorbTLS *tls, const SystemRecord *fis, int64_t numOutputMFs) {
    if (fis->numSamples < 1)
        rejectSystem(tls, "fis.numSamples is %d; a Mamdani system needs sample points", fis->numSamples);
    checkAtLeast<double>(tls, "outputSamplePoints", "rows", rowsOf(fis->outputSamplePoints), "numOutputs",
                         fis->numOutputs);
    if (colsOf(fis->outputSamplePoints) != fis->numSamples) {
        rejectSystem(tls, "fis.outputSamplePoints has %lld columns, but numSamples is %d",
                     static_cast<long long>(colsOf(fis->outputSamplePoints)), fis->numSamples);
    }
    checkElementCount(tls, "the output fuzzy set cache", numOutputMFs, fis->numSamples);
    int64_t ruleColumns = static_cast<int64_t>(fis->numRules) * fis->numOutputs;
    if (fis->orrSize[0] < fis->numSamples || fis->orrSize[1] < ruleColumns) {
        rejectSystem(tls, "fis.orrSize is [%d %d], smaller than [numSamples numRules*numOutputs] = [%d %lld]",
                     fis->orrSize[0], fis->orrSize[1], fis->numSamples, static_cast<long long>(ruleColumns));
    }
    if (fis->aggSize[0] != fis->numSamples || fis->aggSize[1] < fis->numOutputs) {
        rejectSystem(tls, "fis.aggSize is [%d %d]; it needs numSamples (%d) rows and at least numOutputs (%d) columns",
                     fis->aggSize[0], fis->aggSize[1], fis->numSamples, fis->numOutputs);
    }
}

void checkSugenoSizes(zorbTLS *tls, const SystemRecord *fis) {
    if (fis->orrSize[0] < fis->numRules || fis->orrSize[1] < fis->numOutputs) {
        rejectSystem(tls, "fis.orrSize is [%d %d], smaller than [numRules numOutputs] = [%d %d]", fis->orrSize[0],
                     fis->orrSize[1], fis->numRules, fis->numOutputs);
    }
    int64_t aggregated = static_cast<int64_t>(fis->aggSize[0]) * fis->aggSize[1];
    if (aggregated < fis->numOutputs) {
        rejectSystem(tls, "fis.aggSize is [%d %d], fewer elements than numOutputs (%d)", fis->aggSize[0],
                     fis->aggSize[1], fis->numOutputs);
    }
}

}  // namespace

void rejectSystem(zorbTLS *tls, const char *format, ...) {
    char message[512];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    if (length < 0) length = 0;
    if (length >= static_cast<int>(sizeof message)) length = static_cast<int>(sizeof message) - 1;
    zorbErrMsgIdAndTxt(tls, "fazolt:invalidSystem", 3, ZORB_CHAR_CLASS, length, message);
    __builtin_unreachable();
}

void validateSystem(zorbTLS *tls, const DynArray<double> *inputs, const SystemRecord *fis) {
    checkCount(tls, "numInputs", fis->numInputs);
    checkCount(tls, "numOutputs", fis->numOutputs);
    checkCount(tls, "numRules", fis->numRules);
    checkCount(tls, "numSamples", fis->numSamples);
    bool isMamdani = nameIs(fis->type, "mamdani");
    int64_t numRows = inputs->size[0];

    if (numRows > 0 && inputs->size[1] != fis->numInputs) {
        rejectSystem(tls, "inputs has %d columns, but the system has numInputs = %d", inputs->size[1], fis->numInputs);
    }
    checkElementCount(tls, "the output matrix", numRows, fis->numOutputs);
    checkElementCount(tls, "the rule input values", fis->numRules, fis->numInputs);
    checkElementCount(tls, "fis.orrSize", fis->orrSize[0], fis->orrSize[1]);
    checkElementCount(tls, "fis.aggSize", fis->aggSize[0], fis->aggSize[1]);

    checkAtLeast<double>(tls, "inputRange", "rows", rowsOf(fis->inputRange), "numInputs", fis->numInputs);
    checkAtLeast<double>(tls, "outputRange", "rows", rowsOf(fis->outputRange), "numOutputs", fis->numOutputs);
    checkCounts(tls, "numInputMFs", "numCumInputMFs", fis->numInputMFs, fis->numCumInputMFs, fis->numInputs,
                "numInputs");
    int64_t numOutputMFs = checkCounts(tls, "numOutputMFs", "numCumOutputMFs", fis->numOutputMFs, fis->numCumOutputMFs,
                                       fis->numOutputs, "numOutputs");

    checkVariables(tls, "inputMF", fis->inputMF);
    checkVariables(tls, "outputMF", fis->outputMF);
    checkEvaluatedMFs(tls, "inputMF", "numInputMFs", fis->inputMF, fis->numInputMFs, fis->numInputs, numRows > 0);
    checkEvaluatedMFs(tls, "outputMF", "numOutputMFs", fis->outputMF, fis->numOutputMFs, fis->numOutputs, isMamdani);
    if (!isMamdani && numRows > 0) checkSugenoOutputs(tls, fis, inputs->size[1]);

    checkAtLeast<double>(tls, "connection", "entries", elementCount(fis->connection), "numRules", fis->numRules);
    checkAtLeast<double>(tls, "weight", "entries", elementCount(fis->weight), "numRules", fis->numRules);
    checkRuleMatrix(tls, "antecedent", fis->antecedent, fis, fis->numInputs, "numInputs", fis->numInputMFs, false);
    checkRuleMatrix(tls, "consequent", fis->consequent, fis, fis->numOutputs, "numOutputs", fis->numOutputMFs,
                    !isMamdani);

    if (isMamdani) {
        checkMamdaniSizes(tls, fis, numOutputMFs);
    } else {
        checkSugenoSizes(tls, fis);
        // One coefficient row per output MF, one entry per input column and
        // the constant; with no rows the column count is not tied to numInputs.
        checkElementCount(tls, "the Sugeno output coefficients", numOutputMFs,
                          static_cast<int64_t>(inputs->size[1]) + 1);
    }
}
