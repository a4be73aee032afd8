// The streaming CSV reader on arbitrary file contents. The first byte picks
// the expected column count and the block size, so that blocks split rows
// at every place and fixed counts are checked too; the rest is the file. A
// bad file raises the CSV error and nothing else, and every block read is
// rows x columns with no missing value. The split reading that `eval
// --jobs` uses (lines in one process, numbers in another) must give the
// same blocks and the same first error.
#include "fuzz/fuzz_support.h"

#include "cli/csv.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
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
    std::vector<std::vector<double>> blocks;  // what readBlock gave
    std::string firstError;
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
            blocks.push_back(block);
        }
        if (reader.bytesRead() > size - 1) fuzz_support::fail("read more bytes than the file has");
    } catch (const orvane::HostError &e) {
        // A row of the wrong width is the one identifier the tool uses for it everywhere.
        if (e.identifier().rfind("fazolt:csv:", 0) != 0 && e.identifier() != "fazolt:input:ColumnCount") {
            std::fprintf(stderr, "%s: %s\n", e.identifier().c_str(), e.message().c_str());
            fuzz_support::fail("CSV error with a foreign identifier");
        }
        firstError = e.identifier() + ": " + e.message();
    }

    // The same file read split: lines, then the numbers of each block.
    try {
        CsvReader reader(path, expectedColumns);
        std::string lines;
        std::vector<double> block;
        size_t k = 0;
        std::string splitError;
        for (;;) {
            CsvLineBlock read = reader.readBlockLines(blockRows, lines);
            try {
                parseCsvRows(lines, read.numRows, reader.layout(), read.firstLine, reader.displayName(), block);
            } catch (const orvane::HostError &e) {
                splitError = e.identifier() + ": " + e.message();
                break;
            }
            if (read.error) {
                splitError = read.error->identifier() + ": " + read.error->message();
                break;
            }
            if (read.numRows == 0) break;
            if (k >= blocks.size() || block.size() != blocks[k].size() ||
                (!block.empty() && std::memcmp(block.data(), blocks[k].data(), block.size() * sizeof(double)) != 0)) {
                fuzz_support::fail("split reading gave another block");
            }
            ++k;
        }
        if (splitError != firstError) fuzz_support::fail("split reading gave another error");
        if (splitError.empty() && k != blocks.size()) fuzz_support::fail("split reading gave other blocks");
    } catch (const orvane::HostError &e) {
        if (e.identifier() + ": " + e.message() != firstError) fuzz_support::fail("split reading failed otherwise");
    }
    balance.verify();
    return 0;
}
