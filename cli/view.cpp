// fazolt view: a local web server with one page that shows a system at work.
// Sections: requests (parameters and their errors), the JSON API, the server
// (bounded requests, threads, who may ask), starting and stopping.
//
// The page's files are built into the tool and the system is read at
// start-up, so the server reads no file while it runs. Evaluations go one at
// a time through the module (host values are counted without atomics).
#include "cli/commands.h"
#include "cli/csv.h"
#include "cli/explainJson.h"
#include "cli/explainOptions.h"

#include "webAssets.h"

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <iostream>
#include <list>
#include <mutex>
#include <thread>
#include <unordered_map>

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Limits on what one request may ask for.
constexpr size_t kMaxUrlLength = 4096;
constexpr size_t kMaxBodyLength = 16 * 1024;
constexpr int kMaxResolution = 201;
constexpr int kCurvePoints = 201;

// Limits on one connection. A request's head (request line and headers) must
// arrive whole within the deadline; a slow client holds one thread that long.
// One client address holds at most a few threads (a browser opens six or so),
// so however many connections it opens, the threads stay free for others.
constexpr size_t kMaxHeadBytes = 16 * 1024;
constexpr size_t kMaxHeaderCount = 100;
constexpr auto kRequestDeadline = std::chrono::seconds(5);
constexpr int kWriteTimeoutMilliseconds = 10000;
constexpr size_t kThreadCount = 256;
constexpr int kMaxConnectionsPerAddress = 32;
constexpr auto kIdleThreadLife = std::chrono::seconds(3);
constexpr int kListenBacklog = 1024;
constexpr size_t kMaxDrainBytes = 256 * 1024;

struct ViewOptions {
    std::string systemPath, modulePath;
    std::string host = "127.0.0.1";
    int port = 8765;
};

// ---- Requests: parameters and their errors.

// A request that cannot be answered: HTTP 400 naming the parameter.
struct BadRequest {
    std::string parameter;
    std::string message;
};

std::string errorJson(const std::string &parameter, const std::string &message) {
    return "{\"error\":{\"parameter\":" + jsonString(parameter) + ",\"message\":" + jsonString(message) + "}}";
}

void sendJson(httplib::Response &res, int status, const std::string &body) {
    res.status = status;
    res.set_header("Cache-Control", "no-store");
    res.set_content(body, "application/json");
}

double numberParameter(const std::string &name, const std::string &text) {
    double v = 0.0;
    if (!parseCsvNumber(text, v)) throw BadRequest{name, "expected a number, got \"" + text + "\""};
    return v;
}

// Inputs go by in.NAME so that an input may be called x, output or row
// without clashing with the API's own parameters.
constexpr const char *kInputPrefix = "in.";

std::string inputParameter(const fazolt::VariableInfo &input) { return kInputPrefix + input.name; }

// Every parameter must be known: a misspelt one would otherwise be ignored.
void checkKnown(const httplib::Request &req, const fazolt::SystemInfo &info,
                std::initializer_list<const char *> extra) {
    for (const auto &[name, value] : req.params) {
        bool isKnown = name == "row" || name == "onOutOfRange" || name == "onNoRuleFired" || name == "onEmptySet" ||
                       name == "onNanInput" || name == "onNonFiniteOutput";
        for (const char *e : extra) isKnown = isKnown || name == e;
        for (const fazolt::VariableInfo &v : info.inputs) isKnown = isKnown || name == inputParameter(v);
        if (!isKnown)
            throw BadRequest{name, name.rfind(kInputPrefix, 0) == 0
                                       ? "no input \"" + name.substr(std::strlen(kInputPrefix)) + "\""
                                       : "unknown parameter (inputs are given as in.NAME=VALUE or row=...)"};
        if (req.get_param_value_count(name) > 1) throw BadRequest{name, "given more than once"};
    }
}

