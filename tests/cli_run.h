// Runs the built fazolt tool in a child process and collects what it wrote.
#ifndef FAZOLT_TESTS_CLI_RUN_H
#define FAZOLT_TESTS_CLI_RUN_H

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

struct CliResult {
    int status = -1;
    std::string out;
    std::string err;
};

inline std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeFile(const std::string &path, const std::string &text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// A file in the test's temporary folder, unique per process.
inline std::string tempPath(const std::string &name) {
    return testing::TempDir() + "fazolt_" + std::to_string(getpid()) + "_" + name;
}

inline std::string shellQuoted(const std::string &s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// stdinPath empty: standard input is /dev/null. shellSetup runs first in
// the same shell ("ulimit -f 1;"); stdoutPath, when given, takes standard
// output instead of CliResult::out.
inline CliResult runCli(const std::vector<std::string> &args, const std::string &stdinPath = "",
                        const std::string &shellSetup = "", const std::string &stdoutPath = "") {
    std::string outPath = stdoutPath.empty() ? tempPath("stdout.txt") : stdoutPath;
    std::string errPath = tempPath("stderr.txt");
    std::string command = shellSetup + shellQuoted(FAZOLT_CLI_PATH);
    for (const std::string &a : args) command += " " + shellQuoted(a);
    command += " <" + shellQuoted(stdinPath.empty() ? "/dev/null" : stdinPath) + " >" + shellQuoted(outPath) + " 2>" +
               shellQuoted(errPath);
    int raw = std::system(command.c_str());
    CliResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    if (stdoutPath.empty()) r.out = slurp(outPath);
    r.err = slurp(errPath);
    return r;
}

inline int countLines(const std::string &text) {
    int n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

#endif
