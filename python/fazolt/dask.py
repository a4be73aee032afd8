"""Evaluation of dask DataFrames and Arrays.

The system travels to the workers pickled, as its description; each worker
process builds it once and evaluates its partitions or blocks with
System.evaluate. Python host functions do not travel: register them on the
workers too (e.g. client.run(fazolt.register_function, name, fn)).

Warnings raised on a worker of a distributed cluster are sent to the
scheduler as events, one per partition, and issued in the client as
FazoltWarning when the result is computed (or by issue_warnings after
persist or a write), at most 20 per identifier over all partitions and then
a count, as the tool. client.compute(result) finishes on a worker: call
issue_warnings(future) after its result(). In error mode each partition
returns its error and the finishing step raises the first in row order, the
same on every run (an operation applied to the result before it is computed
sees no outputs there and fails). Under the threaded or synchronous scheduler the partitions'
warnings are issued where they are evaluated, in this process.

Both schedulers scale: worker processes (LocalCluster(processes=True), the
distributed default) each evaluate their partitions, and so do the threads
of the threaded scheduler (dask.config.set(scheduler="threads") or
LocalCluster(processes=False, threads_per_worker=N)), since evaluations in
one process run side by side with the GIL released.
"""
import re
import threading
import uuid

import numpy as np

from ._system import SHOWN_PER_IDENTIFIER, _issue, _warn

TOPIC_PREFIX = "fazolt-warnings-"
ROW = re.compile(r"^row (\d+)")

# The topic of each result's graph by its name: persist gives a new
# collection of the same name, and issue_warnings finds the topic by it.
_topics = {}
# The time of the last event issued per topic: computing a result again
# issues only what that computation raised.
_issued_until = {}
_issued_lock = threading.Lock()


def _placed(report, number, first_row):
    """The partition's warnings and error, each message saying where: the
    partition, and the row among all rows where it is known (Arrays)."""
    shown, counts, error, cause = report

    def where(message):
        if first_row is not None:
            message = ROW.sub(lambda m: f"row {int(m.group(1)) + first_row}", message)
        return f"partition {number}: {message}"
    error = None if error is None else (error[0], where(error[1]))
    return [(i, where(m)) for i, m in shown], counts, error, cause


def _evaluate_reporting(data, system, options, topic, number, first_row=None):
    """Evaluates one partition; its warnings go to the scheduler when on a worker."""
    out, report = system._evaluate_reporting(data, **options)
    shown, counts, error, cause = report = _placed(report, number, first_row)
    worker = None
    if _on_worker():
        from distributed import get_worker
        worker = get_worker()
    if error is not None:
        # Returned, not raised: the first failing task to finish would win a
        # race; the finishing step raises the first partition's in row order.
        return _Failed(report)
    if worker is None:
        _issue(report)  # in this process
    elif counts:
        worker.log_event(topic, {"partition": number, "shown": [list(w) for w in shown], "counts": dict(counts)})
    return out


class _Failed:
    """A partition's report with its error, in place of its outputs."""

    def __init__(self, report):
        self.report = report


def _evaluate_partition(frame, system, options, topic, partition_info=None):
    out = _evaluate_reporting(frame, system, options, topic, (partition_info or {}).get("number", 0))
    if isinstance(out, _Failed):
        return out
    return out.to_frame() if out.ndim == 1 else out  # a frame of the outputs, as the meta says, for one output too


def _evaluate_block(block, system, options, topic, block_info=None):
    number = block_info[0]["chunk-location"][0] if block_info else 0
    first_row = block_info[0]["array-location"][0][0] if block_info else None
    return _evaluate_reporting(block, system, options, topic, number, first_row)