// The row from row=v1,v2,... or one parameter per input (in.NAME=VALUE).
std::vector<double> requestRow(const httplib::Request &req, const fazolt::SystemInfo &info) {
    std::vector<double> row;
    if (req.has_param("row")) {
        try {
            row = parseRowValues(
                req.get_param_value("row"), info.inputs.size(), "",
                [](std::string_view value, size_t) { return numberParameter("row", std::string(value)); });
        } catch (const orvane::HostError &e) {
            throw BadRequest{"row", e.message()};
        }
        for (const fazolt::VariableInfo &v : info.inputs)
            if (req.has_param(inputParameter(v)))
                throw BadRequest{inputParameter(v), "given both in row and on its own"};
        return row;
    }
    for (const fazolt::VariableInfo &v : info.inputs) {
        std::string name = inputParameter(v);
        if (!req.has_param(name)) throw BadRequest{name, "missing input (or give row=v1,v2,...)"};
        row.push_back(numberParameter(name, req.get_param_value(name)));
    }
    return row;
}

fazolt::DiagnosticModes requestModes(const httplib::Request &req) {
    fazolt::DiagnosticModes modes;
    std::pair<const char *, fazolt::Report *> fields[] = {{"onOutOfRange", &modes.outOfRangeInput},
                                                   {"onNoRuleFired", &modes.noRuleFired},
                                                   {"onEmptySet", &modes.emptyOutputFuzzySet},
                                                   {"onNanInput", &modes.nanInput},
                                                   {"onNonFiniteOutput", &modes.nonFiniteOutput}};
    for (auto &[name, mode] : fields) {
        if (req.has_param(name) && !parseMode(req.get_param_value(name), *mode))
            throw BadRequest{name, "expected none, warning, error or 0-255"};
    }
    return modes;
}

size_t variableParameter(const httplib::Request &req, const char *name, const std::vector<fazolt::VariableInfo> &vars) {
    if (!req.has_param(name)) throw BadRequest{name, "missing"};
    std::string value = req.get_param_value(name);
    for (size_t k = 0; k < vars.size(); ++k)
        if (vars[k].name == value) return k;
    throw BadRequest{name, "no variable \"" + value + "\""};
}

// ---- The JSON API.

class ViewApi {
public:
    explicit ViewApi(fazolt::Explainer explainer) : explainer_(std::move(explainer)) {
        const fazolt::SystemInfo &info = explainer_.info();
        std::vector<std::vector<double>> points;
        for (const fazolt::VariableInfo &v : info.inputs)
            points.push_back(fazolt::evenlySpaced(v.low, v.high, kCurvePoints));
        systemJson_ = fazolt::systemInfoToJson(info, explainer_.inputTermCurves(kCurvePoints), points,
                                               explainer_.outputTermCurves());
    }

    void system(const httplib::Request &req, httplib::Response &res) {
        if (!req.params.empty()) throw BadRequest{req.params.begin()->first, "unknown parameter"};
        sendJson(res, 200, systemJson_);
    }

    void evaluate(const httplib::Request &req, httplib::Response &res) {
        const fazolt::SystemInfo &info = explainer_.info();
        checkKnown(req, info, {});
        std::vector<double> row = requestRow(req, info);
        fazolt::DiagnosticModes modes = requestModes(req);
        // Requests evaluate in parallel: each thread's host call state is its own.
        sendJson(res, 200, fazolt::explanationToJson(info, explainer_.explain(row, modes), false));
    }

    void surface(const httplib::Request &req, httplib::Response &res) {
        const fazolt::SystemInfo &info = explainer_.info();
        checkKnown(req, info, {"x", "y", "output", "resolution"});
        size_t x = variableParameter(req, "x", info.inputs), y = variableParameter(req, "y", info.inputs);
        if (x == y) throw BadRequest{"y", "must differ from x"};
        size_t output = variableParameter(req, "output", info.outputs);
        int resolution = 51;
        if (req.has_param("resolution")) {
            double r = numberParameter("resolution", req.get_param_value("resolution"));
            if (!(r >= 2 && r <= kMaxResolution) || r != std::floor(r))
                throw BadRequest{"resolution", "expected a whole number from 2 to " + std::to_string(kMaxResolution)};
            resolution = static_cast<int>(r);
        }
        // Inputs not on the axes may be left out: they take their range midpoints.
        std::vector<double> row = rangeMidpoints(info);
        if (req.has_param("row"))
            row = requestRow(req, info);
        else
            for (size_t i = 0; i < info.inputs.size(); ++i)
                if (req.has_param(inputParameter(info.inputs[i])))
                    row[i] = numberParameter(inputParameter(info.inputs[i]),
                                             req.get_param_value(inputParameter(info.inputs[i])));
        fazolt::DiagnosticModes modes = requestModes(req);
        fazolt::Explainer::Surface s = explainer_.surface(x, y, output, row, resolution, modes);
        auto list = [](const std::vector<double> &v) {
            std::string out = "[";
            for (size_t k = 0; k < v.size(); ++k) out += (k ? "," : "") + fazolt::jsonNumber(v[k]);
            return out + "]";
        };
        sendJson(res, 200,
                 "{\"x\":" + jsonString(info.inputs[x].name) + ",\"y\":" + jsonString(info.inputs[y].name) +
                     ",\"output\":" + jsonString(info.outputs[output].name) +
                     ",\"resolution\":" + std::to_string(resolution) + ",\"xs\":" + list(s.xs) +
                     ",\"ys\":" + list(s.ys) + ",\"values\":" + list(s.values) + "}");
    }

private:
    fazolt::Explainer explainer_;
    std::string systemJson_;
};

