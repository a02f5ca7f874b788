"""Mendora's fills over a Dask distributed cluster: one task an image, read and written where
every worker sees the same paths (a shared folder).

    from distributed import Client
    import mendora.dask
    client = Client("tcp://scheduler.example:8786")
    outcomes = mendora.dask.fill_all(client, [("a.jpg", "a-mask.png", "a-filled.jpg"), ...],
                                     context=30)

A worker process fills one image at a time (the plug-in module keeps its state in the
process): give workers one thread each (``dask worker --nthreads 1``; every fill uses the
machine's cores, or ``threads=``) and more worker processes for more images at once.
"""

import time
from typing import Any, Iterable, List, NamedTuple, Optional, Sequence

import mendora

__all__ = ["fill_all", "Outcome"]


class Outcome(NamedTuple):
    """What became of one row: ``error`` is None when the output was written."""

    input: str
    mask: str
    output: str
    seconds: float
    """Seconds of the whole task on its worker: reading, filling and writing."""
    filled: int
    """Pixels filled (0 on failure)."""
    error: Optional[str]
    """The exception's type and message, as ``ValueError: ...``, or None."""


def _fill_row(row, options):
    """Fills one row on a worker; never raises (the outcome says what went wrong)."""
    started = time.monotonic()
    image, mask, output = (str(part) for part in row)
    try:
        summary = mendora.fill_file(image, mask, output, **options)
        return Outcome(image, mask, output, time.monotonic() - started, summary.filled, None)
    except Exception as error:  # every failure is the row's outcome
        return Outcome(image, mask, output, time.monotonic() - started, 0,
                       "%s: %s" % (type(error).__name__, error))


def fill_all(client: Any, rows: Iterable[Sequence[str]], **options: Any) -> List[Outcome]:
    """Fills every row (input, mask, output paths) as ``mendora.fill_file(input, mask, output,
    **options)`` on the workers of ``client`` (a ``distributed.Client``), one task a row, and
    returns their outcomes in the rows' order. A failing row (a bad file, a refused value, a
    worker lost) is an outcome with its error; the others go on. Options are checked once
    here first, so that a value every fill would refuse raises ValueError or TypeError at
    once instead of failing every row. ``pandas.DataFrame(outcomes)`` makes a table of them.
    """
    rows = [tuple(row) for row in rows]
    for number, row in enumerate(rows, 1):
        if len(row) != 3:
            raise ValueError("row %d needs an input, a mask and an output, not %d values"
                             % (number, len(row)))
    unknown = set(options) - {"radius", "source", "context", "band", "source_mask", "match_tone",
                              "mask_threshold", "quality", "threads", "module"}
    if unknown:
        raise TypeError("unknown options: %s" % ", ".join(sorted(unknown)))
    mendora._mendora.check_options(mendora._arguments(
        options.get("radius", 4), options.get("source"), options.get("context"),
        options.get("module"), options.get("mask_threshold"), options.get("quality"),
        options.get("band"), options.get("source_mask"), options.get("match_tone", False)))
    mendora._thread_count(options.get("threads"))
    futures = [client.submit(_fill_row, row, options, pure=False) for row in rows]
    outcomes = []
    for row, future in zip(rows, futures):
        try:
            outcomes.append(future.result())
        except Exception as error:  # the task itself failed (a worker died)
            outcomes.append(Outcome(*(str(part) for part in row), 0.0, 0,
                                    "%s: %s" % (type(error).__name__, error)))
    return outcomes
