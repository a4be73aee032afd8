"""Shared fixtures of the explain, plot and view tests: the built tool and a
running `fazolt view` on a free loopback port."""
import json
import os
import pathlib
import signal
import subprocess
import urllib.error
import urllib.request

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("FAZOLT_BUILD_DIR", ROOT / "build")).resolve()
FAZOLT = BUILD / "fazolt"
REFERENCE_SYSTEMS = sorted((ROOT / "bench" / "systems").glob("*.json"))
# Every bundled system the tool evaluates alone (the custom-method example
# needs its C++ host function, which only its own program registers).
BUNDLED_SYSTEMS = [ROOT / p for p in ("examples/dimmer/dimmer.json", "examples/dimmer/dimmer.record.json",
                                      "examples/sugeno/brake.json", "examples/sugeno/brake.record.json",
                                      "examples/climate/climate.json",
                                      "examples/heater/heater.json", "examples/call/fis.json")]


def run(*args, check=True):
    result = subprocess.run([str(FAZOLT), *map(str, args)], capture_output=True, text=True, timeout=120)
    if check and result.returncode != 0:
        raise AssertionError(f"fazolt {' '.join(map(str, args))} failed: {result.stderr}")
    return result


class ViewServer:
    def __init__(self, system):
        self.process = subprocess.Popen([str(FAZOLT), "view", str(system), "--port", "0"],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        assert "http://127.0.0.1:" in line, line + self.process.stderr.read()
        self.url = line.split(" at ")[1].split()[0].rstrip("/")
        self.port = int(self.url.rsplit(":", 1)[1])

    def get(self, path):
        """(status, parsed JSON body)"""
        try:
            with urllib.request.urlopen(self.url + path, timeout=30) as r:
                return r.status, json.loads(r.read())
        except urllib.error.HTTPError as e:
            return e.code, json.loads(e.read())

    def stop(self):
        """Ctrl-C, and the server must end cleanly."""
        self.process.send_signal(signal.SIGINT)
        out, err = self.process.communicate(timeout=20)
        assert self.process.returncode == 0, err
        assert "stopped" in out


@pytest.fixture
def view_server(request):
    server = ViewServer(request.param)
    yield server
    server.stop()