// Runs a handler; a bad request gets 400, a failed evaluation 422, each with
// a JSON error, and the server carries on either way.
template <typename Handler>
httplib::Server::Handler guarded(Handler handler) {
    return [handler](const httplib::Request &req, httplib::Response &res) {
        try {
            handler(req, res);
        } catch (const BadRequest &e) {
            sendJson(res, 400, errorJson(e.parameter, e.message));
        } catch (const orvane::HostError &e) {
            sendJson(res, 422,
                     "{\"error\":{\"identifier\":" + jsonString(e.identifier()) +
                         ",\"message\":" + jsonString(e.message()) + "}}");
        } catch (const std::exception &e) {
            sendJson(res, 500, errorJson("", e.what()));
        }
    };
}

// ---- The server: bounded requests.
//
// The library reads a request with a timeout per read but no limit on the
// whole: a client sending a header line every few seconds, or a million of
// them, held a thread and memory as long as it liked. Each connection here
// goes through a stream that gives a request's head a deadline and a size cap.

using Clock = std::chrono::steady_clock;

// Why the last read on this thread failed, for the error answer.
enum class ReadFailure { none, tooLarge, tooSlow };
thread_local ReadFailure lastReadFailure = ReadFailure::none;

bool waitFor(socket_t sock, short events, int milliseconds) {
    pollfd p{sock, events, 0};
    int n;
    do n = poll(&p, 1, milliseconds);
    while (n < 0 && errno == EINTR);
    return n > 0;
}

// The answer to a request that could not be read: too slow or too large.
std::pair<int, std::string> readFailureAnswer(bool isInRequestLine) {
    if (lastReadFailure == ReadFailure::tooSlow)
        return {408,
                errorJson("request", "not received whole within " + std::to_string(kRequestDeadline.count()) + " s")};
    if (isInRequestLine) return {400, errorJson("url", "URL too long")};
    return {400, errorJson("headers", "request line and headers over " + std::to_string(kMaxHeadBytes) + " bytes")};
}

class ConnectionStream : public httplib::Stream {
public:
    explicit ConnectionStream(socket_t sock) : sock_(sock) {}

    void startRequest() {
        deadline_ = Clock::now() + kRequestDeadline;
        consumed_ = 0;
        lastReadFailure = ReadFailure::none;
    }
    bool hasBuffered() const { return begin_ < end_; }
    bool hasRequestStarted() const { return consumed_ > 0; }

    bool is_readable() const override { return hasBuffered() || waitFor(sock_, POLLIN, remainingMilliseconds()); }
    bool is_writable() const override { return waitFor(sock_, POLLOUT, kWriteTimeoutMilliseconds); }

    ssize_t read(char *ptr, size_t size) override {
        if (consumed_ >= kMaxHeadBytes) {
            lastReadFailure = ReadFailure::tooLarge;
            return -1;
        }
        if (!hasBuffered()) {
            if (!waitFor(sock_, POLLIN, remainingMilliseconds())) {
                lastReadFailure = ReadFailure::tooSlow;
                return -1;
            }
            ssize_t n;
            do n = recv(sock_, buffer_, sizeof(buffer_), 0);
            while (n < 0 && errno == EINTR);
            if (n <= 0) return n;
            begin_ = 0;
            end_ = static_cast<size_t>(n);
        }
        size_t n = std::min({size, end_ - begin_, kMaxHeadBytes - consumed_});
        std::memcpy(ptr, buffer_ + begin_, n);
        begin_ += n;
        consumed_ += n;
        return static_cast<ssize_t>(n);
    }

