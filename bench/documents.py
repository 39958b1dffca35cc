# The payloads of the benchmark's document-mode section: row payloads wrapped in a paginated
# API's envelope, the tool outputs of tests/data/documents, and either grown to a large size.
import itertools
import json
import re
from dataclasses import dataclass, field
from pathlib import Path

from payloads import REPO_DIR, STRUCTURE, CorpusMissing, array_body, scale_payload, square_table


def tool_outputs() -> list[Path]:
    """The tool outputs (*.json) of tests/data/documents."""
    folder = REPO_DIR / "tests" / "data" / "documents"
    found = sorted(folder.glob("*.json"))
    if not found:
        raise CorpusMissing(f"no tool output (*.json) in {folder}: run tools/make_documents.py")
    return found


def row_count(payload: bytes) -> int:
    """The number of elements of a payload that is one JSON array, counted without loading it."""
    body = array_body(payload)
    if not body:
        return 0
    depth, commas = 0, 0
    for token in STRUCTURE.finditer(body):
        character = token.group()
        if character in (b"[", b"{"):
            depth += 1
        elif character in (b"]", b"}"):
            depth -= 1
        elif character == b"," and depth == 0:
            commas += 1
    return commas + 1


def envelope(rows: bytes, count: int) -> bytes:
    """A row payload as a paginated API returns it, its bytes kept: {"total_count":N,"items":ROWS,
    "next":null}."""
    return b'{"total_count":%d,"items":%s,"next":null}' % (count, rows.strip())


# A string (escapes included), or one of the characters that open, close or separate values.
TOKEN = re.compile(rb'"(?:[^"\\]|\\.)*+"|[\[\]{}:,]', re.DOTALL)


@dataclass
class Collection:
    """An array or object of a document: where its bytes are and what its members are."""

    start: int  # offset of its opening bracket
    end: int = 0  # offset just past its closing bracket
    commas: int = 0  # commas between its members
    containers: int = 0  # members that are arrays or objects
    names: list = field(default_factory=list)  # offset of each member name's closing quote

    def members(self, document: bytes) -> int:
        if document[self.start] == ord("{"):
            return len(self.names)
        return self.commas + 1 if document[self.start + 1 : self.end - 1].strip() else 0


def main_collection(document: bytes) -> Collection:
    """The document's bulk: the innermost array or object of at least two members, all of them
    arrays or objects, that holds at least half of the document's bytes.

    Such collections nest, so the first to close is the innermost: `items` of a search response,
    `versions` of an npm document, `resources` rather than the `values` around it in terraform's.
    """
    stack, name_end = [], 0
    for token in TOKEN.finditer(document):
        character = token.group()
        if character in (b"[", b"{"):
            if stack:
                stack[-1].containers += 1
            stack.append(Collection(token.start()))
        elif character in (b"]", b"}"):
            collection = stack.pop()
            collection.end = token.end()
            members = collection.members(document)
            if (
                members >= 2
                and collection.containers == members
                and 2 * (collection.end - collection.start) >= len(document)
            ):
                return collection
        elif character == b",":
            stack[-1].commas += 1
        elif character == b":":
            stack[-1].names.append(name_end - 1)
        else:
            name_end = token.end()
    raise ValueError("no array or object of arrays or objects holds half of the document")


def document_copies(document: bytes, target: int) -> int:
    """How many copies of its main collection's members bring the document to about `target`."""
    bulk = main_collection(document)
    members_bytes = bulk.end - bulk.start - 2
    return max(1, round((target - len(document) + members_bytes) / members_bytes))


def scale_document(document: bytes, copies: int) -> bytes:
    """The document with the members of its main collection repeated `copies` times, every byte
    of each copy kept, except that an object's member names get "~2", "~3", … in the later copies
    so that they stay distinct (a repeated name would keep one value)."""
    if copies == 1:
        return document
    bulk = main_collection(document)
    first, last = bulk.start + 1, bulk.end - 1
    cuts = [first, *bulk.names, last]
    # Each copy is these segments with its mark between them, right before a name's closing quote.
    segments = [document[start:end] for start, end in itertools.pairwise(cuts)]
    pieces = [document[:last]]
    for copy in range(2, copies + 1):
        mark = b"~%d" % copy
        pieces += (b",", segments[0])
        for segment in segments[1:]:
            pieces += (mark, segment)
    pieces.append(document[last:])
    return b"".join(pieces)


def document_payload(kind: str, source: str, copies: int) -> bytes:
    """One payload of the section, made the same way in the driver and in a memory child:
    "wrapped" (a corpus's rows repeated `copies` times, in the envelope), "document" (a tool
    output grown by `copies`), "square" (the N × N table of `source` rows) or "square wrapped"."""
    if kind == "wrapped":
        natural = Path(source).read_bytes()
        return envelope(scale_payload(natural, copies), row_count(natural) * copies)
    if kind == "document":
        return scale_document(Path(source).read_bytes(), copies)
    if kind == "square":
        return square_table(int(source))
    if kind == "square wrapped":
        return envelope(square_table(int(source)), int(source))
    raise ValueError(f"unknown kind of payload: {kind}")


def compact_size(payload: bytes) -> int:
    """The size of the payload as compact JSON text, the yardstick of the output sizes."""
    text = json.dumps(json.loads(payload), separators=(",", ":"), ensure_ascii=False)
    return len(text.encode())
