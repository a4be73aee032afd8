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
static const double *builtInParams(zorbTLS *tls, const DynArray<uint8_t> *type,
                                   const DynArray<double> *params, int32_t numRead) {
    const int32_t numGiven = numel(params);
    if (numGiven < numRead) {
        zorbErrMsgIdAndTxt(tls, "fazolt:membership:TooFewParameters", 7, ZORB_CHAR_CLASS,
                           type->size[1], reinterpret_cast<const char *>(type->data),
                           ZORB_INT32_CLASS, numRead, ZORB_INT32_CLASS, numGiven);
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
static void evaluateHostMembershipFcnVector(zorbTLS *tls, const DynArray<uint8_t> *type,
                                            const DynArray<double> *xs, const DynArray<double> *params,
                                            DynArray<double> *out) {
    zorbHeapReferenceStackEnterFcn(tls);
    DynArray<uint8_t> *name;
    initRegisteredArray(tls, &name, 2);
    copyArray(name, type);
    zorbArray *result = callHostMembershipFcn(tls, name, exportDoubleRow(xs), params);
    importDoubleRow(tls, result, "feval", out);
    releaseArray(&name);
    zorbHeapReferenceStackLeaveFcn(tls);
}

double evaluateCommonMembershipFcn(zorbTLS *tls, const DynArray<uint8_t> *type, double x,
                                   const DynArray<double> *params) {
    if (nameIs(type, "trimf")) return trimf(x, builtInParams(tls, type, params, 3));
    if (nameIs(type, "trapmf")) return trapmf(x, builtInParams(tls, type, params, 4));
    if (nameIs(type, "gaussmf")) return gaussmf(x, builtInParams(tls, type, params, 2));
    if (nameIs(type, "gbellmf")) return gbellmf(x, builtInParams(tls, type, params, 3));
    if (nameIs(type, "sigmf")) return sigmf(x, builtInParams(tls, type, params, 2));
    if (nameIs(type, "smf")) return smf(x, builtInParams(tls, type, params, 2));
    if (nameIs(type, "zmf")) return zmf(x, builtInParams(tls, type, params, 2));
    if (nameIs(type, "gauss2mf")) return gauss2mf(x, builtInParams(tls, type, params, 4));
    if (nameIs(type, "dsigmf")) return dsigmf(x, builtInParams(tls, type, params, 4));
    if (nameIs(type, "psigmf")) return psigmf(x, builtInParams(tls, type, params, 4));
    if (nameIs(type, "pimf")) return pimf(x, builtInParams(tls, type, params, 4));
    return evaluateHostMembershipFcn(tls, type, x, params);
}

MembershipKind selectMembershipKind(const DynArray<uint8_t> *type) {
    if (nameIs(type, "trimf")) return MembershipKind::Trimf;
    if (nameIs(type, "trapmf")) return MembershipKind::Trapmf;
    if (nameIs(type, "gaussmf")) return MembershipKind::Gaussmf;
    if (nameIs(type, "gbellmf")) return MembershipKind::Gbellmf;
    if (nameIs(type, "sigmf")) return MembershipKind::Sigmf;
    if (nameIs(type, "smf")) return MembershipKind::Smf;
    if (nameIs(type, "zmf")) return MembershipKind::Zmf;
    if (nameIs(type, "gauss2mf")) return MembershipKind::Gauss2mf;
    if (nameIs(type, "dsigmf")) return MembershipKind::Dsigmf;
    if (nameIs(type, "psigmf")) return MembershipKind::Psigmf;
    if (nameIs(type, "pimf")) return MembershipKind::Pimf;
    return MembershipKind::Host;
}

double evaluateMembershipByKind(zorbTLS *tls, MembershipKind kind, const DynArray<uint8_t> *type, double x,
                                const DynArray<double> *params) {
    switch (kind) {
        case MembershipKind::Trimf: return trimf(x, builtInParams(tls, type, params, 3));
        case MembershipKind::Trapmf: return trapmf(x, builtInParams(tls, type, params, 4));
        case MembershipKind::Gaussmf: return gaussmf(x, builtInParams(tls, type, params, 2));
        case MembershipKind::Gbellmf: return gbellmf(x, builtInParams(tls, type, params, 3));
        case MembershipKind::Sigmf: return sigmf(x, builtInParams(tls, type, params, 2));
        case MembershipKind::Smf: return smf(x, builtInParams(tls, type, params, 2));
        case MembershipKind::Zmf: return zmf(x, builtInParams(tls, type, params, 2));
        case MembershipKind::Gauss2mf: return gauss2mf(x, builtInParams(tls, type, params, 4));
        case MembershipKind::Dsigmf: return dsigmf(x, builtInParams(tls, type, params, 4));
        case MembershipKind::Psigmf: return psigmf(x, builtInParams(tls, type, params, 4));
        case MembershipKind::Pimf: return pimf(x, builtInParams(tls, type, params, 4));
        case MembershipKind::Host: break;
    }
    return evaluateHostMembershipFcn(tls, type, x, params);
}

void evaluateCommonMembershipFcnVector(zorbTLS *tls, const DynArray<uint8_t> *type,
                                       const DynArray<double> *xs, const DynArray<double> *params,
                                       DynArray<double> *out) {
    if (nameIs(type, "trimf")) {
        trimfVector(tls, xs, builtInParams(tls, type, params, 3), out);
    } else if (nameIs(type, "trapmf")) {
        trapmfVector(tls, xs, builtInParams(tls, type, params, 4), out);
    } else if (nameIs(type, "gaussmf")) {
        gaussmfVector(tls, xs, builtInParams(tls, type, params, 2), out);
    } else if (nameIs(type, "gbellmf")) {
        gbellmfVector(tls, xs, builtInParams(tls, type, params, 3), out);
    } else if (nameIs(type, "sigmf")) {
        sigmfVector(tls, xs, builtInParams(tls, type, params, 2), out);
    } else if (nameIs(type, "smf")) {
        smfVector(tls, xs, builtInParams(tls, type, params, 2), out);
    } else if (nameIs(type, "zmf")) {
        zmfVector(tls, xs, builtInParams(tls, type, params, 2), out);
    } else if (nameIs(type, "gauss2mf")) {
        gauss2mfVector(tls, xs, builtInParams(tls, type, params, 4), out);
    } else if (nameIs(type, "dsigmf")) {
        dsigmfVector(tls, xs, builtInParams(tls, type, params, 4), out);
    } else if (nameIs(type, "psigmf")) {
        psigmfVector(tls, xs, builtInParams(tls, type, params, 4), out);
    } else if (nameIs(type, "pimf")) {
        pimfVector(tls, xs, builtInParams(tls, type, params, 4), out);
    } else {
        evaluateHostMembershipFcnVector(tls, type, xs, params, out);
    }
}
