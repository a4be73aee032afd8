// Membership evaluation by exact type name. The eleven built-in names are
// tested in a fixed order, each by length and then byte by byte (no case
// folding, no trimming, no prefixes); any other name, the empty one
// included, is handed to the host's "feval" with the point(s) and the
// parameter row, so that a user's own function can take part.
#include "codegen/evaluateCommonMembershipFcn.h"

#include "host/hostConversions.h"
#include "host/runtime.h"
#include "membership/membershipFunctions.h"

static const zorbCallLocation hostEvaluationLocation = {49, 16, "evaluateCommonMembershipFcn",
                                                        "codegen/evaluateCommonMembershipFcn"};

// The built-in functions read their parameters by position without a length.
// A row shorter than the function reads would give values read from beyond
// the row (or from no block at all for an empty row), so it is refused.
static const double *builtInParams(zorbTLS *tls, const DynArray<uint8_t> *type, const DynArray<double> *params,
                                   int32_t numRead) {
    const int32_t numGiven = numel(params);
    if (numGiven < numRead) {
        zorbErrMsgIdAndTxt(tls, "fazolt:membership:TooFewParameters", 7, ZORB_CHAR_CLASS, type->size[1],
                           reinterpret_cast<const char *>(type->data), ZORB_INT32_CLASS, numRead, ZORB_INT32_CLASS,
                           numGiven);
    }
    return params->data;
}

// Calls feval(name, points, params) for one result. `points` is made by the
// caller and consumed here with the other arguments.
static zorbArray *callHostMembershipFcn(zorbTLS *tls, DynArray<uint8_t> *name, zorbArray *points,
                                        const DynArray<double> *params) {
    zorbArray *arguments[3];
    arguments[0] = exportCharRow(tls, name);
    arguments[1] = points;
    arguments[2] = exportDoubleRow(params);
    zorbArray *result = nullptr;
    zorbCallOrvane(tls, 1, &result, 3, arguments, "feval", true, &hostEvaluationLocation);
    return coerceToDouble(tls, result);
}

static double evaluateHostMembershipFcn(zorbTLS *tls, const DynArray<uint8_t> *type, double x,
                                        const DynArray<double> *params) {
    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<uint8_t> *name;
    initRegisteredArray(tls, &name, 2);
    copyArray(name, type);
    zorbArray *result = callHostMembershipFcn(tls, name, zorbCreateDoubleScalar(x), params);
    const double y = importDoubleScalar(tls, result, "feval");
    releaseArray(&name);
    zorbHeapReferenceStackLeaveFcn(tls);
    return y;
}

// The row that comes back may differ in length from xs; the caller decides
// what to make of that.
static void evaluateHostMembershipFcnVector(zorbTLS *tls, const DynArray<uint8_t> *type, const DynArray<double> *xs,
                                            const DynArray<double> *params, DynArray<double> *out) {
    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<uint8_t> *name;
    initRegisteredArray(tls, &name, 2);
    copyArray(name, type);
    zorbArray *result = callHostMembershipFcn(tls, name, exportDoubleRow(xs), params);
    importDoubleRow(tls, result, "feval", out);
    releaseArray(&name);
    zorbHeapReferenceStackLeaveFcn(tls);
}

// The native functions in kind order, beside the table of names.
struct NativeMembership {
    double (*scalar)(double x, const double *params);
    void (*vector)(zorbTLS *tls, const DynArray<double> *xs, const double *params, DynArray<double> *out);
};
static const NativeMembership nativeMemberships[] = {
    {trimf, trimfVector},   {trapmf, trapmfVector}, {gaussmf, gaussmfVector}, {gbellmf, gbellmfVector},
    {sigmf, sigmfVector},   {smf, smfVector},       {zmf, zmfVector},         {gauss2mf, gauss2mfVector},
    {dsigmf, dsigmfVector}, {psigmf, psigmfVector}, {pimf, pimfVector},
};
static_assert(sizeof nativeMemberships / sizeof nativeMemberships[0] ==
              sizeof kBuiltInMemberships / sizeof kBuiltInMemberships[0]);

MembershipKind selectMembershipKind(const DynArray<uint8_t> *type) {
    const BuiltInMembership *b = findBuiltInMembership(type->data, numel(type));
    return b == nullptr ? MembershipKind::Host : b->kind;
}

double evaluateMembershipByKind(zorbTLS *tls, MembershipKind kind, const DynArray<uint8_t> *type, double x,
                                const DynArray<double> *params) {
    if (kind == MembershipKind::Host) return evaluateHostMembershipFcn(tls, type, x, params);
    const NativeMembership &f = nativeMemberships[static_cast<int>(kind)];
    return f.scalar(x, builtInParams(tls, type, params, builtInMembershipOf(kind).numParams));
}

double evaluateCommonMembershipFcn(zorbTLS *tls, const DynArray<uint8_t> *type, double x,
                                   const DynArray<double> *params) {
    return evaluateMembershipByKind(tls, selectMembershipKind(type), type, x, params);
}

void evaluateCommonMembershipFcnVector(zorbTLS *tls, const DynArray<uint8_t> *type, const DynArray<double> *xs,
                                       const DynArray<double> *params, DynArray<double> *out) {
    const MembershipKind kind = selectMembershipKind(type);
    if (kind == MembershipKind::Host) {
        evaluateHostMembershipFcnVector(tls, type, xs, params, out);
        return;
    }
    const NativeMembership &f = nativeMemberships[static_cast<int>(kind)];
    f.vector(tls, xs, builtInParams(tls, type, params, builtInMembershipOf(kind).numParams), out);
}
