/* The host's C interface is C: a module written in C11 includes it. */
#include <orvane/zorb.h>

int main(void) {
    zorbMsgIdentifier id = {"params", NULL, false};
    return id.parentIsCell ? 1 : 0;
}
