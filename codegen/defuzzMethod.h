#ifndef FAZOLT_CODEGEN_DEFUZZMETHOD_H
#define FAZOLT_CODEGEN_DEFUZZMETHOD_H

#include "model/dynArray.h"

// The defuzzification variant, chosen once per call by exact name.
enum class DefuzzMethod { Centroid, Bisector, Mom, Som, Lom, Wtaver, Wtsum, Custom };

inline DefuzzMethod selectDefuzzMethod(const DynArray<uint8_t> *name) {
    if (nameIs(name, "centroid")) return DefuzzMethod::Centroid;
    if (nameIs(name, "bisector")) return DefuzzMethod::Bisector;
    if (nameIs(name, "mom")) return DefuzzMethod::Mom;
    if (nameIs(name, "som")) return DefuzzMethod::Som;
    if (nameIs(name, "lom")) return DefuzzMethod::Lom;
    if (nameIs(name, "wtaver")) return DefuzzMethod::Wtaver;
    if (nameIs(name, "wtsum")) return DefuzzMethod::Wtsum;
    return DefuzzMethod::Custom;
}

#endif
