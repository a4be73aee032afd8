"""Evaluation of dask DataFrames and Arrays.

The system travels to the workers pickled, as its description; each worker
process builds it once and evaluates its partitions or blocks with
System.evaluate. Python host functions do not travel: register them on the
workers too (e.g. client.run(fazolt.register_function, name, fn)).

Both schedulers scale: worker processes (LocalCluster(processes=True), the
distributed default) each evaluate their partitions, and so do the threads
of the threaded scheduler (dask.config.set(scheduler="threads") or
LocalCluster(processes=False, threads_per_worker=N)), since evaluations in
one process run side by side with the GIL released. Threads share the system
and the data without pickling; processes also spread the Python work around
the evaluation.
"""
import numpy as np


def _evaluate_partition(frame, system, options):
    return system.evaluate(frame, **options)


def _evaluate_block(block, system, options):
    return system.evaluate(block, **options)


def evaluate(data, system, **options):
    """Outputs of every row of a dask DataFrame or Array, lazily, on the workers.

    Parameters:
        data: a dask DataFrame (inputs matched by column name, other columns
            ignored) or a dask Array (rows, inputs).
        system: the System; it travels pickled, as its description.
        options: those of System.evaluate.
    Returns:
        a dask DataFrame of the outputs by name (same partitions), or a dask
        Array (rows, outputs) of float64.
    Raises:
        KeyError: an input that is not a column. ValueError: an Array that
        is not 2-D. TypeError: anything else. On compute, what
        System.evaluate raises.

    Example:
        >>> lamp = fazolt.dask.evaluate(dd.read_csv("rows-*.csv"), dimmer).compute()
    """
    import dask.array as da
    import dask.dataframe as dd
    import pandas as pd

    if isinstance(data, dd.DataFrame):
        missing = [name for name in system.input_names if name not in data.columns]
        if missing:
            raise KeyError(f"input {missing[0]!r} is not a column of the DataFrame")
        meta = pd.DataFrame({name: pd.Series(dtype=np.float64) for name in system.output_names})
        return data.map_partitions(_evaluate_partition, system, options, meta=meta)
    if isinstance(data, da.Array):
        if data.ndim != 2:
            raise ValueError(f"expected a 2-D dask Array (rows, inputs), got {data.ndim} dimensions")
        if len(data.chunks[1]) != 1:
            data = data.rechunk({1: -1})  # every input of a row in one block
        num_outputs = len(system.outputs)
        return data.map_blocks(_evaluate_block, system, options, dtype=np.float64,
                               chunks=(data.chunks[0], (num_outputs,)),
                               meta=np.empty((0, num_outputs), dtype=np.float64))
    raise TypeError(f"expected a dask DataFrame or Array, got {type(data).__name__}")
