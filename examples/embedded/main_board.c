/* The greenhouse controller on a Cortex-M7 board (QEMU's mps2-an500): a
   control loop that would read the sensors and drive the actuators; here
   the readings are a fixed sweep and the commands go out over semihosting.
   The evaluation itself uses no heap, no stdio and no static state. */
#include "greenhouse.h"

#include <stdio.h>

static void readSensors(int step, double in[GREENHOUSE_NUM_INPUTS]) {
    in[0] = -5.0 + 2.5 * step;      /* temperature, degrees C */
    in[1] = 10.0 + 4.0 * step;      /* relative humidity, % */
}

int main(void) {
    int step;
    for (step = 0; step < 21; ++step) {
        double in[GREENHOUSE_NUM_INPUTS], out[GREENHOUSE_NUM_OUTPUTS];
        int flags;
        readSensors(step, in);
        flags = greenhouse_evaluate(in, out);
        printf("t=%5.1f h=%5.1f -> vent %6.2f%% heater %6.2f%%%s\n", in[0], in[1], out[0], out[1],
               flags & GREENHOUSE_NO_RULE_FIRED ? " (no rule fired)" : "");
    }
    return 0;
}
