// Checked output: standard output and files replaced by rename.
//
// Sections: the checked buffer, standard output, the temporary file's
// removal on signals, output files.
#include "cli/output.h"
#include "cli/report.h"

#include <fazolt/error_ids.h>
#include <orvane/host.h>

#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

// ---- The checked buffer.

CheckedBuffer::CheckedBuffer(int fd) : fd_(fd), isTerminal_(isatty(fd) == 1) {
    setp(buffer_, buffer_ + sizeof buffer_);
}

bool CheckedBuffer::writeAll(const char *data, size_t size) {
    while (size > 0 && error_ == 0) {
        ssize_t n = ::write(fd_, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            error_ = n < 0 ? errno : EIO;
        }
    }
    return error_ == 0;
}

bool CheckedBuffer::drain() {
    auto size = static_cast<size_t>(pptr() - pbase());
    setp(buffer_, buffer_ + sizeof buffer_);
    return writeAll(buffer_, size);
}

CheckedBuffer::int_type CheckedBuffer::overflow(int_type c) {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        if (isTerminal_ && !drain()) return traits_type::eof();
    }
    return traits_type::not_eof(c);
}

std::streamsize CheckedBuffer::xsputn(const char *data, std::streamsize size) {
    if (size <= epptr() - pptr()) {
        std::memcpy(pptr(), data, static_cast<size_t>(size));
        pbump(static_cast<int>(size));
        return isTerminal_ && !drain() ? 0 : size;
    }
    // Large text goes out as it is, after what was buffered before it.
    if (!drain() || !writeAll(data, static_cast<size_t>(size))) return 0;
    return size;
}

int CheckedBuffer::sync() { return drain() ? 0 : -1; }

// ---- Standard output.

namespace {

// Never destroyed: std::cout is flushed at exit, after function statics are gone.
CheckedBuffer &standardOutputBuffer() {
    static CheckedBuffer *buffer = new CheckedBuffer(STDOUT_FILENO);
    return *buffer;
}

}  // namespace

void installCheckedStandardOutput() { std::cout.rdbuf(&standardOutputBuffer()); }

void finishStandardOutput() {
    static bool isReported = false;
    CheckedBuffer &out = standardOutputBuffer();
    if (out.pubsync() == 0 || isReported) return;
    isReported = true;
    throw orvane::HostError(cliError::kWriteFailed, std::string("standard output: ") + std::strerror(out.error()));
}

// ---- The temporary file's removal on signals.

namespace {

// The one temporary file alive, or null; read by the signal handler.
std::atomic<const char *> liveTemporary{nullptr};
static_assert(std::atomic<const char *>::is_always_lock_free);

const int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};

// Async-signal-safe: unlink, then the signal's own default action, so that
// the tool ends as it would have and its parent sees the signal.
void removeTemporaryAndStop(int signal) {
    const char *path = liveTemporary.load();
    if (path != nullptr) unlink(path);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigemptyset(&byDefault.sa_mask);
    sigaction(signal, &byDefault, nullptr);
    raise(signal);  // delivered as the handler returns
}

sigset_t cleanupSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : kCleanupSignals) sigaddset(&set, signal);
    return set;
}

// Once, when the first temporary file is made. A signal the tool was started
// with ignored (nohup, a background job) stays ignored.
void installCleanupHandlers() {
    static bool isInstalled = false;
    if (isInstalled) return;
    isInstalled = true;
    struct sigaction handler {};
    handler.sa_handler = removeTemporaryAndStop;
    handler.sa_mask = cleanupSignalSet();
    for (int signal : kCleanupSignals) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(signal, &handler, nullptr);
    }
}

// ---- Output files.

// The file PATH names: PATH, or the file at the end of its symbolic links,
// which is the one replaced (the links stay links).
std::string followLinks(const std::string &path) {
    std::string target = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
        std::string link(PATH_MAX, '\0');
        ssize_t n = readlink(target.c_str(), link.data(), link.size());
        if (n <= 0) return target;  // making the temporary file beside it reports the cause
        link.resize(static_cast<size_t>(n));
        size_t slash = target.rfind('/');
        target = link[0] == '/' || slash == std::string::npos ? link : target.substr(0, slash + 1) + link;
    }
    throw orvane::HostError(cliError::kCannotWrite, path + ": " + std::strerror(ELOOP));
}

// What a path that is not a regular file is, for the message; null for a regular file.
const char *otherKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a directory";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return nullptr;
}

}  // namespace

Output::Output(const std::string &path) : path_(path) {
    if (path_.empty()) return;
    targetPath_ = followLinks(path_);
    struct stat info {};
    bool exists = stat(targetPath_.c_str(), &info) == 0;
    if (exists && otherKind(info.st_mode) != nullptr) {
        // Renaming over it would replace the device or pipe with a plain file.
        throw orvane::HostError(cliError::kCannotWrite,
                                "'" + path_ + "' is " + otherKind(info.st_mode) + ", not a regular file");
    }
    mode_t mask = umask(0);
    umask(mask);
    mode_t mode = exists ? (info.st_mode & 0777) : (0666 & ~mask);

    installCleanupHandlers();
    temporaryPath_ = targetPath_ + ".XXXXXX";
    // Registered before a signal can see the file made but not yet known.
    sigset_t cleanup = cleanupSignalSet(), previous;
    pthread_sigmask(SIG_BLOCK, &cleanup, &previous);
    fd_ = mkostemp(temporaryPath_.data(), O_CLOEXEC);
    int error = errno;
    if (fd_ >= 0) liveTemporary.store(temporaryPath_.c_str());
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (fd_ < 0) {
        temporaryPath_.clear();
        throw orvane::HostError(cliError::kCannotWrite,
                                path_ + ": cannot make a temporary file beside it: " + std::strerror(error));
    }
    fchmod(fd_, mode);  // mkstemp makes the file private
    buffer_ = std::make_unique<CheckedBuffer>(fd_);
}

Output::~Output() { discard(); }

bool Output::write(std::string_view text) {
    CheckedBuffer &out = buffer_ ? *buffer_ : standardOutputBuffer();
    auto size = static_cast<std::streamsize>(text.size());
    return out.sputn(text.data(), size) == size && out.error() == 0;
}

bool Output::flush() {
    CheckedBuffer &out = buffer_ ? *buffer_ : standardOutputBuffer();
    return out.pubsync() == 0 && out.error() == 0;
}

void Output::commit() {
    if (!buffer_) {
        finishStandardOutput();
        return;
    }
    // On disk before the rename: a crash then leaves the old file or the
    // whole new one.
    int error = buffer_->pubsync() == 0 ? 0 : buffer_->error();
    if (error == 0 && fsync(fd_) != 0) error = errno;
    if (::close(fd_) != 0 && error == 0 && errno != EINTR) error = errno;
    fd_ = -1;
    if (error == 0 && std::rename(temporaryPath_.c_str(), targetPath_.c_str()) != 0) error = errno;
    if (error != 0) {
        discard();
        throw orvane::HostError(cliError::kWriteFailed, path_ + ": " + std::strerror(error));
    }
    liveTemporary.store(nullptr);
    temporaryPath_.clear();
}

void Output::discard() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (temporaryPath_.empty()) return;
    unlink(temporaryPath_.c_str());
    liveTemporary.store(nullptr);
    temporaryPath_.clear();
}
