// What the module implements, for a host that asks before calling it.
#include "host/runtime.h"

#include "resolvedFunctions.h"

#include <fazolt/version.h>

extern "C" FAZOLT_EXPORT zorbArray *zorbQibFcnProperties(void) {
    static const char *const entryPointFields[6] = {"Name",           "NumberOfInputs", "NumberOfOutputs",
                                                    "ConstantInputs", "FullPath",       "TimeStamp"};
    static const char *const topFields[4] = {"Version", "ResolvedFunctions", "EntryPoints", "CoverageInfo"};

    zorbArray *entryPoints = zorbCreateStructMatrix(1, 1, 6, entryPointFields);
    zorbArray *constantInputs = zorbCreateLogicalMatrix(1, 3);
    zorbSetField(entryPoints, 0, "Name", zorbQuvCreateString("fazolt"));
    zorbSetField(entryPoints, 0, "NumberOfInputs", zorbQuvCreateDoubleScalar(3.0));
    zorbSetField(entryPoints, 0, "NumberOfOutputs", zorbQuvCreateDoubleScalar(6.0));
    zorbSetField(entryPoints, 0, "ConstantInputs", constantInputs);
    zorbSetField(entryPoints, 0, "FullPath", zorbQuvCreateString(entrySourcePath));
    zorbSetField(entryPoints, 0, "TimeStamp", zorbQuvCreateDoubleScalar(entrySourceTimeStamp));

    zorbArray *properties = zorbCreateStructMatrix(1, 1, 4, topFields);
    zorbSetField(properties, 0, "Version", zorbQuvCreateString("fazolt " FAZOLT_VERSION_STRING " for Orvane 39.1"));
    zorbArray *resolvedFunctions = nullptr;
    zorbNameCaptureQuvArray(resolvedFunctionPieces, resolvedFunctionsInflatedLength, &resolvedFunctions);
    zorbSetField(properties, 0, "ResolvedFunctions", resolvedFunctions);
    zorbSetField(properties, 0, "EntryPoints", entryPoints);
    return properties;
}
