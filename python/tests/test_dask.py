"""A local cluster of two worker processes gives the single-process outputs bit for bit."""
import dask.array as da
import dask.dataframe as dd
import numpy as np
import pandas as pd
import pytest
from distributed import Client, LocalCluster

import fazolt
import fazolt.dask
from conftest import BUILD, REFERENCE_SYSTEMS, same_bits

ROWS = 1_000_000
# distributed 2022.12 on this tornado warns at start-up; nothing of ours.
pytestmark = pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")


@pytest.fixture(scope="module")
def client():
    # Workers import the package from the build tree, as this process does.
    import os
    os.environ["PYTHONPATH"] = os.pathsep.join([str(BUILD / "python"), os.environ.get("PYTHONPATH", "")])
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
            Client(cluster) as c:
        yield c


def test_fan_on_two_workers(client):
    system = fazolt.System.from_file(REFERENCE_SYSTEMS / "fan.json")
    rng = np.random.default_rng(11)
    lo = np.array([v.range[0] for v in system.inputs])
    hi = np.array([v.range[1] for v in system.inputs])
    rows = lo + (hi - lo) * rng.random((ROWS, len(lo)))
    expected = system.evaluate(rows, on_out_of_range="none")

    array = da.from_array(rows, chunks=(125_000, len(lo)))
    out = fazolt.dask.evaluate(array, system, on_out_of_range="none").compute()
    assert same_bits(out, expected)

    frame = dd.from_pandas(pd.DataFrame(rows[:, ::-1], columns=system.input_names[::-1]), npartitions=8)
    lazy = fazolt.dask.evaluate(frame, system, on_out_of_range="none")
    assert list(lazy.columns) == system.output_names and (lazy.dtypes == np.float64).all()
    result = lazy.compute()
    assert same_bits(result.to_numpy(), expected) and result.index.equals(pd.RangeIndex(ROWS))
    # Every task of both graphs found the system its worker had built once.
    built = client.run(lambda: len(__import__("fazolt")._system._pickled))
    assert list(built.values()) == [1, 1]


def test_scheduler_and_two_workers_on_tcp_give_the_outputs_and_the_warnings(tmp_path):
    # As on several machines: a scheduler and two workers, each its own
    # process, talking TCP; rows out of range in every partition.
    import os
    import subprocess
    import time
    import warnings

    from distributed import Client

    system = fazolt.System.from_file(REFERENCE_SYSTEMS / "fan.json")
    rng = np.random.default_rng(5)
    lo = np.array([v.range[0] for v in system.inputs])
    hi = np.array([v.range[1] for v in system.inputs])
    rows = lo + (hi - lo) * (rng.random((40_000, len(lo))) * 1.02 - 0.01)  # about 4% out of range
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        expected = system.evaluate(rows)
    env = dict(os.environ, PYTHONPATH=os.pathsep.join([str(BUILD / "python"), os.environ.get("PYTHONPATH", "")]))
    address = tmp_path / "scheduler.json"
    options = ["--no-dashboard", "--host", "127.0.0.1"]
    processes = [subprocess.Popen(["dask-scheduler", "--port", "0", "--scheduler-file", str(address), *options],
                                  env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    try:
        for _ in range(2):
            processes.append(subprocess.Popen(["dask-worker", "--scheduler-file", str(address), "--nthreads", "1",
                                               "--nworkers", "1", *options], env=env,
                                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        while not address.exists():
            time.sleep(0.1)
        with Client(scheduler_file=str(address), timeout=60) as c:
            c.wait_for_workers(2, timeout=60)
            assert all(w.startswith("tcp://127.0.0.1:") for w in c.scheduler_info()["workers"])
            frame = dd.from_pandas(pd.DataFrame(rows, columns=system.input_names), npartitions=4)
            with warnings.catch_warnings(record=True) as reached:
                warnings.simplefilter("always")
                result = fazolt.dask.evaluate(frame, system).compute()
    finally:
        for p in processes[::-1]:
            p.terminate()
            p.wait(timeout=30)
    assert same_bits(result.to_numpy(), expected)
    # The same warnings as one process, capped the same way over all partitions.
    def summary(ws):
        ids = [w.message.identifier for w in ws if isinstance(w.message, fazolt.FazoltWarning)]
        more = [int(w.message.message.split()[0]) for w in ws if w.message.message.endswith("more warnings not shown")]
        return len(ids), sum(more), sorted(set(ids))
    assert summary(reached) == summary(caught) and summary(caught)[1] > 0
    assert reached[0].message.message.startswith("partition 0: ")


def test_warnings_name_the_partition_once_per_compute_and_after_persist(client):
    import warnings

    import dask
    from distributed import wait

    system = fazolt.System.from_file(REFERENCE_SYSTEMS / "fan.json")
    lo = np.array([v.range[0] for v in system.inputs])
    hi = np.array([v.range[1] for v in system.inputs])
    rows = np.tile((lo + hi) / 2, (40_000, 1))
    rows[25_000, 0] = hi[0] + 1
    rows[38_000, 0] = hi[0] + 2  # a later partition, to race the first in error mode

    def messages(run):
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            run()
        return [w.message.message for w in caught if isinstance(w.message, fazolt.FazoltWarning)]

    # Threads in this process: an Array's row among all rows, and its partition.
    array = da.from_array(rows, chunks=(10_000, len(lo)))
    with dask.config.set(scheduler="threads"):
        # Each partition warns as its thread finishes it: the order is the threads'.
        assert (f'partition 2: row 25000: input "{system.input_names[0]}" has the value {hi[0] + 1:g}, '
                f"outside its range [{lo[0]:g} {hi[0]:g}]") in messages(
                    lambda: fazolt.dask.evaluate(array, system).compute())
        with pytest.raises(fazolt.FazoltError, match="^diagFazolt_OutOfRangeInput: partition 2: row 25000"):
            fazolt.dask.evaluate(array, system, on_out_of_range="error").compute()
    # On the workers: a second compute issues its own warnings, not the first's again.
    lazy = fazolt.dask.evaluate(dd.from_pandas(pd.DataFrame(rows, columns=system.input_names), npartitions=4),
                                system)
    first = messages(lazy.compute)
    assert len(first) == 2 and first[0].startswith("partition 2: row 5000: ") and messages(lazy.compute) == first
    # client.compute finishes on a worker: its future's warnings come by issue_warnings.
    future = client.compute(lazy)
    assert messages(future.result) == [] and messages(lambda: fazolt.dask.issue_warnings(future)) == first
    persisted = client.persist(lazy)
    wait(persisted)
    assert messages(lambda: fazolt.dask.issue_warnings(persisted)) == first
    # Error mode: the first failing partition in row order, on every run, however the tasks finish.
    failing = fazolt.dask.evaluate(dd.from_pandas(
        pd.DataFrame(rows, columns=system.input_names), npartitions=4), system, on_out_of_range="error")
    for run in [failing.compute, lambda: client.compute(failing).result()] * 3:
        with pytest.raises(fazolt.FazoltError, match="^diagFazolt_OutOfRangeInput: partition 2: row 5000"):
            run()
