/* The greenhouse controller on a workstation: reads "temperature,humidity"
   lines from standard input and prints "vent,heater" with the bits
   greenhouse_evaluate returned. */
#include "greenhouse.h"

#include <stdio.h>

int main(void) {
    double in[GREENHOUSE_NUM_INPUTS], out[GREENHOUSE_NUM_OUTPUTS];
    while (scanf(" %lf , %lf", &in[0], &in[1]) == 2) {
        int flags = greenhouse_evaluate(in, out);
        printf("%.17g,%.17g", out[0], out[1]);
        if (flags & GREENHOUSE_NO_RULE_FIRED) printf(",no rule fired");
        if (flags & GREENHOUSE_NAN_INPUT) printf(",NaN input");
        printf("\n");
    }
    return 0;
}
