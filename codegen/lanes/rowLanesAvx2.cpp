// The lane kernel for AVX2: eight rows a block, as two registers of four.
// Built with -mavx2 -mfma for this object alone (FMA only where exp fuses:
// -ffp-contract=off keeps the compiler from fusing anything else); called
// only when the processor has both.
#define FAZOLT_LANE_PAIRS 1
#include "codegen/lanes/rowLanesKernel.h"

int32_t runRowsAvx2(const LaneSystem *lanes, int32_t first, int32_t end, double *crisp) {
    return runBlocks(lanes, first, end, crisp);
}

void expRowsAvx2(const double *x, int32_t n, double *y) { expBlocks(x, n, y); }
