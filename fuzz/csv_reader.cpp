// The streaming CSV reader on arbitrary file contents. The first byte picks
// the expected column count and the block size, so that blocks split rows
// at every place and fixed counts are checked too; the rest is the file. A
// bad file raises the CSV error and nothing else, and every block read is
// rows x columns with no missing value.
#include "fuzz/fuzz_support.h"

#include "cli/csv.h"

#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

// One in-memory file, rewritten for every input and opened by path.
int memoryFile() {
    static int fd = memfd_create("fuzz-csv", 0);
    if (fd < 0) fuzz_support::fail("memfd_create failed");
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1) return 0;
    int64_t expectedColumns = static_cast<int64_t>(data[0] & 7) - 1;  // -1 takes the first row's count
    int64_t blockRows = static_cast<int64_t>(data[0] >> 3) + 1;
    int fd = memoryFile();
    if (ftruncate(fd, 0) != 0) fuzz_support::fail("ftruncate failed");
    size_t written = 0;
    while (written < size - 1) {
        ssize_t n = pwrite(fd, data + 1 + written, size - 1 - written, static_cast<off_t>(written));
        if (n <= 0) fuzz_support::fail("pwrite failed");
        written += static_cast<size_t>(n);
    }
    std::string path = "/proc/self/fd/" + std::to_string(fd);

    fuzz_support::BalanceCheck balance;
    try {
        CsvReader reader(path, expectedColumns);
        std::vector<double> block;
        int64_t total = 0;
        for (;;) {
            int64_t rows = reader.readBlock(blockRows, block);
            if (rows == 0) break;
            if (rows < 0 || rows > blockRows) fuzz_support::fail("block row count out of bounds");
            if (reader.numColumns() < 0 ||
                block.size() != static_cast<size_t>(rows) * static_cast<size_t>(reader.numColumns())) {
                fuzz_support::fail("block is not rows x columns");
            }
            if (expectedColumns >= 0 && reader.numColumns() != expectedColumns) {
                fuzz_support::fail("rows accepted with another column count");
            }
            total += rows;
            if (total > static_cast<int64_t>(size)) fuzz_support::fail("more rows than bytes");
        }
        if (reader.bytesRead() > size - 1) fuzz_support::fail("read more bytes than the file has");
    } catch (const orvane::HostError &e) {
        if (e.identifier().rfind("fazolt:csv:", 0) != 0) {
            std::fprintf(stderr, "%s: %s\n", e.identifier().c_str(), e.message().c_str());
            fuzz_support::fail("CSV error with a foreign identifier");
        }
    }
    balance.verify();
    return 0;
}
