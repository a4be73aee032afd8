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
