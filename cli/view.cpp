// fazolt view: a local web server with one page that shows a system at work.
// Sections: requests (parameters and their errors), the JSON API, the server.
//
// The page's files are built into the tool and the system is read at
// start-up, so the server reads no file while it runs. Evaluations go one at
// a time through the module (host values are counted without atomics).
#include "cli/commands.h"
#include "cli/explainOptions.h"
#include "cli/csv.h"

#include "webAssets.h"

#include <httplib.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <mutex>
#include <thread>

#include <pthread.h>

namespace {

// Limits on what one request may ask for.
constexpr size_t kMaxUrlLength = 4096;
constexpr size_t kMaxBodyLength = 16 * 1024;
constexpr int kMaxResolution = 201;
constexpr int kCurvePoints = 201;

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
            throw BadRequest{name, name.rfind(kInputPrefix, 0) == 0 ? "no input \"" + name.substr(std::strlen(kInputPrefix)) + "\""
                                   : "unknown parameter (inputs are given as in.NAME=VALUE or row=...)"};
        if (req.get_param_value_count(name) > 1) throw BadRequest{name, "given more than once"};
    }
}

// The row from row=v1,v2,... or one parameter per input (in.NAME=VALUE).
std::vector<double> requestRow(const httplib::Request &req, const fazolt::SystemInfo &info) {
    std::vector<double> row;
    if (req.has_param("row")) {
        std::string text = req.get_param_value("row");
        size_t start = 0;
        for (;;) {
            size_t comma = text.find(',', start);
            row.push_back(numberParameter("row", text.substr(start, comma - start)));
            if (comma == std::string::npos) break;
            start = comma + 1;
        }
        if (row.size() != info.inputs.size())
            throw BadRequest{"row", "expected " + std::to_string(info.inputs.size()) + " values, one per input, got " +
                                        std::to_string(row.size())};
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
    std::pair<const char *, uint8_t *> fields[] = {{"onOutOfRange", &modes.outOfRangeInput},
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
        std::string body;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            body = fazolt::explanationToJson(info, explainer_.explain(row, modes), false);
        }
        sendJson(res, 200, body);
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
        fazolt::Explainer::Surface s;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            s = explainer_.surface(x, y, output, row, resolution, modes);
            s.warnings.clear();  // counted below, under the lock that made them
        }
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
    std::mutex mutex_;
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

// ---- The server.

// A host as it goes into a URL: an IPv6 address in brackets.
std::string urlHost(const std::string &host) {
    return host.find(':') != std::string::npos ? "[" + host + "]" : host;
}

int runView(const ViewOptions &options) {
    ViewApi api(loadExplainer(options.systemPath, options.modulePath));
    httplib::Server server;
    server.set_payload_max_length(kMaxBodyLength);
    server.set_tcp_nodelay(true);  // headers and body go out in two writes: no waiting for an ACK between them
    server.set_keep_alive_max_count(100);
    server.set_read_timeout(10, 0);
    server.set_write_timeout(10, 0);
    // A kept-alive connection holds its thread while idle: enough threads for
    // a browser's connections and a few clients, and idle ones let go soon.
    server.new_task_queue = [] { return new httplib::ThreadPool(16); };
    server.set_keep_alive_timeout(2);
    server.set_pre_routing_handler([](const httplib::Request &req, httplib::Response &res) {
        if (req.target.size() > kMaxUrlLength) {
            sendJson(res, 400, errorJson("url", "longer than " + std::to_string(kMaxUrlLength) + " characters"));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // Whatever the routes do not answer (an unknown path, another method, a
    // URL or body over the library's own limits) gets a JSON 400 too.
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &req, httplib::Response &res) {
            if (res.get_header_value("Content-Type") == "application/json")
                return httplib::Server::HandlerResponse::Unhandled;
            if (res.status != 414 && req.method != "GET") {
                sendJson(res, 400, errorJson("method", "only GET is answered, not " + req.method));
                return httplib::Server::HandlerResponse::Handled;
            }
            std::string message = res.status == 404   ? "no such path: " + req.path
                                  : res.status == 414 ? "URL too long"
                                  : res.status == 413
                                      ? "request too large"
                                      : "cannot answer this request (HTTP " + std::to_string(res.status) + ")";
            sendJson(res, 400, errorJson(res.status == 404 ? "path" : res.status == 414 ? "url" : "request", message));
            return httplib::Server::HandlerResponse::Handled;
        }));
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
            std::cerr << "error: fazolt:view:PortInUse: cannot listen on " << address << ": port " << options.port
                      << " is in use (another fazolt view?)\n";
        else
            std::cerr << "error: fazolt:view:CannotListen: cannot listen on " << address << "\n";
        return EXIT_EVALUATION_ERROR;
    }
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
        "(see the README). Listens on 127.0.0.1 unless --host says otherwise; Ctrl-C stops.\n\n"
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
