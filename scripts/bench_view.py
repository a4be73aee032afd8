#!/usr/bin/python3
"""Speed of `fazolt view`, measured from clients over loopback (big_mamdani by
default): one client's evaluate and 101 x 101 surface requests; requests/s,
median and p99 of evaluate and of a mixed load from 32 clients; the slowest
request while 16 slow clients trickle headers; and the server's RSS before,
at its peak and after the load. A benchmark, never a test.

    scripts/bench_view.py [SYSTEM] [--build build] [--requests N]"""
import argparse
import concurrent.futures
import http.client
import json
import pathlib
import random
import socket
import statistics
import subprocess
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]


def rss_kib(pid, field="VmRSS"):
    for line in pathlib.Path(f"/proc/{pid}/status").read_text().splitlines():
        if line.startswith(field + ":"):
            return int(line.split()[1])
    return 0


def timed_gets(port, paths):
    """Latencies of GETs on one kept-alive connection; every answer must be 200."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    times = []
    for path in paths:
        start = time.perf_counter()
        conn.request("GET", path)
        response = conn.getresponse()
        response.read()
        times.append(time.perf_counter() - start)
        assert response.status == 200, (path, response.status)
    conn.close()
    return times


def load(port, paths, clients):
    """(requests/s, latencies) of the paths shared out among the clients."""
    shares = [paths[c::clients] for c in range(clients)]
    start = time.perf_counter()
    with concurrent.futures.ThreadPoolExecutor(clients) as pool:
        times = [t for share in pool.map(lambda s: timed_gets(port, s), shares) for t in share]
    return len(paths) / (time.perf_counter() - start), times


def summary(name, rate, times):
    times = sorted(times)
    print(f"{name}: {len(times)} requests, {rate:.0f} requests/s, median {statistics.median(times) * 1e3:.3f} ms, "
          f"p99 {times[int(len(times) * 0.99)] * 1e3:.3f} ms, max {times[-1] * 1e3:.1f} ms")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("system", nargs="?", default=str(ROOT / "bench" / "systems" / "big_mamdani.json"))
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--requests", type=int, default=500)
    args = parser.parse_args()
    server = subprocess.Popen([str(pathlib.Path(args.build) / "fazolt"), "view", args.system, "--port", "0"],
                              stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline().split("127.0.0.1:")[1].split("/")[0])
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
        conn.request("GET", "/api/system")
        system = json.loads(conn.getresponse().read())
        conn.close()
        rss_start = rss_kib(server.pid)
        ranges = [i["range"] for i in system["inputs"]]
        rng = random.Random(5)
        rows = [",".join(repr(rng.uniform(lo, hi)) for lo, hi in ranges) for _ in range(args.requests)]
        evaluate_paths = ["/api/evaluate?row=" + row for row in rows]
        names = [i["name"] for i in system["inputs"]]
        surface = f"/api/surface?x={names[0]}&y={names[1]}&output={system['outputs'][0]['name']}"
        timed_gets(port, evaluate_paths[:20])  # warm-up

        print(f"system: {args.system}")
        single = timed_gets(port, evaluate_paths)
        summary("evaluate, 1 client", len(single) / sum(single), single)
        surfaces = timed_gets(port, [surface + "&resolution=101"] * 20)
        summary("surface 101 x 101, 1 client", len(surfaces) / sum(surfaces), surfaces)

        summary("evaluate, 32 clients", *load(port, evaluate_paths * 8, 32))
        # Mixed: mostly evaluations, some surfaces, the system and the page's files.
        mixed = evaluate_paths * 4 + [surface + "&resolution=51"] * (args.requests // 10) + \
            ["/api/system", "/", "/view.js", "/view.css"] * (args.requests // 20)
        rng.shuffle(mixed)
        summary("mixed, 32 clients", *load(port, mixed, 32))

        # 16 clients sending a header line every 0.5 s while one client evaluates.
        stop = threading.Event()
        slow = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(16)]

        def trickle():
            for s in slow:
                s.sendall(b"GET /api/system HTTP/1.1\r\nHost: localhost\r\n")
            k = 0
            while not stop.wait(0.5):
                for s in slow:
                    try:
                        s.sendall(f"X-Slow-{k}: 1\r\n".encode())
                    except OSError:
                        pass  # let go by the server's deadline
                k += 1

        trickler = threading.Thread(target=trickle)
        trickler.start()
        time.sleep(0.2)
        during = timed_gets(port, evaluate_paths)
        stop.set()
        trickler.join()
        for s in slow:
            s.close()
        summary("evaluate, 1 client beside 16 slow ones", len(during) / sum(during), during)

        time.sleep(5)  # idle connections and threads let go
        rss_end, rss_peak = rss_kib(server.pid), rss_kib(server.pid, "VmHWM")
        print(f"server RSS: {rss_start / 1024:.1f} MiB at start, peak {rss_peak / 1024:.1f} MiB, "
              f"{rss_end / 1024:.1f} MiB after the load ({(rss_end / rss_start - 1) * 100:+.1f}%)")
    finally:
        server.terminate()
        server.wait(timeout=20)


if __name__ == "__main__":
    main()
