// Prints the version the program was compiled against, then the library's.
#include <fazolt/fazolt.h>

#include <cstdio>

int main() {
    std::printf("%s %s\n", FAZOLT_VERSION_STRING, fazolt::version());
    return 0;
}
