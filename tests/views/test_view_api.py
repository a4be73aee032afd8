"""The view server's JSON API: answers from the module, a JSON error naming the
parameter for every bad request, slow clients that hold up no one, and a bounded load of 2,000 requests from
16 concurrent clients on the loopback address answered in full."""
import concurrent.futures
import http.client
import json
import random
import resource
import select
import socket
import struct
import time

import pytest

from conftest import REFERENCE_SYSTEMS, ROOT, ViewServer, run

DIMMER = ROOT / "examples/dimmer/dimmer.json"


@pytest.mark.parametrize("view_server", [DIMMER], indirect=True)
def test_bad_requests_get_400_naming_the_parameter(view_server):
    cases = [
        ("/api/evaluate?in.daylight=30", "in.motion"),                 # missing input
        ("/api/evaluate?in.daylight=30&in.motion=abc", "in.motion"),   # not a number
        ("/api/evaluate?daylight=30&motion=0.5", "daylight"),          # inputs go by in.NAME
        ("/api/evaluate?row=30,0.9,1", "row"),                         # wrong input count
        ("/api/evaluate?row=30", "row"),
        ("/api/evaluate?row=30,0.9&colour=red", "colour"),             # unknown parameter
        ("/api/evaluate?row=30,0.9&onNoRuleFired=loud", "onNoRuleFired"),
        ("/api/surface?x=daylight&y=motion&output=lamp&resolution=1000000", "resolution"),
        ("/api/surface?x=daylight&y=motion&output=lamp&resolution=2.5", "resolution"),
        ("/api/surface?x=daylight&y=daylight&output=lamp", "y"),
        ("/api/surface?x=daylight&y=motion&output=light", "output"),
        ("/api/evaluate?row=" + "1" * 5000, "url"),                    # long URL, ours
        ("/api/evaluate?row=" + "1" * 20000, "url"),                   # beyond the library's own limit
        ("/api/system?x=1", "x"),
    ]
    for path, parameter in cases:
        status, body = view_server.get(path)
        assert (status, body["error"]["parameter"]) == (400, parameter), path[:60]
        assert body["error"]["message"]
    # Requests refused before they are read whole, on raw connections; the
    # server is still up after all of them.
    get = "GET /api/system HTTP/1.1\r\nHost: 127.0.0.1\r\n"
    refused = [
        ("GET /no/such/path HTTP/1.1\r\nHost: localhost\r\n\r\n", 404, "path"),
        ("POST /api/evaluate HTTP/1.1\r\nHost: [::1]:80\r\nContent-Length: 100\r\n\r\n" + "x" * 100, 405, "method"),
        ("GET /api/system HTTP/1.1\r\nHost: attacker.example\r\n\r\n", 403, "Host"),   # DNS rebinding
        ("GET /api/system HTTP/1.1\r\nHost: 127.attacker.example\r\n\r\n", 403, "Host"),
        (get + "Content-Length: 5000000\r\n\r\n" + "x" * 100000, 400, "Content-Length"),
        (get + "Content-Length: -1\r\n\r\n", 400, "Content-Length"),
        (get + "Content-Length: 2\r\nContent-Length: 3\r\n\r\nxyz", 400, "Content-Length"),
        (get + "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n", 400, "Transfer-Encoding"),
        (get + "".join(f"X-{k}: {k}\r\n" for k in range(150)) + "\r\n", 400, "headers"),
        (get + "X: " + "y" * 6000 + "\r\n" + "".join(f"X-{k}: {'y' * 99}\r\n" for k in range(100000)) + "\r\n",
         400, "headers"),
    ]
    for request, status, parameter in refused:
        head, body = raw_request(view_server.port, request)
        assert (head.split()[1], json.loads(body)["error"]["parameter"]) == (str(status), parameter), request[:60]
        assert "x-content-type-options: nosniff" in head.lower()
    # A multi-range request gets the whole file.
    head, body = raw_request(view_server.port, "GET /view.js HTTP/1.1\r\nHost: localhost\r\n"
                             "Range: " + "bytes=" + ",".join(f"{k}-{k}" for k in range(0, 1000, 2)) + "\r\n\r\n")
    assert head.startswith("HTTP/1.1 200") and len(body) == int(http.client.parse_headers(
        __import__("io").BytesIO(head.split("\r\n", 1)[1].encode()))["Content-Length"])
    assert view_server.get("/api/evaluate?row=30,0.9")[0] == 200


