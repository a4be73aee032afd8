// Worker processes for `fazolt eval --jobs N`, and the threads of
// `--threads N`: the parent reads blocks of
// input lines and hands each to a worker over a local socket; every worker
// loads the module itself, reads the block's numbers and sends back its
// output text and warnings; the parent takes the results in input order.
//
// Workers are forked before the parent loads anything, so that they start
// from a small, single-threaded image and each owns its module state.
// A bounded number of blocks is in flight, so memory does not grow with
// the input. Each block goes to the worker with the fewest outstanding.
#ifndef FAZOLT_CLI_JOBS_H
#define FAZOLT_CLI_JOBS_H

#include <orvane/host.h>

#include <sys/types.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// Message fields: a 64-bit number, or a length and then that many bytes.
// Both ends run on one machine, so numbers travel in native byte order.
inline void putU64(std::string &out, uint64_t v) { out.append(reinterpret_cast<const char *>(&v), sizeof v); }

inline void putText(std::string &out, std::string_view text) {
    putU64(out, text.size());
    out += text;
}

// Reads from a received payload; a short payload means a broken sender, so
// reading past the end yields zeros and empty text rather than garbage.
class PayloadReader {
public:
    PayloadReader(const char *data, size_t size) : data_(data), size_(size) {}
    uint64_t u64() {
        uint64_t v = 0;
        if (size_ - pos_ >= sizeof v) std::memcpy(&v, data_ + pos_, sizeof v);
        pos_ += std::min(sizeof v, size_ - pos_);
        return v;
    }
    std::string text() {
        uint64_t n = std::min<uint64_t>(u64(), size_ - pos_);
        std::string s(data_ + pos_, static_cast<size_t>(n));
        pos_ += static_cast<size_t>(n);
        return s;
    }
    const char *here() const { return data_ + pos_; }
    size_t left() const { return size_ - pos_; }

private:
    const char *data_;
    size_t size_;
    size_t pos_ = 0;
};

// What a worker sends back for one block.
struct BlockResult {
    std::vector<orvane::Warning> warnings;  // identifier and message; no arguments
    std::optional<orvane::HostError> error;
    std::string text;  // the block's output lines, only without error
};

// A block of input rows as the parent read them: CSV lines whose numbers
// the worker reads (CsvReader::readBlockLines, parseCsvRows). A check-only
// block is the start of a block cut short by a read error: its numbers are
// read for an earlier error, and nothing is evaluated.
struct RowBlock {
    int64_t numRows = 0;
    int64_t numColumns = 0;
    int64_t firstLine = 0;
    bool isCheckOnly = false;
    std::string displayName;
    std::string_view lines;
};

// Reads and evaluates one block, in a worker.
using BlockEvaluator = std::function<BlockResult(const RowBlock &block)>;
// Runs in each worker once the parent's setup text has arrived. It must not
// throw: a failure to set up is reported as the error of every block.
using WorkerSetup = std::function<BlockEvaluator(const std::string &setupText)>;

// Blocks in flight, their results taken in input order: worker processes
// (WorkerPool) or threads of this process (ThreadPool).
class BlockPool {
public:
    virtual ~BlockPool() = default;
    // Whether another block may be read and submitted now.
    bool canSubmit() const { return nextSeq_ - nextResult_ < maxInFlight_; }
    bool hasPending() const { return nextResult_ < nextSeq_; }
    virtual void submit(const RowBlock &block) = 0;
    // The result of the oldest submitted block not yet taken; waits for it.
    virtual BlockResult next() = 0;
    // Once every result was taken: lets the workers end.
    virtual void finish() = 0;

protected:
    uint64_t nextSeq_ = 0;     // blocks submitted
    uint64_t nextResult_ = 0;  // results taken
    uint64_t maxInFlight_ = 0;
};

class WorkerPool final : public BlockPool {
public:
    // Forks numWorkers workers, each running setup and then its blocks.
    // Raises HostError "fazolt:jobs:CannotStart" when a process or socket
    // cannot be made (the workers made so far are stopped).
    WorkerPool(int numWorkers, const WorkerSetup &setup);
    // Stops the workers that are left (killed, then reaped).
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Sends every worker its setup text; before the first submit.
    void start(const std::string &setupText);
    void submit(const RowBlock &block) override;
    // A worker that dies gives its blocks the error "fazolt:jobs:WorkerStopped".
    BlockResult next() override;
    // Closes the workers' sockets and reaps them once they have exited.
    void finish() override;

private:
    struct Worker {
        pid_t pid = -1;
        int fd = -1;
        std::string out;  // bytes still to send
        size_t outPos = 0;
        std::string in;             // bytes received, not yet a whole message
        std::deque<uint64_t> seqs;  // blocks sent, in order
    };
    void sendSome(Worker &w);
    void receiveSome(Worker &w);
    void fail(Worker &w);
    void stopAll(bool isKill);

    std::vector<Worker> workers_;
    std::map<uint64_t, BlockResult> results_;
};

// Threads of this process sharing one loaded system: each takes the next
// block, reads its numbers, evaluates and formats it, so that the reading
// and writing that one thread would do between module calls overlap too.
class ThreadPool final : public BlockPool {
public:
    ThreadPool(int numThreads, BlockEvaluator evaluate);
    // Lets the threads finish the block in hand, then joins them.
    ~ThreadPool() override;
    ThreadPool(const ThreadPool &) = delete;
    ThreadPool &operator=(const ThreadPool &) = delete;

    // Copies the block's lines: the caller reuses its buffer.
    void submit(const RowBlock &block) override;
    // Raises again what a thread's evaluation threw (out of memory).
    BlockResult next() override;
    void finish() override;

private:
    struct Task;
    struct Done;
    void work();

    BlockEvaluator evaluate_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable isTaskReady_;
    std::condition_variable isResultReady_;
    std::deque<std::unique_ptr<Task>> tasks_;
    std::map<uint64_t, Done> done_;
    bool isStopping_ = false;
};

#endif
