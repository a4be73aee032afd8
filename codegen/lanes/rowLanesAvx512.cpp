// The lane kernel for AVX-512: eight rows a block. Built with -mavx512f
// -mavx512dq for this object alone; called only when the processor has both.
#define FAZOLT_LANE_PAIRS 0
#include "codegen/lanes/rowLanesKernel.h"

int32_t runRowsAvx512(const LaneSystem *lanes, int32_t first, int32_t end, double *crisp) {
    return runBlocks(lanes, first, end, crisp);
}

void expRowsAvx512(const double *x, int32_t n, double *y) { expBlocks(x, n, y); }
