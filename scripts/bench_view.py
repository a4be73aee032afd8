#!/usr/bin/python3
"""Speed of `fazolt view`, measured from the client over loopback: one
evaluate request of big_mamdani (median of many, on a kept-alive connection)
and one 101 x 101 surface. A benchmark, never a test.

    scripts/bench_view.py [SYSTEM] [--build build]"""
import argparse
import http.client
import pathlib
import random
import statistics
import subprocess
import time

ROOT = pathlib.Path(__file__).resolve().parents[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("system", nargs="?", default=str(ROOT / ".." / "shared" / "bench" / "systems" / "big_mamdani.json"))
    parser.add_argument("--build", default=str(ROOT / "build"))
    parser.add_argument("--requests", type=int, default=500)
    args = parser.parse_args()
    server = subprocess.Popen([str(pathlib.Path(args.build) / "fazolt"), "view", args.system, "--port", "0"],
                              stdout=subprocess.PIPE, text=True)
    try:
        port = int(server.stdout.readline().split("127.0.0.1:")[1].split("/")[0])
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30)

        def get(path):
            start = time.perf_counter()
            conn.request("GET", path)
            response = conn.getresponse()
            response.read()
            assert response.status == 200, (path, response.status)
            return time.perf_counter() - start

        import json
        conn.request("GET", "/api/system")
        system = json.loads(conn.getresponse().read())
        ranges = [i["range"] for i in system["inputs"]]
        rng = random.Random(5)
        rows = [",".join(repr(rng.uniform(lo, hi)) for lo, hi in ranges) for _ in range(args.requests)]
        for row in rows[:20]:
            get("/api/evaluate?row=" + row)  # warm-up
        evaluate = [get("/api/evaluate?row=" + row) for row in rows]
        names = [i["name"] for i in system["inputs"]]
        surface_path = f"/api/surface?x={names[0]}&y={names[1]}&output={system['outputs'][0]['name']}&resolution=101"
        get(surface_path)
        surface = [get(surface_path) for _ in range(20)]
        print(f"system: {args.system}")
        print(f"evaluate, {len(evaluate)} requests: median {statistics.median(evaluate) * 1e3:.3f} ms, "
              f"p90 {sorted(evaluate)[int(len(evaluate) * 0.9)] * 1e3:.3f} ms")
        print(f"surface 101 x 101, {len(surface)} requests: median {statistics.median(surface) * 1e3:.2f} ms, "
              f"max {max(surface) * 1e3:.2f} ms")
    finally:
        server.terminate()
        server.wait(timeout=20)


if __name__ == "__main__":
    main()
