// The library's own version, fixed when it was built.
#include <fazolt/version.h>

const char *fazolt::version() { return FAZOLT_VERSION_STRING; }
