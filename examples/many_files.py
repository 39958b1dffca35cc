# Columnarizing many files: a process per core of one machine, or the workers of a Dask cluster.
# The module does the work in each process; the pool or the cluster only hands out the files.
import multiprocessing
import os
from pathlib import Path

from tarvik_codec import columnarize


def columnarize_file(path: str, out_dir: str) -> str:
    """Writes OUT_DIR/NAME from the JSON array of rows in PATH, the bytes `tarvik-columnarize -o
    OUT_DIR PATH` writes, under a temporary name first, so a retried task never leaves half a
    file. Returns the path written."""
    source = Path(path)
    target = Path(out_dir) / source.name
    temporary = target.with_name(f".{source.name}.{os.getpid()}")
    temporary.write_bytes(columnarize(source.read_bytes()) + b"\n")
    temporary.replace(target)
    return str(target)


def on_every_core(paths: list[str], out_dir: str, processes: int | None = None) -> list[str]:
    """One machine: the files spread over a process per core (or `processes`)."""
    with multiprocessing.Pool(processes) as pool:
        return pool.starmap(columnarize_file, [(path, out_dir) for path in paths])


def files_on_dask(client, paths: list[str], out_dir: str) -> list[str]:
    """A cluster: each worker columnarizes whole files into OUT_DIR, which every worker must
    reach (a shared file system)."""
    import dask.bag

    files = dask.bag.from_sequence(paths, partition_size=1)
    return client.compute(files.map(columnarize_file, out_dir=out_dir)).result()


def columnarize_lines(lines: list[str]) -> list[bytes]:
    """One columnar document for a partition of JSON Lines, one object per line."""
    rows = [line for line in (line.strip() for line in lines) if line]
    return [columnarize(f"[{','.join(rows)}]".encode())]


def json_lines_bag(pattern: str, blocksize: str = "64MiB"):
    """JSON Lines files cut into partitions of about `blocksize` at line ends, one columnar
    document each; `client.compute(bag).result()` runs it on a cluster."""
    import dask.bag

    return dask.bag.read_text(pattern, blocksize=blocksize).map_partitions(columnarize_lines)