    ssize_t write(const char *ptr, size_t size) override {
        if (!is_writable()) return -1;
        ssize_t n;
        do n = send(sock_, ptr, size, MSG_NOSIGNAL);
        while (n < 0 && errno == EINTR);
        return n;
    }

    void get_remote_ip_and_port(std::string &ip, int &port) const override { address(getpeername, ip, port); }
    void get_local_ip_and_port(std::string &ip, int &port) const override { address(getsockname, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    int remainingMilliseconds() const {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        return static_cast<int>(std::max<decltype(left)>(left, 0));
    }

    void address(int (*get)(int, sockaddr *, socklen_t *), std::string &ip, int &port) const {
        sockaddr_storage a{};
        socklen_t length = sizeof(a);
        char text[INET6_ADDRSTRLEN] = "";
        port = 0;
        if (get(sock_, reinterpret_cast<sockaddr *>(&a), &length) != 0) return;
        if (a.ss_family == AF_INET) {
            auto *v4 = reinterpret_cast<sockaddr_in *>(&a);
            inet_ntop(AF_INET, &v4->sin_addr, text, sizeof(text));
            port = ntohs(v4->sin_port);
        } else if (a.ss_family == AF_INET6) {
            auto *v6 = reinterpret_cast<sockaddr_in6 *>(&a);
            inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof(text));
            port = ntohs(v6->sin6_port);
        }
        ip = text;
    }

    socket_t sock_;
    char buffer_[4096];
    size_t begin_ = 0, end_ = 0;
    size_t consumed_ = 0;
    Clock::time_point deadline_;
};

// A request the server will not read to its end (another method, a body)
// ends its connection; what the client still sends is read and dropped for a
// moment first, so that closing does not reset the connection under the answer.
bool endsConnection(const httplib::Request &req) {
    return (req.method != "GET" && req.method != "HEAD") || req.has_header("Transfer-Encoding") ||
           (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0");
}

void closeLingering(socket_t sock) {
    shutdown(sock, SHUT_WR);
    char sink[4096];
    size_t dropped = 0;
    auto deadline = Clock::now() + std::chrono::seconds(1);
    while (dropped < kMaxDrainBytes && Clock::now() < deadline && waitFor(sock, POLLIN, 200)) {
        ssize_t n = recv(sock, sink, sizeof(sink), 0);
        if (n <= 0) break;
        dropped += static_cast<size_t>(n);
    }
    close(sock);
}

class BoundedServer : public httplib::Server {
public:
    // The library listens with a backlog of 5; listening again raises it.
    bool raiseBacklog() { return ::listen(svr_sock_, kListenBacklog) == 0; }

private:
    // An answer the library does not write itself, ending the connection.
    static void writeClosingAnswer(ConnectionStream &stream, int status, const char *reason, const std::string &body) {
        std::string answer = "HTTP/1.1 " + std::to_string(status) + " " + reason +
                             "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                             "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff"
                             "\r\nConnection: close\r\n\r\n" +
                             body;
        stream.write(answer.data(), answer.size());
    }

    // Counts the connection against its client's address; false if that
    // address holds its share already.
    bool admit(const std::string &address) {
        std::lock_guard<std::mutex> lock(countsMutex_);
        int &count = connectionCounts_[address];
        if (count >= kMaxConnectionsPerAddress) return false;
        ++count;
        return true;
    }

    void release(const std::string &address) {
        std::lock_guard<std::mutex> lock(countsMutex_);
        auto it = connectionCounts_.find(address);
        if (--it->second == 0) connectionCounts_.erase(it);
    }

    bool process_and_close_socket(socket_t sock) override {
        // A client that does not read its answer fails the write in time.
        timeval writeTimeout{kWriteTimeoutMilliseconds / 1000, 0};
        setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &writeTimeout, sizeof(writeTimeout));
        ConnectionStream stream(sock);
        std::string address;
        int port = 0;
        stream.get_remote_ip_and_port(address, port);
        // Refused at once, without reading: the thread is free again in microseconds.
        if (!admit(address)) {
            writeClosingAnswer(stream, 503, "Service Unavailable",
                               errorJson("connection", "more than " + std::to_string(kMaxConnectionsPerAddress) +
                                                           " connections from " + address));
            // What the client sent already is dropped, so that closing does
            // not reset the connection under the answer; nothing is waited for.
            char sink[4096];
            size_t dropped = 0;
            for (ssize_t n; dropped < kMaxDrainBytes && (n = recv(sock, sink, sizeof(sink), MSG_DONTWAIT)) > 0;)
                dropped += static_cast<size_t>(n);
            shutdown(sock, SHUT_RDWR);
            close(sock);
            return true;
        }
        serveConnection(sock, stream);
        release(address);
        return true;
    }

    void serveConnection(socket_t sock, ConnectionStream &stream) {
        bool isLingering = false;
        for (size_t count = 0; count < keep_alive_max_count_ && svr_sock_ != INVALID_SOCKET; ++count) {
            if (count > 0 && !stream.hasBuffered() &&
                !waitFor(sock, POLLIN, static_cast<int>(keep_alive_timeout_sec_) * 1000))
                break;
            stream.startRequest();
            bool isLast = count + 1 == keep_alive_max_count_, isClosedByClient = false;
            bool isAnswered = process_request(stream, isLast, isClosedByClient, [&](httplib::Request &req) {
                req.ranges.clear();  // Range is ignored: the whole answer or nothing
                if (endsConnection(req)) {
                    isLingering = true;
                    req.headers.erase("Connection");
                    req.set_header("Connection", "close");
                }
            });
            // The library answers nothing when the request line itself fails;
            // a connection that never sent a byte is closed without a word.
            if (!isAnswered && lastReadFailure != ReadFailure::none && stream.hasRequestStarted()) {
                auto [status, body] = readFailureAnswer(true);
                writeClosingAnswer(stream, status, status == 408 ? "Request Timeout" : "Bad Request", body);
            }
            if (!isAnswered || isClosedByClient || isLingering || lastReadFailure != ReadFailure::none) {
                isLingering = isLingering || lastReadFailure != ReadFailure::none;
                break;
            }
        }
        if (isLingering)
            closeLingering(sock);
        else {
            shutdown(sock, SHUT_RDWR);
            close(sock);
        }
    }

    std::mutex countsMutex_;
    std::unordered_map<std::string, int> connectionCounts_;
};

// Threads as many as there are connections, up to kThreadCount; one idle for
// a while ends and gives its memory back, so a past load leaves no lasting RSS.
class ElasticThreadPool : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> job) override {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        // Idle threads already woken for earlier jobs are not free for this one.
        if (jobs_.size() > idleCount_ && threadCount_ < kThreadCount) {
            ++threadCount_;
            std::thread(&ElasticThreadPool::work, this).detach();
        } else {
            wake_.notify_one();
        }
    }

    void shutdown() override {
        std::unique_lock<std::mutex> lock(mutex_);
        isShuttingDown_ = true;
        wake_.notify_all();
        ended_.wait(lock, [this] { return threadCount_ == 0; });
    }