def evaluate(data, system, **options):
    """Outputs of every row of a dask DataFrame or Array, lazily, on the workers.

    Parameters:
        data: a dask DataFrame (inputs matched by column name, other columns
            ignored) or a dask Array (rows, inputs), read by position: its
            columns must be the inputs in order (frame.to_dask_array() of a
            frame with other columns, or in another order, is not).
        system: the System; it travels pickled, as its description.
        options: those of System.evaluate.
    Returns:
        a dask DataFrame of the outputs by name (same partitions), or a dask
        Array (rows, outputs) of float64. Its compute() issues the workers'
        warnings here.
    Raises:
        KeyError: an input that is not a column. ValueError: an Array that
        is not 2-D. TypeError: anything else. On compute, what
        System.evaluate raises.
    Warns:
        FazoltWarning: on compute, the workers' warnings, each message
            starting "partition K:" (an Array's rows numbered among all
            rows, a DataFrame's within the partition). Errors in error mode
            name the partition too.

    Example:
        >>> lamp = fazolt.dask.evaluate(dd.read_csv("rows-*.csv"), dimmer).compute()
    """
    import dask.array as da
    import dask.dataframe as dd
    import pandas as pd
    from dask.base import tokenize

    topic = TOPIC_PREFIX + uuid.uuid4().hex
    if isinstance(data, dd.DataFrame):
        missing = [name for name in system.input_names if name not in data.columns]
        if missing:
            raise KeyError(f"input {missing[0]!r} is not a column of the DataFrame")
        meta = pd.DataFrame({name: pd.Series(dtype=np.float64) for name in system.output_names})
        result = data.map_partitions(_evaluate_partition, system, options, topic, meta=meta)
    elif isinstance(data, da.Array):
        if data.ndim != 2:
            raise ValueError(f"expected a 2-D dask Array (rows, inputs), got {data.ndim} dimensions")
        if len(data.chunks[1]) != 1:
            data = data.rechunk({1: -1})  # every input of a row in one block
        num_outputs = len(system.outputs)
        result = data.map_blocks(_evaluate_block, system, options, topic, dtype=np.float64,
                                 chunks=(data.chunks[0], (num_outputs,)),
                                 meta=np.empty((0, num_outputs), dtype=np.float64))
    else:
        raise TypeError(f"expected a dask DataFrame or Array, got {type(data).__name__}")
    result._fazolt_topic = topic
    _topics[_name_of(result)] = topic
    # client.compute(result) names its future so; issue_warnings finds it by that.
    _topics["finalize-" + tokenize(result)] = topic
    finalize, arguments = result.__dask_postcompute__()

    def postcompute():
        return _finalize_issuing, (finalize, topic, arguments)
    result.__dask_postcompute__ = postcompute
    return result


def _finalize_issuing(results, finalize, topic, arguments):
    """Dask's own finishing step, then the workers' warnings here when this is
    the client (client.compute runs it on a worker: issue_warnings(future)
    issues them there). The first failing partition in row order raises."""
    failed = next((r for r in _flat(results) if isinstance(r, _Failed)), None)
    if failed is not None:
        _issue(failed.report, stacklevel=4)
    out = finalize(results, *arguments)
    if not _on_worker():
        _issue_topic(topic, stacklevel=4)
    return out


def _flat(results):
    """An Array's blocks (nested lists) or a frame's partitions, in row order."""
    for r in results:
        if isinstance(r, (list, tuple)):
            yield from _flat(r)
        else:
            yield r


def _on_worker():
    try:
        from distributed import get_worker
        get_worker()
        return True
    except (ImportError, ValueError):
        return False


def issue_warnings(result):
    """Issues here the warnings the workers raised evaluating `result`.

    For a result that was not computed in this process (persisted, written
    out with to_csv / to_parquet, or client.compute's future, whose finishing
    step runs on a worker), once that work is done; compute() of the result
    of evaluate does it by itself.

    Parameters:
        result: what evaluate returned, its persisted copy, or the future of
            client.compute(result).
    Returns:
        None.
    Raises:
        ValueError: result did not come from evaluate.
    Warns:
        FazoltWarning: as evaluate's compute().

    Example:
        >>> lamps = fazolt.dask.evaluate(frame, dimmer)
        >>> lamps.to_csv("lamps-*.csv"); fazolt.dask.issue_warnings(lamps)
        >>> future = client.compute(lamps); future.result(); fazolt.dask.issue_warnings(future)
    """
    topic = getattr(result, "_fazolt_topic", None) or _topics.get(_name_of(result))
    if topic is None:
        raise ValueError("issue_warnings: expected what fazolt.dask.evaluate returned")
    _issue_topic(topic, stacklevel=3)


def _name_of(result):
    return getattr(result, "_name", None) or getattr(result, "name", None) or getattr(result, "key", None)


def _issue_topic(topic, stacklevel):
    """Each partition's warnings in partition order, capped per identifier over
    all of them; only those not issued before, so a second compute does not
    repeat the first's."""
    try:
        from distributed import default_client
        client = default_client()
    except (ImportError, ValueError):
        return  # no cluster: the partitions issued their warnings themselves
    with _issued_lock:
        since = _issued_until.get(topic, float("-inf"))
        new = [(when, message) for when, message in client.get_events(topic) if when > since]
        if new:
            _issued_until[topic] = max(when for when, _ in new)
    events = sorted((message for _, message in new), key=lambda m: m["partition"])
    shown, counts = [], {}
    for event in events:
        for identifier, message in event["shown"]:
            if sum(1 for i, _ in shown if i == identifier) < SHOWN_PER_IDENTIFIER:
                shown.append((identifier, message))
        for identifier, count in event["counts"].items():
            counts[identifier] = counts.get(identifier, 0) + count
    _warn(shown, counts, stacklevel + 1)
