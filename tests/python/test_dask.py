"""mendora.dask.fill_all on a LocalCluster of two worker processes."""

import os

import numpy as np
import pytest

distributed = pytest.importorskip("distributed")

import mendora.dask  # noqa: E402
from conftest import disc, run_program, textured, write_png  # noqa: E402


def test_fill_all_fills_each_row_on_the_workers(tmp_path):
    rows = []
    for seed in range(3):
        write_png(tmp_path / ("in%d.png" % seed), textured(30, 40, seed=seed))
        rows.append((tmp_path / ("in%d.png" % seed), tmp_path / "mask.png",
                     tmp_path / ("out%d.png" % seed)))
    write_png(tmp_path / "mask.png", disc(30, 40, 18, 14, 4).astype(np.uint8))
    rows.append((tmp_path / "missing.png", tmp_path / "mask.png", tmp_path / "out3.png"))
    with pytest.raises(ValueError, match="patch radius 22 is too large"):
        mendora.dask.fill_all(None, rows, radius=22)
    # One thread a worker: a worker process fills one image at a time.
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        outcomes = mendora.dask.fill_all(client, rows, radius=3, threads=1)
        workers = client.run(os.getpid)
    assert len(workers) == 2
    assert [outcome.output for outcome in outcomes] == [str(row[2]) for row in rows]
    for outcome in outcomes[:3]:
        assert outcome.error is None and outcome.filled == 49 and outcome.seconds > 0
        status, err = run_program("fill", outcome.input, outcome.mask, "-o",
                                  outcome.output + ".cli.png", "--radius", 3, "--quiet")
        assert status == 0, err
        with open(outcome.output, "rb") as a, open(outcome.output + ".cli.png", "rb") as b:
            assert a.read() == b.read()
    assert outcomes[3].error.startswith("OSError: ") and "missing.png" in outcomes[3].error
    assert outcomes[3].filled == 0 and not os.path.exists(rows[3][2])