private:
    void work() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            ++idleCount_;
            bool isWoken = wake_.wait_for(lock, kIdleThreadLife, [this] { return !jobs_.empty() || isShuttingDown_; });
            --idleCount_;
            if (!isWoken || jobs_.empty()) break;  // idle too long, or shutting down with nothing left
            std::function<void()> job = std::move(jobs_.front());
            jobs_.pop_front();
            lock.unlock();
            job();
            lock.lock();
        }
        lock.unlock();
        // The thread's cached allocations go back to its arena as it ends;
        // the arenas' free pages go back to the system here.
        malloc_trim(0);
        lock.lock();
        --threadCount_;
        ended_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable wake_, ended_;
    std::list<std::function<void()>> jobs_;
    size_t threadCount_ = 0, idleCount_ = 0;
    bool isShuttingDown_ = false;
};

// ---- Who may ask: DNS rebinding would let any web page reach a server on
// this machine under its own host name, so only names that mean this machine
// (or the one --host names) are answered.

std::string lowercase(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The host of a Host header: "[::1]:8765" is "::1", "Name:80" is "name".
std::string hostName(const std::string &header) {
    if (!header.empty() && header[0] == '[') return lowercase(header.substr(1, header.find(']') - 1));
    size_t colon = header.find(':');
    return lowercase(colon != std::string::npos && header.find(':', colon + 1) == std::string::npos
                         ? header.substr(0, colon)
                         : header);
}

bool isLoopback(const std::string &host) {
    in_addr v4{};
    if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return IN6_IS_ADDR_LOOPBACK(&v6);
    return host == "localhost" || (host.size() > 10 && host.ends_with(".localhost"));
}

bool isWildcard(const std::string &host) { return host == "0.0.0.0" || host == "::" || host.empty(); }

// ---- Starting and stopping.

// A host as it goes into a URL: an IPv6 address in brackets.
std::string urlHost(const std::string &host) { return host.find(':') != std::string::npos ? "[" + host + "]" : host; }

// The checks every request passes before its route: one Host that this
// server answers, bounded headers and body, GET or HEAD, a bounded URL.
httplib::Server::HandlerResponse checkRequest(const httplib::Request &req, httplib::Response &res,
                                              bool isAnyHostAnswered, const std::string &ownHost) {
    auto refuse = [&res](int status, const std::string &parameter, const std::string &message) {
        sendJson(res, status, errorJson(parameter, message));
        return httplib::Server::HandlerResponse::Handled;
    };
    std::string host = hostName(req.get_header_value("Host"));
    if (!req.has_header("Host") || req.get_header_value_count("Host") > 1)
        return refuse(400, "Host", "expected one Host header");
    if (!isAnyHostAnswered && host != ownHost && !isLoopback(host))
        return refuse(403, "Host", "not answered for host \"" + host + "\" (see --host)");
    if (req.headers.size() > kMaxHeaderCount)
        return refuse(400, "headers", "more than " + std::to_string(kMaxHeaderCount) + " headers");
    if (req.has_header("Transfer-Encoding")) return refuse(400, "Transfer-Encoding", "not accepted");
    if (req.has_header("Content-Length")) {
        std::string length = req.get_header_value("Content-Length");
        for (size_t k = 1; k < req.get_header_value_count("Content-Length"); ++k)
            if (req.get_header_value("Content-Length", k) != length)
                return refuse(400, "Content-Length", "given twice with different values");
        if (length.empty() || length.size() > 9 || length.find_first_not_of("0123456789") != std::string::npos)
            return refuse(400, "Content-Length", "expected a whole number of bytes, got \"" + length + "\"");
        if (std::stoul(length) > kMaxBodyLength)
            return refuse(400, "Content-Length",
                          "bodies over " + std::to_string(kMaxBodyLength) + " bytes are not accepted");
    }
    if (req.method != "GET" && req.method != "HEAD") {
        res.set_header("Allow", "GET, HEAD");
        return refuse(405, "method", "only GET is answered, not " + req.method);
    }
    if (req.target.size() > kMaxUrlLength)
        return refuse(400, "url", "longer than " + std::to_string(kMaxUrlLength) + " characters");
    return httplib::Server::HandlerResponse::Unhandled;
}

// Whatever the routes and the check above do not answer (an unknown path,
// a request the library or the connection's limits refused) gets JSON too.
httplib::Server::HandlerResponse answerUnrouted(const httplib::Request &req, httplib::Response &res) {
    if (res.get_header_value("Content-Type") == "application/json") return httplib::Server::HandlerResponse::Unhandled;
    if (lastReadFailure != ReadFailure::none) {
        auto [status, body] = readFailureAnswer(false);
        sendJson(res, status, body);
    } else if (res.status == 404)
        sendJson(res, 404, errorJson("path", "no such path: " + req.path));
    else if (res.status == 414)
        sendJson(res, 400, errorJson("url", "URL too long"));
    else
        sendJson(res, 400,
                 errorJson("request", "cannot answer this request (HTTP " + std::to_string(res.status) + ")"));
    return httplib::Server::HandlerResponse::Handled;
}

int runView(const ViewOptions &options) {
    ViewApi api(loadExplainer(options.systemPath, options.modulePath));
    BoundedServer server;
    server.set_payload_max_length(kMaxBodyLength);
    server.set_tcp_nodelay(true);  // headers and body go out in two writes: no waiting for an ACK between them
    server.new_task_queue = [] { return new ElasticThreadPool; };
    // An idle kept-alive connection holds its thread: let go of it soon.
    server.set_keep_alive_max_count(100);
    server.set_keep_alive_timeout(2);
    server.set_default_headers({{"X-Content-Type-Options", "nosniff"}});
    bool isAnyHostAnswered = isWildcard(options.host);
    std::string ownHost = lowercase(options.host);
    server.set_pre_routing_handler([isAnyHostAnswered, ownHost](const httplib::Request &req, httplib::Response &res) {
        return checkRequest(req, res, isAnyHostAnswered, ownHost);
    });
    server.set_error_handler(httplib::Server::HandlerWithResponse(answerUnrouted));
    for (const WebAsset &asset : kWebAssets) {
        server.Get(asset.path, [&asset](const httplib::Request &, httplib::Response &res) {
            res.set_content(asset.body.data(), asset.body.size(), asset.contentType);
        });
    }
    server.Get("/api/system", guarded([&api](const httplib::Request &q, httplib::Response &r) { api.system(q, r); }));
    server.Get("/api/evaluate",
               guarded([&api](const httplib::Request &q, httplib::Response &r) { api.evaluate(q, r); }));
    server.Get("/api/surface", guarded([&api](const httplib::Request &q, httplib::Response &r) { api.surface(q, r); }));

    // SO_REUSEADDR alone: a restart may reuse the port while old connections
    // linger, but a second server cannot share it (SO_REUSEPORT would let the
    // kernel split connections between two views of different systems).
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    errno = 0;
    int port = options.port == 0 ? server.bind_to_any_port(options.host)
                                 : (server.bind_to_port(options.host, options.port) ? options.port : -1);
    if (port < 0) {
        std::string address = urlHost(options.host) + ":" + std::to_string(options.port);
        if (errno == EADDRINUSE)
            printError(cliError::kViewPortInUse, "cannot listen on " + address + ": port " +
                                                     std::to_string(options.port) +
                                                     " is in use (another fazolt view?)");
        else
            printError(cliError::kViewCannotListen, "cannot listen on " + address);
        return EXIT_EVALUATION_ERROR;
    }
    server.raiseBacklog();
    if (!isLoopback(lowercase(options.host)))
        printNotice(
            "fazolt view listens on " + options.host + ": other machines can reach it and evaluate the system" +
            (isWildcard(options.host) ? ", and any Host name is answered" : ", under this name or a loopback one"));
    // Ctrl-C and SIGTERM wait on a thread of their own, which stops the
    // server from outside a signal handler; every other thread blocks them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::atomic<bool> isStopping{false};
    std::thread stopper([&server, &isStopping, stopSignals]() {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        isStopping = true;
        server.stop();
    });
    std::cout << "fazolt view: serving " << options.systemPath << " at http://" << urlHost(options.host) << ":" << port
              << "/ (Ctrl-C stops)" << std::endl;
    bool isListening = server.listen_after_bind();
    // When listening ended by itself, wake the stopper so that it can be joined.
    if (!isStopping) pthread_kill(stopper.native_handle(), SIGTERM);
    stopper.join();
    std::cout << "fazolt view: stopped" << std::endl;
    return isListening ? 0 : EXIT_EVALUATION_ERROR;
}

}  // namespace