def raw_request(port, request):
    """Sends bytes as they are and reads the answer until the server closes
    the connection (each request above ends it) or its Content-Length is in."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        try:
            s.sendall(request.encode())
        except (BrokenPipeError, ConnectionResetError):
            pass  # refused before it was read whole: the answer is there all the same
        data = b""
        while b"\r\n\r\n" not in data or len(data.split(b"\r\n\r\n", 1)[1]) < content_length(data):
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    head, _, body = data.partition(b"\r\n\r\n")
    return head.decode(), body.decode()


def content_length(data):
    for line in data.split(b"\r\n\r\n", 1)[0].split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            return int(line.split(b":")[1])
    return 1 << 62


@pytest.mark.parametrize("view_server", [DIMMER], indirect=True)
def test_slow_clients_do_not_hold_up_others(view_server):
    """16 clients trickling a request's headers, one line at a time, and
    other requests answered meanwhile (each given 1 s); the slow ones are let
    go with 408 once the head's deadline has passed."""
    slow = [socket.create_connection(("127.0.0.1", view_server.port), timeout=10) for _ in range(16)]
    for s in slow:
        s.sendall(b"GET /api/system HTTP/1.1\r\nHost: localhost\r\n")
    for k in range(10):
        for s in slow:
            s.sendall(f"X-Slow-{k}: 1\r\n".encode())
        conn = http.client.HTTPConnection("127.0.0.1", view_server.port, timeout=1)
        conn.request("GET", "/api/evaluate?row=30,0.9")
        assert conn.getresponse().status == 200
        conn.close()
        time.sleep(0.2)
    for s in slow:
        assert s.recv(65536).startswith(b"HTTP/1.1 408")
        s.close()


