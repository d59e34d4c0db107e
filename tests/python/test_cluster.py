"""Ordering files on a real two-worker Dask cluster gives what a serial run gives."""

import json
import pathlib
import sys

import pytest

pytestmark = pytest.mark.cluster

distributed = pytest.importorskip("distributed")
pytest.importorskip("dask.bag")

from vellora.cluster import InputFailedError, order_paths  # noqa: E402
from vellora.pipeline import order_input  # noqa: E402

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"


@pytest.fixture(scope="module")
def client():
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=":0") as cluster, distributed.Client(cluster) as opened:
        yield opened


@pytest.fixture
def inputs(tmp_path):
    """A page file, a file of two pages, the sample PDF and a page file that is not a page."""
    example = json.loads((EXAMPLES / "two_column_page.json").read_text())
    single = tmp_path / "single.json"
    single.write_text(json.dumps(example))
    several = tmp_path / "several.json"
    several.write_text(json.dumps([example, {**example, "elements": example["elements"][:3]}]))
    broken = tmp_path / "broken.json"
    broken.write_text('{"page_bounds": [0, 0, 1, 1], "elements": [{"id": 1}]}')
    return [str(single), str(several), str(EXAMPLES / "two_column_article.pdf")], str(broken)


def test_cluster_results_equal_the_serial_run(client, inputs):
    good, broken = inputs
    serial = [record for path in good for record in order_input(path)]
    assert len(serial) >= 4
    assert order_paths(good, client) == serial
    assert order_paths(good, client.scheduler.address, algorithms=("paper", "ostrel")) == [
        record for path in good for record in order_input(path, _options(algorithms=("paper", "ostrel")))]


def test_a_bad_input_raises_or_is_kept_in_place(client, inputs):
    good, broken = inputs
    with pytest.raises(InputFailedError, match=r"broken\.json.*missing field") as caught:
        order_paths([*good, broken], client)
    assert caught.value.source == broken
    kept = order_paths([good[0], broken, good[0]], client, errors="keep")
    assert kept[1]["source"] == broken and kept[1]["status"] == 2 and "missing field" in kept[1]["error"]
    assert kept[0] == kept[2] == order_input(good[0])[0]


def test_missing_dask_is_one_clear_error(monkeypatch, inputs):
    from vellora.cluster import DaskMissingError

    monkeypatch.setitem(sys.modules, "dask.bag", None)
    with pytest.raises(DaskMissingError, match=r"pip install 'vellora\[dask\]'"):
        order_paths(inputs[0])


def _options(**fields):
    from vellora.pipeline import PipelineOptions

    return PipelineOptions(**fields)
