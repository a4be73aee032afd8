"""Python functions evaluated from several threads at once, for the
ThreadSanitizer build (scripts/ci-extra.sh runs it with the sanitizer's
run-time preloaded): two threads on a system with a Python AND, one of them
splitting its rows across threads, a third on a system whose Python AND
evaluates another system, while a fourth registers and unregisters a
function. Exits non-zero on a wrong result; the sanitizer on a race."""
import pathlib
import sys
import threading

import numpy as np

import fazolt

ROOT = pathlib.Path(__file__).resolve().parents[2]
VENT = ROOT / "examples" / "custom_method" / "lukasiewicz.json"
DIMMER = ROOT / "examples" / "dimmer" / "dimmer.json"
QUIET = dict(on_out_of_range="none", on_no_rule_fired="none", on_empty_set="none")


def lukasiewicz(values):
    return max(values.sum() - (len(values) - 1), 0.0)


def main():
    rows = np.column_stack([np.linspace(-5, 50, 600), np.linspace(-10, 110, 600)[::-1]])
    inner = fazolt.System.from_file(DIMMER)
    inner_output = inner.evaluate([[5, 0.9]])

    def nested(values):
        if inner.evaluate([[5, 0.9]]).tobytes() != inner_output.tobytes():
            raise AssertionError("a nested evaluation differs")
        return lukasiewicz(values)

    vent = fazolt.System.from_file(VENT, functions={"lukasiewicz": lukasiewicz})
    vent_nested = fazolt.System.from_file(VENT, functions={"lukasiewicz": nested})
    expected = vent.evaluate(rows, **QUIET).tobytes()
    failures = []
    done = threading.Event()

    def work(system, threads):
        if system.evaluate(rows, threads=threads, **QUIET).tobytes() != expected:
            failures.append(threads)

    def churn():
        while not done.is_set():
            fazolt.register_function("meanwhile", lukasiewicz)
            fazolt.unregister_function("meanwhile")

    workers = [threading.Thread(target=work, args=(vent, 1)), threading.Thread(target=work, args=(vent, 2)),
               threading.Thread(target=work, args=(vent_nested, 1))]
    churner = threading.Thread(target=churn)
    churner.start()
    for t in workers:
        t.start()
    for t in workers:
        t.join()
    done.set()
    churner.join()
    if failures:
        sys.exit(f"results differ from one thread's: {failures}")
    print("python functions under threads: same results")


if __name__ == "__main__":
    main()
