// The three diagnostics. Each reads its mode from the options: 2 issues a
// host warning and returns, 3 raises a host error and does not return, any
// other value does nothing. With diag->seen set, each only records its first
// index there. Indices are 1-based.
#ifndef FAZOLT_CODEGEN_PRIVATE_DIAGNOSTICS_H
#define FAZOLT_CODEGEN_PRIVATE_DIAGNOSTICS_H

#include "model/systemRecord.h"

// Warning or error: the diagnostic calls the host.
bool isRaisingDiagnostic(uint8_t mode);

void throwOutOfRangeDiagnostic(zorbTLS *tls, int32_t inputIndex, double x, double rangeLow, double rangeHigh,
                               const DiagnosticsOptions *diag);
void throwNoRuleFiredDiagnostic(zorbTLS *tls, int32_t outputIndex, double y, const DiagnosticsOptions *diag);
void throwEmptyFuzzySetDiagnostic(zorbTLS *tls, int32_t outputIndex, const DynArray<double> *mf,
                                  const DynArray<uint8_t> *defuzzMethod, double y, const DiagnosticsOptions *diag);
// The same for a set given as n values from mf.
void throwEmptyFuzzySetDiagnostic(zorbTLS *tls, int32_t outputIndex, const double *mf, int32_t n,
                                  const DynArray<uint8_t> *defuzzMethod, double y, const DiagnosticsOptions *diag);

#endif
