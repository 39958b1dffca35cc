# The recipes for many files (examples/many_files.py and the README): the tool under xargs -P, a
# process per core, and a Dask LocalCluster of two worker processes, each giving what one gives.
import json
import subprocess
from pathlib import Path

import pytest
from conftest import REPO
from tarvik_codec import columnarize
from test_cli import CLI

EXAMPLES = REPO / "examples"
PAYLOADS = ["apache_builds", "canada", "github_events", "instruments", "twitter", "update-center"]


@pytest.fixture
def recipes(monkeypatch):
    # Worker processes import the recipes too, so they find them through PYTHONPATH.
    monkeypatch.syspath_prepend(str(EXAMPLES))
    monkeypatch.setenv("PYTHONPATH", str(EXAMPLES))
    import many_files

    return many_files


@pytest.fixture
def inputs(data_dir):
    return [str(data_dir / f"{name}.json") for name in PAYLOADS]


def assert_written_as_one_process_would(inputs: list[str], out_dir: Path) -> None:
    assert sorted(path.name for path in out_dir.iterdir()) == sorted(Path(p).name for p in inputs)
    for path in inputs:
        want = columnarize(Path(path).read_bytes()) + b"\n"
        assert (out_dir / Path(path).name).read_bytes() == want, path


def test_the_tool_under_xargs_on_every_core(inputs, tmp_path):
    subprocess.run(
        ["xargs", "-0", "-P", "2", "-n", "2", CLI, "-o", str(tmp_path)],
        input="\0".join(inputs).encode(),
        check=True,
    )
    assert_written_as_one_process_would(inputs, tmp_path)


def test_a_process_per_core(recipes, inputs, tmp_path):
    written = recipes.on_every_core(inputs, str(tmp_path), processes=2)
    assert written == [str(tmp_path / Path(path).name) for path in inputs]
    assert_written_as_one_process_would(inputs, tmp_path)


@pytest.mark.worker_interpreters
def test_a_dask_cluster_of_two_worker_processes(recipes, inputs, data_dir, tmp_path):
    distributed = pytest.importorskip("distributed")
    lines = tmp_path / "lines"
    lines.mkdir()
    rows = json.loads((data_dir / "github_events.json").read_bytes())
    for part in range(3):
        (lines / f"{part}.jsonl").write_text("".join(json.dumps(row) + "\n" for row in rows))
    out_dir = tmp_path / "out"
    out_dir.mkdir()
    bag = recipes.json_lines_bag(str(lines / "*.jsonl"), blocksize="16kB")
    in_process = bag.compute(scheduler="sync")

    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        written = recipes.files_on_dask(client, inputs, str(out_dir))
        on_cluster = client.compute(bag).result()

    assert written == [str(out_dir / Path(path).name) for path in inputs]
    assert_written_as_one_process_would(inputs, out_dir)
    assert on_cluster == in_process
    # Every line is a row of exactly one partition's document.
    assert len(in_process) > 3
    assert sum(len(json.loads(document)["rows"]) for document in in_process) == 3 * len(rows)
