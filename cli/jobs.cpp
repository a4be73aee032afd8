// Worker processes for `fazolt eval --jobs N`.
//
// Sections: message framing, the worker's loop, the pool in the parent.
//
// Every message is a 64-bit length and then that many bytes:
//   parent -> worker: the setup text once, then blocks: rows, cols, first
//   line, check-only flag, the file's display name, and the rows' CSV lines;
//   worker -> parent: per block, the warnings, an error flag (with identifier
//   and message), and the output text.
// Both ends run on one machine, so numbers travel in native byte order.
#include "cli/jobs.h"
#include "cli/report.h"

#include <fazolt/error_ids.h>

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// ---- Message framing: each message its length, then its fields; each
// encoder beside its decoder.

// Starts a message at the end of `out`; finishMessage fills in its length.
size_t startMessage(std::string &out) {
    size_t start = out.size();
    putU64(out, 0);
    return start;
}

void finishMessage(std::string &out, size_t start) {
    uint64_t length = out.size() - start - sizeof(uint64_t);
    std::memcpy(out.data() + start, &length, sizeof length);
}

void appendBlock(std::string &out, const RowBlock &block) {
    size_t start = startMessage(out);
    putU64(out, static_cast<uint64_t>(block.numRows));
    putU64(out, static_cast<uint64_t>(block.numColumns));
    putU64(out, static_cast<uint64_t>(block.firstLine));
    putU64(out, block.isCheckOnly ? 1 : 0);
    putText(out, block.displayName);
    out.append(block.lines);
    finishMessage(out, start);
}

// The block's lines stay in `payload`.
RowBlock decodeBlock(const std::string &payload) {
    PayloadReader in(payload.data(), payload.size());
    RowBlock block;
    block.numRows = static_cast<int64_t>(in.u64());
    block.numColumns = static_cast<int64_t>(in.u64());
    block.firstLine = static_cast<int64_t>(in.u64());
    block.isCheckOnly = in.u64() != 0;
    block.displayName = in.text();
    block.lines = std::string_view(in.here(), in.left());
    return block;
}

std::string encodeResult(const BlockResult &r) {
    std::string out;
    size_t start = startMessage(out);
    putU64(out, r.warnings.size());
    for (const orvane::Warning &w : r.warnings) {
        putText(out, w.identifier);
        putText(out, w.message);
    }
    putU64(out, r.error ? 1 : 0);
    if (r.error) {
        putText(out, r.error->identifier());
        putText(out, r.error->message());
    }
    putText(out, r.text);
    finishMessage(out, start);
    return out;
}

BlockResult decodeResult(const char *data, size_t size) {
    PayloadReader in(data, size);
    BlockResult r;
    uint64_t numWarnings = in.u64();
    for (uint64_t k = 0; k < numWarnings && in.left() > 0; ++k) {
        orvane::Warning w;
        w.identifier = in.text();
        w.message = in.text();
        r.warnings.push_back(std::move(w));
    }
    if (in.u64() != 0) {
        std::string identifier = in.text();
        r.error.emplace(identifier, in.text());
    }
    r.text = in.text();
    return r;
}

BlockResult errorResult(const std::string &identifier, const std::string &message) {
    BlockResult r;
    r.error.emplace(identifier, message);
    return r;
}

// ---- The worker's loop: blocking reads and writes on its own socket.

