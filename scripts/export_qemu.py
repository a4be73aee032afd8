#!/usr/bin/python3
"""Exported C on a Cortex-M7 (QEMU's mps2-an500) against the same C on the host.

Exports the examples and the reference systems with the fazolt tool, builds one
driver that evaluates a grid of rows (in and out of range) for each and prints
the returned bits and the outputs' bits, once for the host and once for the
board (picolibc, semihosting), runs both and compares: a system whose
arithmetic is + - * /, comparisons and fazolt's own exp (emitted into the
file) must agree bit for bit; where pow (gbellmf) comes from the board's C
library the largest difference in ulps is reported. Also prints each system's flash (code + constant data) and its
stack bytes on the board. The host side is the engine's bits: the ctest
ExportC tests check that.

    scripts/export_qemu.py BUILD_DIR [WORK_DIR]
"""
import json
import os
import re
import struct
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SYSTEMS = ["examples/dimmer/dimmer.json", "examples/climate/climate.json", "examples/heater/heater.json",
           "examples/embedded/greenhouse.json", "bench/systems/fan.json", "bench/systems/big_mamdani.json",
           "bench/systems/sugeno_linear.json"]
ARM_FLAGS = ["-mcpu=cortex-m7", "-mthumb", "-mfloat-abi=hard", "-mfpu=fpv5-d16"]
BOARD = ["--specs=picolibc.specs", "--oslib=semihost", "--crt0=semihost",
         "-Wl,--defsym=__flash=0x00000000", "-Wl,--defsym=__flash_size=0x400000",
         "-Wl,--defsym=__ram=0x20000000", "-Wl,--defsym=__ram_size=0x400000"]
CFLAGS = ["-std=c99", "-O2", "-ffp-contract=off", "-Wall", "-Wextra", "-pedantic", "-Werror"]


def run(command, **kw):
    return subprocess.run(command, check=True, **kw)


def literal(v):
    if v != v:
        return "NAN"
    if v in (float("inf"), float("-inf")):
        return "-INFINITY" if v < 0 else "INFINITY"
    return float.hex(float(v))


def rows_for(ranges):
    columns = []
    for lo, hi in ranges:
        lo, hi = float(lo), float(hi)
        w = hi - lo
        columns.append([lo - 0.2 * w + k * (1.4 * w / 12) for k in range(13)] + [lo, hi])
    m = len(columns[0])
    rows = []
    for a in range(m):
        for b in range(m if len(columns) > 1 else 1):
            rows.append([columns[i][(a if i == 0 else b if i == 1 else a + b + i) % m] for i in range(len(columns))])
    return rows


def ulps(a, b):
    def ordered(x):
        i = struct.unpack("<q", struct.pack("<d", x))[0]
        return i if i >= 0 else -(i & 0x7FFFFFFFFFFFFFFF)
    return abs(ordered(a) - ordered(b))


def main():
    build = os.path.abspath(sys.argv[1])
    work = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "export-qemu"))
    os.makedirs(work, exist_ok=True)
    driver = ["#include <math.h>", "#include <stdio.h>", "#include <string.h>"]
    body = []
    names = []
    for path in SYSTEMS:
        name = os.path.splitext(os.path.basename(path))[0]
        run([os.path.join(build, "fazolt"), "export", os.path.join(ROOT, path), "-o", work, "--prefix", name])
        with open(os.path.join(ROOT, path)) as f:
            ranges = [v["range"] for v in json.load(f)["inputs"]]
        rows = rows_for(ranges)
        names.append(name)
        driver.append('#include "%s.h"' % name)
        driver.append("static const double rows_%s[][%d] = {" % (name, len(ranges)))
        driver += ["  {%s}," % ", ".join(literal(v) for v in row) for row in rows]
        driver.append("};")
        up = name.upper()
        body.append("""  for (r = 0; r < sizeof rows_%s / sizeof rows_%s[0]; ++r) {
    double out[%s_NUM_OUTPUTS];
    int flags = %s_evaluate(rows_%s[r], out), o;
    printf("%s %%d", flags);
    for (o = 0; o < %s_NUM_OUTPUTS; ++o) { unsigned long long u; memcpy(&u, &out[o], 8); printf(" %%016llx", u); }
    printf("\\n");
  }""" % (name, name, up, name, name, name, up))
    driver.append("int main(void) {\n  size_t r;\n%s\n  return 0;\n}" % "\n".join(body))
    with open(os.path.join(work, "driver.c"), "w") as f:
        f.write("\n".join(driver) + "\n")
    sources = [os.path.join(work, n + ".c") for n in names] + [os.path.join(work, "driver.c")]

    run(["cc"] + CFLAGS + ["-I", work, "-o", os.path.join(work, "host")] + sources + ["-lm"])
    host = run([os.path.join(work, "host")], capture_output=True, text=True).stdout.splitlines()
    elf = os.path.join(work, "board.elf")
    run(["arm-none-eabi-gcc"] + ARM_FLAGS + BOARD + CFLAGS + ["-I", work, "-o", elf] + sources + ["-lm"])
    board = run(["timeout", "300", "qemu-system-arm", "-M", "mps2-an500", "-nographic",
                 "-semihosting-config", "enable=on,target=native", "-kernel", elf],
                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True).stdout.splitlines()
    board = [line for line in board if line.split(" ")[0] in names]
    if len(board) != len(host):
        sys.exit("export-qemu: the board printed %d lines, the host %d" % (len(board), len(host)))

    failed = False
    for name in names:
        with open(os.path.join(work, name + ".c")) as f:
            source = f.read()
        uses_libm = re.search(r"#define FZ_USES_POW 1", source) is not None
        uses_exp = re.search(r"#define FZ_USES_EXP 1", source) is not None
        worst = 0
        flags_differ = 0
        for h, b in zip(host, board):
            if not h.startswith(name + " "):
                continue
            hs, bs = h.split()[1:], b.split()[1:]
            flags_differ += hs[0] != bs[0]
            for x, y in zip(hs[1:], bs[1:]):
                hx = struct.unpack("<d", bytes.fromhex(x)[::-1])[0]
                bx = struct.unpack("<d", bytes.fromhex(y)[::-1])[0]
                if x != y and not (hx != hx and bx != bx):
                    worst = max(worst, ulps(hx, bx))
        # Flash and stack of the system alone on the board.
        obj = os.path.join(work, name + ".o")
        run(["arm-none-eabi-gcc"] + ARM_FLAGS + CFLAGS + ["-fstack-usage", "-c", "-o", obj,
                                                          os.path.join(work, name + ".c")])
        size = run(["arm-none-eabi-size", obj], capture_output=True, text=True).stdout.splitlines()[1].split()
        flash = int(size[0]) + int(size[1])
        with open(os.path.join(work, name + ".su")) as f:
            stack = sum(int(line.split("\t")[1]) for line in f if line.strip())
        verdict = "bit for bit" if worst == 0 and flags_differ == 0 else \
            "largest difference %d ulp, %d rows with other bits" % (worst, flags_differ)
        if not uses_libm and (worst != 0 or flags_differ):
            failed = True
            verdict += " (FAIL: no pow, must be exact)"
        print("export-qemu: %-14s %-26s flash %6d bytes, stack <= %4d bytes; %s" %
              (name, "(pow from picolibc)" if uses_libm else "(fazolt's exp)" if uses_exp else "(+ - * / only)", flash, stack, verdict))
    if failed:
        sys.exit(1)


if __name__ == "__main__":
    main()