def test_a_thousand_slow_connections_from_one_address_hold_up_no_one():
    """1,000 connections from one address (127.0.0.2) that send nothing: past
    the address's share of 32 they are refused at once with 503, and requests
    from another address are answered within a second meanwhile."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < 1500:
        if hard != resource.RLIM_INFINITY and hard < 1500:
            pytest.skip(f"1,500 open files needed, the limit is {hard}")
        resource.setrlimit(resource.RLIMIT_NOFILE, (1500, hard))
    server = ViewServer(DIMMER)
    slow = []
    try:
        for _ in range(1000):
            s = socket.socket()
            s.settimeout(5)
            s.bind(("127.0.0.2", 0))
            s.connect(("127.0.0.1", server.port))
            slow.append(s)
        worst = 0.0
        for _ in range(10):
            start = time.monotonic()
            conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=5)
            conn.request("GET", "/api/evaluate?row=30,0.9")
            assert conn.getresponse().status == 200
            conn.close()
            worst = max(worst, time.monotonic() - start)
            time.sleep(0.05)
        assert worst < 1.0
        poll = select.poll()  # select() takes no descriptor above 1023
        for s in slow:
            poll.register(s, select.POLLIN)
        answered = {fd for fd, _ in poll.poll(1000)}
        refused = [s for s in slow if s.fileno() in answered and s.recv(64).startswith(b"HTTP/1.1 503")]
        assert len(refused) == 1000 - 32
    finally:
        for s in slow:
            s.close()
        server.stop()


# Inputs named like the API's own parameters, with the page's surface request.
CLASHING = {"name": "clashing", "type": "mamdani",
            "inputs": [{"name": n, "range": [0, 10], "mf": [{"name": "lo", "type": "trimf", "params": [-10, 0, 10]},
                                                        {"name": "hi", "type": "trimf", "params": [0, 10, 20]}]}
                       for n in ("x", "y", "output", "resolution", "row")],
            "outputs": [{"name": "level", "range": [0, 1], "mf": [
                {"name": "low", "type": "trimf", "params": [-1, 0, 1]},
                {"name": "high", "type": "trimf", "params": [0, 1, 2]}]}],
            "rules": ["if x is lo and output is hi then level is low", "if row is hi or y is lo then level is high",
                      "if resolution is hi then level is low with 0.5"]}


def test_inputs_named_like_api_parameters(tmp_path):
    system = tmp_path / "clashing.json"
    system.write_text(json.dumps(CLASHING))
    csv = tmp_path / "row.csv"
    csv.write_text("1,2,3,4,5\n")
    expected = run("eval", system, csv).stdout.splitlines()[1]
    server = ViewServer(system)
    try:
        by_name = server.get("/api/evaluate?in.x=1&in.y=2&in.output=3&in.resolution=4&in.row=5")
        by_row = server.get("/api/evaluate?row=1,2,3,4,5")
        assert by_name == by_row and by_name[0] == 200
        assert bits(by_name[1]["outputs"][0]["value"]) == bits(expected)
        status, surface = server.get("/api/surface?x=row&y=x&output=level&resolution=3&row=1,2,3,4,5")
        assert status == 200 and (surface["x"], surface["y"]) == ("row", "x")
        status, fixed = server.get("/api/surface?x=row&y=x&output=level&resolution=3&in.y=2&in.output=3&in.resolution=4")
        assert fixed["values"] == surface["values"]
        # A second view on a port in use fails instead of sharing it.
        busy = run("view", system, "--port", server.port, check=False)
        assert busy.returncode == 1 and f"port {server.port} is in use" in busy.stderr
    finally:
        server.stop()


@pytest.mark.parametrize("view_server", [DIMMER], indirect=True)
def test_a_failed_evaluation_reports_the_module_error(view_server):
    status, body = view_server.get("/api/evaluate?row=300,0.9&onOutOfRange=error")
    assert status == 422
    assert body["error"]["identifier"] == "diagFazolt_OutOfRangeInput" and "300" in body["error"]["message"]
    status, body = view_server.get("/api/evaluate?row=300,0.9")
    assert status == 200 and body["warnings"][0]["identifier"] == "diagFazolt_OutOfRangeInput"
    status, body = view_server.get("/api/evaluate?row=30,NaN&onNanInput=error")  # a missing reading
    assert (status, body["error"]["message"]) == (422, 'input "motion" is NaN')


def bits(v):
    return struct.pack("<d", float(v))


BIG = [p for p in REFERENCE_SYSTEMS if p.name == "big_mamdani.json"] or [ROOT / "examples/sugeno/brake.json"]


@pytest.mark.parametrize("view_server", BIG, indirect=True)
def test_load_of_2000_requests_from_16_clients(view_server, tmp_path):
    system = view_server.get("/api/system")[1]
    ranges = [i["range"] for i in system["inputs"]]
    rng = random.Random(2000)
    rows = [[repr(rng.uniform(lo, hi)) for lo, hi in ranges] for _ in range(1800)]
    csv = tmp_path / "rows.csv"
    csv.write_text("".join(",".join(r) + "\n" for r in rows))
    expected = [line.split(",") for line in run("eval", BIG[0], csv).stdout.splitlines()[1:]]
    surface_path = "/api/surface?x={}&y={}&output={}&resolution=21".format(
        system["inputs"][0]["name"], system["inputs"][1]["name"], system["outputs"][0]["name"])
    surface = view_server.get(surface_path)[1]["values"]
    # 1800 evaluations, 100 surfaces and 100 bad requests, interleaved.
    requests = [("evaluate", k) for k in range(len(rows))] + [("surface", 0)] * 100 + [("bad", 0)] * 100
    rng.shuffle(requests)

    def client(share):
        conn = http.client.HTTPConnection("127.0.0.1", view_server.port, timeout=30)
        wrong = []
        for kind, k in share:
            path = {"evaluate": "/api/evaluate?row=" + ",".join(rows[k]) if kind == "evaluate" else "",
                    "surface": surface_path, "bad": "/api/evaluate?row=1"}[kind]
            conn.request("GET", path)
            response = conn.getresponse()
            body = json.loads(response.read())
            if kind == "evaluate":
                ok = response.status == 200 and [bits(o["value"]) for o in body["outputs"]] == [bits(v) for v in expected[k]]
            elif kind == "surface":
                ok = response.status == 200 and body["values"] == surface
            else:
                ok = response.status == 400 and body["error"]["parameter"] == "row"
            if not ok:
                wrong.append((kind, k, response.status))
        conn.close()
        return len(share), wrong

    shares = [requests[c::16] for c in range(16)]
    with concurrent.futures.ThreadPoolExecutor(16) as pool:
        answers = list(pool.map(client, shares))
    assert sum(n for n, _ in answers) == 2000
    assert [w for _, wrong in answers for w in wrong] == []
