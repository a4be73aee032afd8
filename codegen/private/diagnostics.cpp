// The three diagnostics, raised through the host's throwWarning and
// throwError by "feval". The module supplies identifiers and arguments; the
// host words the messages.
//
// Sections: host value makers, number texts, raising, the three diagnostics.
#include "codegen/private/diagnostics.h"
#include "model/recordFields.h"

#include "host/hostConversions.h"
#include "host/runtime.h"

// ---- Host value makers.

static zorbArray *uint8Scalar(uint8_t value) {
    zorbArray *a = zorbCreateNumericMatrix(1, 1, ZORB_UINT8_CLASS, ZORB_REAL);
    *static_cast<uint8_t *>(zorbQuvGetData(a)) = value;
    return a;
}

static zorbArray *int32Scalar(int32_t value) {
    zorbArray *a = zorbCreateNumericMatrix(1, 1, ZORB_INT32_CLASS, ZORB_REAL);
    *static_cast<int32_t *>(zorbQuvGetData(a)) = value;
    return a;
}

// Built anew for every raise; the host takes it over with the call.
static zorbArray *createDiagnosticsStruct(zorbTLS *tls, const DiagnosticsOptions *diag) {
    const char *const *fieldNames = kDiagnosticsFields;
    zorbArray *s = zorbCreateStructMatrix(1, 1, kNumDiagnosticsFields, fieldNames);
    zorbSetFieldNumbered(tls, s, 0, fieldNames[0], uint8Scalar(diag->DraxilDiagnostic), 0);
    zorbSetFieldNumbered(tls, s, 0, fieldNames[1], exportUint8Row(diag->Model), 1);
    zorbSetFieldNumbered(tls, s, 0, fieldNames[2], exportUint8Row(diag->Block), 2);
    zorbSetFieldNumbered(tls, s, 0, fieldNames[3], uint8Scalar(diag->OutOfRangeInputValue), 3);
    zorbSetFieldNumbered(tls, s, 0, fieldNames[4], uint8Scalar(diag->NoRuleFired), 4);
    zorbSetFieldNumbered(tls, s, 0, fieldNames[5], uint8Scalar(diag->EmptyOutputFuzzySet), 5);
    return s;
}

// ---- Number texts: the host's sprintf, so that "%g" reads as the host
// writes it.

static void dropHostValue(void *ownerAddress) {
    zorbArray **slot = static_cast<zorbArray **>(ownerAddress);
    if (*slot != nullptr) zorbDestroyArray(slot);
}

static void formatNumbers(zorbTLS *tls, const char *format, const double *values, int32_t numValues,
                          DynArray<uint8_t> *text) {
    static const zorbCallLocation sprintfLocation = {52, 14, "sprintf", "codegen/private/diagnostics"};
    static const zorbCallLocation lengthLocation = {54, 15, "sprintf", "codegen/private/diagnostics"};
    zorbHeapReferenceStackEnterFcn(tls);
    zorbArray *arguments[4];
    arguments[0] = exportCharText(tls, "sprintf");
    arguments[1] = exportCharText(tls, format);
    for (int32_t k = 0; k < numValues; ++k) arguments[2 + k] = zorbCreateDoubleScalar(values[k]);
    zorbArray *formatted = nullptr;
    // Held across the length call, which may raise: the host drops it then.
    zorbPushHeapReferenceStack(tls, &formatted, &dropHostValue);
    zorbCallOrvane(tls, 1, &formatted, 2 + numValues, arguments, "feval", true, &sprintfLocation);

    zorbArray *lengthArgument = zorbAlias(formatted);
    zorbArray *length = nullptr;
    zorbCallOrvane(tls, 1, &length, 1, &lengthArgument, "length", true, &lengthLocation);
    (void)importDoubleScalar(tls, coerceToDouble(tls, length), "length");  // checked, not used

    zorbArray *result = formatted;
    formatted = nullptr;  // importCharRow consumes it
    importCharRow(tls, result, "tmpStr", text);
    zorbHeapReferenceStackLeaveFcn(tls);
}

// ---- Raising.

struct DiagnosticKind {
    const char *warningIdentifier;
    const char *errorIdentifier;
    zorbCallLocation warningLocation;
    zorbCallLocation errorLocation;
};

static const DiagnosticKind outOfRange = {"diagFazolt_OutOfRangeInput",
                                          "diagFazolt_OutOfRangeInput",
                                          {42, 13, "createInputMFCache", "codegen/private/createInputMFCache"},
                                          {46, 13, "createInputMFCache", "codegen/private/createInputMFCache"}};
static const DiagnosticKind noRuleFired = {
    "warnFazolt_NoRuleFired",
    "errFazolt_NoRuleFired",
    {11, 9, "throwNoRuleFiredDiagnostic", "codegen/private/throwNoRuleFiredDiagnostic"},
    {14, 9, "throwNoRuleFiredDiagnostic", "codegen/private/throwNoRuleFiredDiagnostic"}};
static const DiagnosticKind emptyFuzzySet = {
    "warnFazolt_ZeroMembershipValue",
    "errFazolt_ZeroMembershipValue",
    {14, 13, "throwEmptyFuzzySetDiagnostic", "codegen/private/throwEmptyFuzzySetDiagnostic"},
    {18, 13, "throwEmptyFuzzySetDiagnostic", "codegen/private/throwEmptyFuzzySetDiagnostic"}};

bool isRaisingDiagnostic(uint8_t mode) { return mode == kDiagnosticWarning || mode == kDiagnosticError; }

