// Membership evaluation by exact type name: a built-in name runs the native
// function, any other name is evaluated by the host through "feval".
#ifndef FAZOLT_CODEGEN_EVALUATECOMMONMEMBERSHIPFCN_H
#define FAZOLT_CODEGEN_EVALUATECOMMONMEMBERSHIPFCN_H

#include "membership/builtInMembership.h"
#include "model/dynArray.h"

double evaluateCommonMembershipFcn(zorbTLS *tls, const DynArray<uint8_t> *type, double x,
                                   const DynArray<double> *params);
// out is resized to 1 x N for a built-in, 1 x M for a host result of M values.
void evaluateCommonMembershipFcnVector(zorbTLS *tls, const DynArray<uint8_t> *type, const DynArray<double> *xs,
                                       const DynArray<double> *params, DynArray<double> *out);

// The kind of a type name (membership/builtInMembership.h), resolved once
// per call so that the row loop switches on it instead of comparing names.
MembershipKind selectMembershipKind(const DynArray<uint8_t> *type);
// evaluateCommonMembershipFcn for a kind that selectMembershipKind gave for
// this type; the one that reads the name.
double evaluateMembershipByKind(zorbTLS *tls, MembershipKind kind, const DynArray<uint8_t> *type, double x,
                                const DynArray<double> *params);

#endif
