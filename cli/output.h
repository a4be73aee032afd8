// Where the tool's commands write: standard output, or a file written
// beside its path and renamed over it once everything was written.
//
// Every write, flush and close is checked and the first failure's reason is
// kept, so that a full disk or a closed pipe is reported as an error naming
// the cause, never as success. A file's old content stays as it was until
// the rename; a signal that ends the tool before then removes the
// temporary file.
#ifndef FAZOLT_CLI_OUTPUT_H
#define FAZOLT_CLI_OUTPUT_H

#include <memory>
#include <streambuf>
#include <string>
#include <string_view>

// Bytes to a file descriptor through a buffer. The first failed write keeps
// its errno and ends the writing: later bytes are dropped, so the reason
// shown is the first one.
class CheckedBuffer : public std::streambuf {
public:
    explicit CheckedBuffer(int fd);
    CheckedBuffer(const CheckedBuffer &) = delete;
    CheckedBuffer &operator=(const CheckedBuffer &) = delete;
    // The errno of the first failure, 0 while none.
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char *data, std::streamsize size) override;
    int sync() override;

private:
    bool writeAll(const char *data, size_t size);
    bool drain();

    int fd_;
    bool isTerminal_;  // written at once, so that a person sees each line as it comes
    int error_ = 0;
    char buffer_[1 << 16];
};

// Standard output through a CheckedBuffer (std::cout); main installs it
// before the command runs.
void installCheckedStandardOutput();
// Flushes standard output. Raises HostError "fazolt:io:WriteFailed"
// ("standard output: REASON") the first time it finds a failed write, so a
// command and main's check at the end report it once.
void finishStandardOutput();

// A command's output: standard output for an empty path, else the file at
// the path (through symbolic links to the file they name), written as a
// temporary file beside it. Raises HostError "fazolt:io:CannotWrite" when
// the path is a directory, a FIFO, a socket or a device, or when no
// temporary file can be made there.
class Output {
public:
    explicit Output(const std::string &path);
    // Removes the temporary file unless commit() put it in place.
    ~Output();
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;

    // False once anything failed to be written; commit() reports why.
    bool write(std::string_view text);
    // Passes what was written on at once (for a reader waiting on the
    // other end of a pipe); false as write().
    bool flush();
    // Flushes, syncs to disk, closes and renames the temporary file over
    // the path (an existing file keeps its mode). Raises HostError
    // "fazolt:io:WriteFailed" naming the path and the reason, with the
    // temporary file removed and the old file as it was.
    void commit();

private:
    void discard();

    std::string path_;           // as the user wrote it, for messages
    std::string targetPath_;     // the file replaced: the path, or where its links lead
    std::string temporaryPath_;  // empty for standard output
    int fd_ = -1;
    std::unique_ptr<CheckedBuffer> buffer_;
};

#endif
