# The command-line tool `tarvik-columnarize`: columnarizes a row-oriented JSON file (or standard
# input) to standard output, with optional size statistics on standard error.
import argparse
import json
import os
import sys
from typing import BinaryIO

import tarvik_codec

PROGRAM = "tarvik-columnarize"


def parse_arguments(argv: list[str] | None) -> argparse.Namespace:
    parser = argparse.ArgumentParser(
        prog=PROGRAM,
        description=(
            "Turn row-oriented JSON (an array of objects) into compact column-oriented JSON "
            '{"columns":...,"rows":...,"constants":...} on standard output.'
        ),
    )
    parser.add_argument(
        "input",
        nargs="?",
        default="-",
        help="the JSON file to read; '-' or nothing reads standard input",
    )
    parser.add_argument(
        "--stats",
        action="store_true",
        help="print rows, columns, constants and the bytes saved to standard error",
    )
    return parser.parse_args(argv)


def read_input(name: str) -> bytes:
    if name == "-":
        return sys.stdin.buffer.read()
    with open(name, "rb") as source:
        return source.read()


def format_stats(payload: bytes, output: bytes) -> str:
    document = json.loads(output)
    saved = len(payload) - len(output)
    share = saved / len(payload) if payload else 0.0
    return "\n".join(
        [
            f"rows:         {len(document['rows'])}",
            f"columns:      {len(document['columns'])}",
            f"constants:    {len(document['constants'])}",
            f"input bytes:  {len(payload)}",
            f"output bytes: {len(output)}",
            f"saved:        {saved} bytes ({share:.1%})",
        ]
    )


def write_output(output: bytes, stream: BinaryIO) -> None:
    stream.write(output)
    stream.flush()


def fail(message: str, status: int) -> int:
    print(f"{PROGRAM}: {message}", file=sys.stderr)
    return status


def main(argv: list[str] | None = None) -> int:
    arguments = parse_arguments(argv)
    try:
        payload = read_input(arguments.input)
    except OSError as error:
        reason = error.strerror or str(error)
        return fail(f"cannot read {arguments.input}: {reason}", 2)
    try:
        output = tarvik_codec.columnarize(payload)
    except (RuntimeError, MemoryError) as error:
        return fail(str(error) or type(error).__name__, 1)
    try:
        write_output(output, sys.stdout.buffer)
    except BrokenPipeError:
        # The reader went away (as `| head` does): not an error of ours. Standard output is
        # pointed at /dev/null so that the interpreter's final flush does not complain.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    if arguments.stats:
        print(format_stats(payload, output), file=sys.stderr)
    return 0


def entry() -> None:
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)


if __name__ == "__main__":
    entry()
