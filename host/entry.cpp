// The module entry and its life cycle: one run-time context per call, on
// the calling thread.
#include "host/marshalling.h"
#include "host/runtime.h"

thread_local zorbTLS *fazoltTLS __attribute__((tls_model("initial-exec"))) = nullptr;

namespace {

zorbContext fazoltContext = {
    true,                                                  // first time
    false,                                                 // initialised
    ZORB_RELEASE_CODE,                                     // host release the module was built for
    nullptr,                                               // error function
    "fazolt",                                              // function name
    nullptr,                                               // run-time call-stack table
    false,                                                 // debug mode
    {0x66617a6fu, 0x6c740001u, 0x00000000u, 0x00000001u},  // build signature
    nullptr,                                               // signature memory
};

}  // namespace

extern "C" {

FAZOLT_EXPORT void fazolt_initialize(void) {
    zorbCreateRootTLS(&fazoltTLS, &fazoltContext, nullptr, 1);
    zorbClearAllocCount(fazoltTLS, false, 0U, nullptr);
    zorbEnterRtStack(fazoltTLS);
    zorbFirstTime(fazoltTLS);
}

FAZOLT_EXPORT void fazolt_terminate(void) {
    zorbLeaveRtStack(fazoltTLS);
    zorbDestroyRootTLS(&fazoltTLS);
}

FAZOLT_EXPORT void fazolt_atexit(void) {
    zorbCreateRootTLS(&fazoltTLS, &fazoltContext, nullptr, 1);
    zorbEnterRtStack(fazoltTLS);
    zorbLeaveRtStack(fazoltTLS);
    zorbDestroyRootTLS(&fazoltTLS);
}

FAZOLT_EXPORT void qibfilerequiredapiversion(uint32_t *releaseCode, uint32_t *interfaceVersion) {
    *releaseCode = ZORB_RELEASE_CODE;
    *interfaceVersion = ZORB_MODULE_INTERFACE_VERSION;
}

FAZOLT_EXPORT void qibFunction(int32_t nlhs, zorbArray *plhs[], int32_t nrhs, const zorbArray *prhs[]) {
    // A host function of the call may call the module again on this thread.
    // Should that call raise, its context is the host's to destroy, and this
    // one's too should this call raise.
    zorbTLS *outerTLS = fazoltTLS;
    qibAtExit(&fazolt_atexit);
    fazolt_initialize();
    if (nrhs != 3) {
        zorbErrMsgIdAndTxt(fazoltTLS, "ZORB:runTime:WrongNumberOfInputs", 5, ZORB_INT32_CLASS, 3, ZORB_CHAR_CLASS, 6,
                           "fazolt");
    }
    if (nlhs > 6) {
        zorbErrMsgIdAndTxt(fazoltTLS, "ZORB:runTime:TooManyOutputArguments", 3, ZORB_CHAR_CLASS, 6, "fazolt");
    }
    zorbArray *outputs[6] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    marshalAndEvaluate(fazoltTLS, prhs, nlhs, outputs);
    zorbReturnArrays(nlhs < 1 ? 1 : nlhs, plhs, outputs);
    fazolt_terminate();
    fazoltTLS = outerTLS;
}

}  // extern "C"