void addViewCommand(CLI::App &app, int &status) {
    auto options = std::make_shared<ViewOptions>();
    CLI::App *view = app.add_subcommand("view", "Serve a page that shows the system at work in a browser");
    view->footer(
        "Serves one page with a slider and a box per input, the crisp outputs, every\n"
        "variable's terms, the rules' firing strengths, each output's aggregated set and a\n"
        "surface over any two inputs. The numbers come from the module through a JSON API:\n"
        "GET /api/system, /api/evaluate?in.NAME=VALUE&..., /api/surface?x=X&y=Y&output=Z\n"
        "(see docs/seeing.md). Listens on 127.0.0.1 unless --host says otherwise; Ctrl-C stops.\n\n"
        "Examples:\n"
        "  fazolt view examples/dimmer/dimmer.json            # then open http://127.0.0.1:8765/\n"
        "  fazolt view examples/sugeno/brake.json --port 9000\n"
        "  fazolt view system.json --port 0                   # any free port, printed at start");
    addSystemOption(view, options->systemPath);
    view->add_option("--port", options->port, "Port to listen on, 0 for any free one (default 8765)")
        ->check(CLI::Range(0, 65535))
        ->type_name("P");
    view->add_option("--host", options->host, "Address to listen on (default 127.0.0.1, this machine only)")
        ->type_name("HOST");
    addModuleOption(view, options->modulePath);
    addFunctionsOption(view);
    view->callback([options, &status]() { status = runView(*options); });
}