// feval(throwWarning | throwError, struct, identifier, further...). The
// further arguments are already host values; the host consumes them all.
static void raiseDiagnostic(zorbTLS *tls, uint8_t mode, const DiagnosticKind *kind, const DiagnosticsOptions *diag,
                            zorbArray **further, int32_t numFurther) {
    const bool isWarning = mode == kDiagnosticWarning;
    zorbArray *arguments[6];
    arguments[0] = exportCharText(tls, isWarning ? "throwWarning" : "throwError");
    arguments[1] = createDiagnosticsStruct(tls, diag);
    arguments[2] = exportCharText(tls, isWarning ? kind->warningIdentifier : kind->errorIdentifier);
    for (int32_t k = 0; k < numFurther; ++k) arguments[3 + k] = further[k];
    zorbArray *unused = nullptr;
    zorbCallOrvane(tls, 0, &unused, 3 + numFurther, arguments, "feval", true,
                   isWarning ? &kind->warningLocation : &kind->errorLocation);
    if (unused != nullptr) zorbDestroyArray(&unused);
}

// ---- The three diagnostics. Texts are formatted into native rows first, so
// that a failing sprintf leaves no host value of ours behind; the host values
// are made only once nothing but the raising call itself can fail.

void throwOutOfRangeDiagnostic(zorbTLS *tls, int32_t inputIndex, double x, double rangeLow, double rangeHigh,
                               const DiagnosticsOptions *diag) {
    if (diag->seen != nullptr) {
        if (diag->seen->outOfRangeInput == 0) diag->seen->outOfRangeInput = inputIndex;
        return;
    }
    const uint8_t mode = diag->OutOfRangeInputValue;
    if (!isRaisingDiagnostic(mode)) return;
    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<uint8_t> *rangeText;
    initRegisteredArray(tls, &rangeText, 2);
    DynArray<uint8_t> *valueText;
    initRegisteredArray(tls, &valueText, 2);
    const double range[2] = {rangeLow, rangeHigh};
    formatNumbers(tls, "[%g %g]", range, 2, rangeText);
    formatNumbers(tls, "%g", &x, 1, valueText);

    zorbArray *further[3] = {int32Scalar(inputIndex), exportCharRow(tls, rangeText), exportCharRow(tls, valueText)};
    raiseDiagnostic(tls, mode, &outOfRange, diag, further, 3);

    releaseArray(&valueText);
    releaseArray(&rangeText);
    zorbHeapReferenceStackLeaveFcn(tls);
}

void throwNoRuleFiredDiagnostic(zorbTLS *tls, int32_t outputIndex, double y, const DiagnosticsOptions *diag) {
    if (diag->seen != nullptr) {
        if (diag->seen->noRuleFiredOutput == 0) diag->seen->noRuleFiredOutput = outputIndex;
        return;
    }
    const uint8_t mode = diag->NoRuleFired;
    if (!isRaisingDiagnostic(mode)) return;
    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<uint8_t> *valueText;
    initRegisteredArray(tls, &valueText, 2);
    // The error ends the evaluation, so it carries no value text.
    if (mode == kDiagnosticWarning) {
        formatNumbers(tls, "%g", &y, 1, valueText);
        zorbArray *further[2] = {int32Scalar(outputIndex), exportCharRow(tls, valueText)};
        raiseDiagnostic(tls, mode, &noRuleFired, diag, further, 2);
    } else {
        zorbArray *further[1] = {int32Scalar(outputIndex)};
        raiseDiagnostic(tls, mode, &noRuleFired, diag, further, 1);
    }
    releaseArray(&valueText);
    zorbHeapReferenceStackLeaveFcn(tls);
}

void throwEmptyFuzzySetDiagnostic(zorbTLS *tls, int32_t outputIndex, const DynArray<double> *mf,
                                  const DynArray<uint8_t> *defuzzMethod, double y, const DiagnosticsOptions *diag) {
    throwEmptyFuzzySetDiagnostic(tls, outputIndex, mf->data, numel(mf), defuzzMethod, y, diag);
}

void throwEmptyFuzzySetDiagnostic(zorbTLS *tls, int32_t outputIndex, const double *mf, int32_t n,
                                  const DynArray<uint8_t> *defuzzMethod, double y, const DiagnosticsOptions *diag) {
    const uint8_t mode = diag->EmptyOutputFuzzySet;
    // Recorded: only the first output with an empty set.
    if (diag->seen != nullptr ? diag->seen->emptySetOutput != 0 : !isRaisingDiagnostic(mode)) return;
    // Only the area-based methods divide by the set's total.
    if (!nameIs(defuzzMethod, "centroid") && !nameIs(defuzzMethod, "bisector")) return;
    double total = 0.0;
    for (int32_t k = 0; k < n; ++k) total = total + mf[k];
    if (total != 0.0) return;  // a NaN total is not an empty set
    if (diag->seen != nullptr) {
        diag->seen->emptySetOutput = outputIndex;
        return;
    }

    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<uint8_t> *valueText;
    initRegisteredArray(tls, &valueText, 2);
    if (mode == kDiagnosticWarning) {
        formatNumbers(tls, "%g", &y, 1, valueText);
        zorbArray *further[3] = {exportCharRow(tls, defuzzMethod), int32Scalar(outputIndex),
                                 exportCharRow(tls, valueText)};
        raiseDiagnostic(tls, mode, &emptyFuzzySet, diag, further, 3);
    } else {
        zorbArray *further[2] = {exportCharRow(tls, defuzzMethod), int32Scalar(outputIndex)};
        raiseDiagnostic(tls, mode, &emptyFuzzySet, diag, further, 2);
    }
    releaseArray(&valueText);
    zorbHeapReferenceStackLeaveFcn(tls);
}
