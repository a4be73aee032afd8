// The nested description reader and record builder on arbitrary text. A bad
// description raises the description error and nothing else; a good one
// yields a 25-field record whose name lists match its counts.
#include "fuzz/fuzz_support.h"

#include <fazolt/description.h>

#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz_support::BalanceCheck balance;
    {
        std::string_view text(reinterpret_cast<const char *>(data), size);
        try {
            fazolt::BuiltSystem built = fazolt::buildSystem(text);
            if (built.record.fieldNames() != fazolt::systemRecordFieldNames()) {
                fuzz_support::fail("built record has other fields");
            }
            std::vector<double> numInputs = built.record.field(0, "numInputs").toDoubles();
            if (numInputs.size() != 1 || numInputs[0] != static_cast<double>(built.inputNames.size())) {
                fuzz_support::fail("numInputs differs from the input names");
            }
        } catch (const orvane::HostError &e) {
            if (e.identifier().rfind("fazolt:description:", 0) != 0 && e.identifier().rfind("Orvane:json:", 0) != 0) {
                std::fprintf(stderr, "%s: %s\n", e.identifier().c_str(), e.message().c_str());
                fuzz_support::fail("description error with a foreign identifier");
            }
        }
    }
    balance.verify();
    return 0;
}
