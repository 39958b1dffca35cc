"""Generates tests/data/documents: tool outputs of thirteen kinds, each in the documented shape
and layout of that tool's real output, filled with invented values from a seeded generator.

Run: python tools/make_documents.py [OUTPUT_DIR]   (defaults to tests/data/documents)

Nothing is fetched: every id, name, text and time comes from random.Random seeded with the
document's name, so a run writes the same bytes on every machine. Each kind is laid out as its
tool writes it: GitHub REST and Stripe pretty-print with two spaces; the AWS CLI (Python's json)
with four; kubectl, docker and terraform are Go programs (kubectl and docker indent by four,
kubectl sorts keys, Go escapes <, > and & as \\u003c, \\u003e and \\u0026); Slack escapes '/' and
non-ASCII; the other APIs answer compact JSON.
"""

import json
import random
import sys
from pathlib import Path

from documents.aws import aws_ec2_instances
from documents.docker import docker_inspect
from documents.elasticsearch import elasticsearch_search
from documents.github import github_graphql_issues, github_search_issues
from documents.jira import jira_search
from documents.kubernetes import kubectl_pods
from documents.msgraph import msgraph_users
from documents.npm import npm_package
from documents.pypi import pypi_package
from documents.slack import slack_history
from documents.stripe import stripe_charges
from documents.terraform import terraform_show

DEFAULT_OUTPUT = Path(__file__).resolve().parent.parent / "tests" / "data" / "documents"


# Layouts, as each tool writes its output.


def pretty(indent: int, *, newline: bool = False, sort_keys: bool = False, go: bool = False):
    def dump(document) -> str:
        text = json.dumps(document, indent=indent, ensure_ascii=False, sort_keys=sort_keys)
        return (go_escaped(text) if go else text) + "\n" * newline

    return dump


def compact(*, go: bool = False):
    def dump(document) -> str:
        text = json.dumps(document, separators=(",", ":"), ensure_ascii=False)
        return go_escaped(text) if go else text

    return dump


def go_escaped(text: str) -> str:
    # These characters appear only inside strings, where Go's encoder escapes them.
    return text.replace("&", "\\u0026").replace("<", "\\u003c").replace(">", "\\u003e")


def slack_escaped(document) -> str:
    # Slack's encoder escapes '/' (inside strings only, as no '/' is syntax) and non-ASCII.
    return json.dumps(document, separators=(",", ":")).replace("/", "\\/")


DOCUMENTS = {
    "github_search_issues.json": (github_search_issues, pretty(2)),
    "github_graphql_issues.json": (github_graphql_issues, compact()),
    "kubectl_get_pods.json": (kubectl_pods, pretty(4, newline=True, sort_keys=True, go=True)),
    "aws_ec2_describe_instances.json": (aws_ec2_instances, pretty(4, newline=True)),
    "slack_conversations_history.json": (slack_history, slack_escaped),
    "jira_search.json": (jira_search, compact()),
    "stripe_charges.json": (stripe_charges, pretty(2)),
    "elasticsearch_search.json": (elasticsearch_search, compact()),
    "msgraph_users.json": (msgraph_users, compact()),
    "npm_package.json": (npm_package, compact()),
    "pypi_package.json": (pypi_package, compact()),
    "docker_inspect.json": (docker_inspect, pretty(4, newline=True, go=True)),
    "terraform_show.json": (terraform_show, compact(go=True)),
}


def main() -> None:
    output = Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_OUTPUT
    output.mkdir(parents=True, exist_ok=True)
    for name, (make, dump) in DOCUMENTS.items():
        text = dump(make(random.Random(name)))
        (output / name).write_text(text, encoding="utf-8")
        print(f"{name}: {len(text.encode()):,} bytes")


if __name__ == "__main__":
    main()