bool readFully(int fd, char *data, size_t size) {
    while (size > 0) {
        ssize_t n = read(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool writeFully(int fd, const char *data, size_t size) {
    while (size > 0) {
        ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readMessage(int fd, std::string &payload) {
    uint64_t length = 0;
    if (!readFully(fd, reinterpret_cast<char *>(&length), sizeof length)) return false;
    payload.resize(static_cast<size_t>(length));
    return readFully(fd, payload.data(), payload.size());
}

// Ends when the parent closes the socket (or dies: the socket reads as
// closed, or the death signal arrives). Never returns to the caller's
// stack: the parent's objects are the parent's to destroy.
[[noreturn]] void runWorker(int fd, const WorkerSetup &setup) {
    try {
        std::string payload;
        if (!readMessage(fd, payload)) _exit(0);
        BlockEvaluator evaluate = setup(payload);
        while (readMessage(fd, payload)) {
            std::string reply = encodeResult(evaluate(decodeBlock(payload)));
            if (!writeFully(fd, reply.data(), reply.size())) _exit(0);
        }
        _exit(0);
    } catch (...) {
        // The parent sees the socket close with blocks outstanding.
        _exit(1);
    }
}

std::string describeStatus(int status) {
    if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    return "status " + std::to_string(status);
}

}  // namespace

// ---- The pool, in the parent.

WorkerPool::WorkerPool(int numWorkers, const WorkerSetup &setup) {
    // A few blocks queued behind the one being evaluated keep every worker
    // busy while the parent waits for the oldest; the bound keeps memory flat.
    maxInFlight_ = 4 * static_cast<uint64_t>(numWorkers);
    pid_t parent = getpid();
    std::fflush(nullptr);
    for (int k = 0; k < numWorkers; ++k) {
        int ends[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            int error = errno;
            stopAll(true);
            throw orvane::HostError(cliError::kJobsCannotStart,
                                    std::string("cannot make a worker socket: ") + std::strerror(error));
        }
        pid_t pid = fork();
        if (pid < 0) {
            int error = errno;
            close(ends[0]);
            close(ends[1]);
            stopAll(true);
            throw orvane::HostError(cliError::kJobsCannotStart,
                                    std::string("cannot start a worker process: ") + std::strerror(error));
        }
        if (pid == 0) {
            close(ends[0]);
            for (const Worker &w : workers_) close(w.fd);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(0);
            // Only the parent reads the inputs and writes the outputs.
            int devNull = open("/dev/null", O_RDWR);
            if (devNull >= 0) {
                dup2(devNull, STDIN_FILENO);
                dup2(devNull, STDOUT_FILENO);
                close(devNull);
            }
            runWorker(ends[1], setup);
        }
        close(ends[1]);
        Worker w;
        w.pid = pid;
        w.fd = ends[0];
        workers_.push_back(std::move(w));
    }
}

WorkerPool::~WorkerPool() { stopAll(true); }

void WorkerPool::start(const std::string &setupText) {
    for (Worker &w : workers_) {
        putText(w.out, setupText);
        sendSome(w);
    }
}

void WorkerPool::submit(const RowBlock &block) {
    uint64_t seq = nextSeq_++;
    Worker *chosen = nullptr;
    for (Worker &w : workers_) {
        if (w.fd >= 0 && (chosen == nullptr || w.seqs.size() < chosen->seqs.size())) chosen = &w;
    }
    if (chosen == nullptr) {
        results_[seq] = errorResult(fazolt::ids::jobsWorkerStopped, "no worker process is left to evaluate the rows");
        return;
    }
    Worker &w = *chosen;
    // Drop what was sent: a worker that is never fully caught up would
    // otherwise keep every block it was ever sent.
    w.out.erase(0, w.outPos);
    w.outPos = 0;
    appendBlock(w.out, block);
    w.seqs.push_back(seq);
    sendSome(w);
}

BlockResult WorkerPool::next() {
    std::vector<pollfd> fds;
    std::vector<Worker *> polled;
    while (true) {
        auto found = results_.find(nextResult_);
        if (found != results_.end()) {
            BlockResult r = std::move(found->second);
            results_.erase(found);
            ++nextResult_;
            return r;
        }
        fds.clear();
        polled.clear();
        for (Worker &w : workers_) {
            if (w.fd < 0) continue;
            short events = 0;
            if (!w.seqs.empty()) events |= POLLIN;
            if (w.outPos < w.out.size()) events |= POLLOUT;
            if (events == 0) continue;
            fds.push_back(pollfd{w.fd, events, 0});
            polled.push_back(&w);
        }
        if (fds.empty()) {
            // Every block is either answered or owned by a live worker, so
            // this means a bookkeeping fault; report it rather than hang.
            results_[nextResult_] = errorResult(fazolt::ids::jobsWorkerStopped, "a block of rows was lost");
            continue;
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw orvane::HostError(cliError::kJobsPollFailed,
                                    std::string("cannot wait for the workers: ") + std::strerror(errno));
        }
        for (size_t k = 0; k < fds.size(); ++k) {
            Worker &w = *polled[k];
            if (fds[k].revents & POLLOUT) sendSome(w);
            if (w.fd >= 0 && (fds[k].revents & (POLLIN | POLLHUP | POLLERR))) receiveSome(w);
        }
    }
}

void WorkerPool::sendSome(Worker &w) {
    while (w.fd >= 0 && w.outPos < w.out.size()) {
        ssize_t n = send(w.fd, w.out.data() + w.outPos, w.out.size() - w.outPos, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            w.outPos += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            fail(w);
            return;
        }
    }
    if (w.outPos == w.out.size()) {
        w.out.clear();
        w.outPos = 0;
    }
}

void WorkerPool::receiveSome(Worker &w) {
    constexpr size_t kChunk = size_t{1} << 18;
    size_t old = w.in.size();
    w.in.resize(old + kChunk);
    ssize_t n = recv(w.fd, w.in.data() + old, kChunk, MSG_DONTWAIT);
    w.in.resize(old + (n > 0 ? static_cast<size_t>(n) : 0));
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
        fail(w);
        return;
    }
    size_t pos = 0;
    while (w.in.size() - pos >= sizeof(uint64_t)) {
        uint64_t length = 0;
        std::memcpy(&length, w.in.data() + pos, sizeof length);
        if (w.in.size() - pos - sizeof length < length) break;
        if (w.seqs.empty()) {
            // An answer to no block: the worker is not following the protocol.
            fail(w);
            return;
        }
        results_[w.seqs.front()] = decodeResult(w.in.data() + pos + sizeof length, static_cast<size_t>(length));
        w.seqs.pop_front();
        pos += sizeof length + static_cast<size_t>(length);
    }
    w.in.erase(0, pos);
}

// A worker whose socket broke: its outstanding blocks fail, with the cause.
void WorkerPool::fail(Worker &w) {
    close(w.fd);
    w.fd = -1;
    int status = 0;
    pid_t reaped = waitpid(w.pid, &status, WNOHANG);
    if (reaped == 0) {
        kill(w.pid, SIGKILL);
        reaped = waitpid(w.pid, &status, 0);
    }
    std::string cause = reaped == w.pid ? describeStatus(status) : std::string("not reaped");
    w.pid = -1;
    for (uint64_t seq : w.seqs) {
        results_[seq] = errorResult(fazolt::ids::jobsWorkerStopped,
                                    "a worker process stopped before returning its rows (" + cause + ")");
    }
    w.seqs.clear();
    w.out.clear();
    w.outPos = 0;
    w.in.clear();
}

void WorkerPool::finish() { stopAll(false); }

// A closed socket ends an idle worker; a busy one is killed when isKill,
// since its block will not be used.
void WorkerPool::stopAll(bool isKill) {
    for (Worker &w : workers_) {
        if (w.fd >= 0) close(w.fd);
        w.fd = -1;
        if (isKill && w.pid > 0) kill(w.pid, SIGKILL);
    }
    for (Worker &w : workers_) {
        if (w.pid <= 0) continue;
        int status = 0;
        while (waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
        }
        w.pid = -1;
    }
}

// ---- Threads in this process.

struct ThreadPool::Task {
    uint64_t seq = 0;
    std::string lines;  // the block's own copy
    RowBlock block;
};

struct ThreadPool::Done {
    BlockResult result;
    std::exception_ptr failure;
};

ThreadPool::ThreadPool(int numThreads, BlockEvaluator evaluate) : evaluate_(std::move(evaluate)) {
    // Enough blocks read ahead that no thread waits for the next one.
    maxInFlight_ = 2 * static_cast<uint64_t>(numThreads) + 1;
    for (int k = 0; k < numThreads; ++k) threads_.emplace_back([this] { work(); });
}

ThreadPool::~ThreadPool() { finish(); }

void ThreadPool::submit(const RowBlock &block) {
    auto task = std::make_unique<Task>();
    task->seq = nextSeq_++;
    task->lines.assign(block.lines);
    task->block = block;
    task->block.lines = task->lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    isTaskReady_.notify_one();
}

BlockResult ThreadPool::next() {
    std::unique_lock<std::mutex> lock(mutex_);
    isResultReady_.wait(lock, [this] { return done_.count(nextResult_) != 0; });
    auto it = done_.find(nextResult_++);
    Done done = std::move(it->second);
    done_.erase(it);
    lock.unlock();
    if (done.failure) std::rethrow_exception(done.failure);
    return std::move(done.result);
}

void ThreadPool::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        isStopping_ = true;
        tasks_.clear();
    }
    isTaskReady_.notify_all();
    for (std::thread &t : threads_)
        if (t.joinable()) t.join();
}

void ThreadPool::work() {
    while (true) {
        std::unique_ptr<Task> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            isTaskReady_.wait(lock, [this] { return isStopping_ || !tasks_.empty(); });
            if (isStopping_) return;
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        Done done;
        try {
            done.result = evaluate_(task->block);
        } catch (...) {
            done.failure = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_.emplace(task->seq, std::move(done));
        }
        isResultReady_.notify_all();
    }
}
