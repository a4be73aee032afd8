// The host-value JSON reader on arbitrary text. Text that reads must write
// back to text that reads to the same value (compared as written text, so
// the bits of every double count), and text that does not read must raise
// the host's error, never anything else.
#include "fuzz/fuzz_support.h"

#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_support::BalanceCheck balance;
    {
        std::string_view text(reinterpret_cast<const char *>(data), size);
        orvane::Value value;
        try {
            value = orvane::fromJson(text);
        } catch (const orvane::HostError &) {
        }
        if (value) {
            std::string written = orvane::toJson(value);
            orvane::Value reread;
            try {
                reread = orvane::fromJson(written);
            } catch (const orvane::HostError &e) {
                std::fprintf(stderr, "%s: %s\n", e.identifier().c_str(), e.message().c_str());
                fuzz_support::fail("written JSON does not read back");
            }
            if (orvane::toJson(reread) != written) fuzz_support::fail("JSON round trip changed the value");
        }
    }
    balance.verify();
    return 0;
}
