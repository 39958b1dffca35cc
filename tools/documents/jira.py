# Jira Cloud's GET /rest/api/2/search: issues whose fields hold users, statuses, sprints and
# many null custom fields, compact JSON.

import random
from datetime import timedelta

from documents.values import (
    EPOCH,
    chance,
    hex_id,
    login_of,
    moment,
    paragraphs,
    person,
    pick,
    sentence,
    token,
    uuid4,
    zulu_millis,
)

JIRA = "https://acme.atlassian.net"


def jira_user(rng: random.Random) -> dict:
    first, last = person(rng)
    account = f"5{rng.randrange(10**5):05d}:{uuid4(rng)}"
    avatar = f"https://secure.gravatar.com/avatar/{hex_id(rng, 32)}?d=https%3A%2F%2Favatar-management--avatars.us-west-2.prod.public.atl-paas.net%2Finitials%2F{first[0]}{last[0]}-3.png"
    user = {
        "self": f"{JIRA}/rest/api/2/user?accountId={account}",
        "accountId": account,
        "emailAddress": f"{login_of(first, last, rng)}@acme.io",
        "avatarUrls": {size: avatar for size in ("48x48", "24x24", "16x16", "32x32")},
        "displayName": f"{first} {last}",
        "active": True,
        "timeZone": pick(rng, ["Europe/Berlin", "America/New_York", "Asia/Tokyo", "Europe/London"]),
        "accountType": "atlassian",
    }
    if chance(rng, 0.3):  # users who hide their address
        del user["emailAddress"]
    return user


def jira_search(rng: random.Random) -> dict:
    users = [jira_user(rng) for _ in range(14)]
    statuses = [
        ("To Do", "10000", 2, "new", "blue-gray"),
        ("In Progress", "3", 4, "indeterminate", "yellow"),
        ("In Review", "10002", 4, "indeterminate", "yellow"),
        ("Done", "10001", 3, "done", "green"),
    ]
    types = [("Bug", "10004", 10303), ("Story", "10001", 10315), ("Task", "10002", 10318)]
    sprints = [
        {
            "id": 40 + n,
            "name": f"PLAT Sprint {40 + n}",
            "state": "closed" if n < 3 else "active",
            "boardId": 12,
            "goal": "",
            "startDate": zulu_millis(EPOCH + timedelta(days=14 * n), rng),
            "endDate": zulu_millis(EPOCH + timedelta(days=14 * n + 14), rng),
        }
        for n in range(4)
    ]
    project = {
        "self": f"{JIRA}/rest/api/2/project/10000",
        "id": "10000",
        "key": "PLAT",
        "name": "Platform",
        "projectTypeKey": "software",
        "simplified": False,
        "avatarUrls": {
            size: f"{JIRA}/rest/api/2/universal_avatar/view/type/project/avatar/10412?size={name}"
            for size, name in (
                ("48x48", "large"),
                ("24x24", "small"),
                ("16x16", "xsmall"),
                ("32x32", "medium"),
            )
        },
    }
    issues = []
    for _ in range(50):
        issue_id = str(rng.randrange(10_000, 30_000))
        key = f"PLAT-{rng.randrange(100, 2600)}"
        created = moment(rng)
        status_name, status_id, category_id, category_key, color = pick(rng, statuses)
        type_name, type_id, avatar_id = pick(rng, types)
        done = category_key == "done"
        stamp = created.strftime("%Y-%m-%dT%H:%M:%S") + f".{rng.randrange(1000):03d}+0000"
        fields = {
            "statuscategorychangedate": stamp,
            "issuetype": {
                "self": f"{JIRA}/rest/api/2/issuetype/{type_id}",
                "id": type_id,
                "description": f"{type_name}s track work.",
                "iconUrl": f"{JIRA}/rest/api/2/universal_avatar/view/type/issuetype/avatar/{avatar_id}?size=medium",
                "name": type_name,
                "subtask": False,
                "avatarId": avatar_id,
                "hierarchyLevel": 0,
            },
            "timespent": None,
            "customfield_10030": None,
            "project": project,
            "fixVersions": [],
            "aggregatetimespent": None,
            "resolution": {
                "self": f"{JIRA}/rest/api/2/resolution/10000",
                "id": "10000",
                "description": "Work has been completed on this issue.",
                "name": "Done",
            }
            if done
            else None,
            "customfield_10027": None,
            "resolutiondate": stamp if done else None,
            "workratio": -1,
            "lastViewed": None,
            "watches": {
                "self": f"{JIRA}/rest/api/2/issue/{key}/watchers",
                "watchCount": rng.randint(1, 6),
                "isWatching": False,
            },
            "created": stamp,
            "customfield_10020": [pick(rng, sprints)] if chance(rng, 0.7) else None,
            "customfield_10021": None,
            "priority": {
                "self": f"{JIRA}/rest/api/2/priority/{(level := rng.randint(1, 4))}",
                "iconUrl": f"{JIRA}/images/icons/priorities/{['highest', 'high', 'medium', 'low'][level - 1]}.svg",
                "name": ["Highest", "High", "Medium", "Low"][level - 1],
                "id": str(level),
            },
            "labels": rng.sample(
                ["backend", "frontend", "tech-debt", "customer", "infra"], rng.randint(0, 2)
            ),
            "customfield_10016": pick(rng, [None, 1.0, 2.0, 3.0, 5.0, 8.0, 0.5]),
            "customfield_10019": "0|i0"
            + token(rng, 4, "0123456789abcdefghijklmnopqrstuvwxyz")
            + ":",
            "aggregatetimeoriginalestimate": None,
            "timeestimate": None,
            "versions": [],
            "issuelinks": [],
            "assignee": pick(rng, users) if chance(rng, 0.75) else None,
            "updated": stamp,
            "status": {
                "self": f"{JIRA}/rest/api/2/status/{status_id}",
                "description": "",
                "iconUrl": f"{JIRA}/",
                "name": status_name,
                "id": status_id,
                "statusCategory": {
                    "self": f"{JIRA}/rest/api/2/statuscategory/{category_id}",
                    "id": category_id,
                    "key": category_key,
                    "colorName": color,
                    "name": {"new": "To Do", "indeterminate": "In Progress", "done": "Done"}[
                        category_key
                    ],
                },
            },
            "components": [
                {
                    "self": f"{JIRA}/rest/api/2/component/{10000 + n}",
                    "id": str(10000 + n),
                    "name": name,
                }
                for n, name in enumerate(["api", "billing", "search"])
                if chance(rng, 0.3)
            ],
            "timeoriginalestimate": None,
            "description": paragraphs(rng, rng.randint(1, 2)) if chance(rng, 0.8) else None,
            "customfield_10010": None,
            "customfield_10014": None,
            "timetracking": {},
            "customfield_10015": None,
            "security": None,
            "aggregatetimeestimate": None,
            "attachment": [],
            "summary": sentence(rng, 4, 12),
            "creator": (reporter := pick(rng, users)),
            "subtasks": [],
            "reporter": reporter,
            "aggregateprogress": {"progress": 0, "total": 0},
            "customfield_10001": None,
            "environment": None,
            "duedate": (created + timedelta(days=30)).strftime("%Y-%m-%d")
            if chance(rng, 0.2)
            else None,
            "progress": {"progress": 0, "total": 0},
            "votes": {
                "self": f"{JIRA}/rest/api/2/issue/{key}/votes",
                "votes": 0,
                "hasVoted": False,
            },
        }
        issues.append(
            {
                "expand": "operations,versionedRepresentations,editmeta,changelog,customfield_10010.requestTypePractice,renderedFields",
                "id": issue_id,
                "self": f"{JIRA}/rest/api/2/issue/{issue_id}",
                "key": key,
                "fields": fields,
            }
        )
    return {
        "expand": "schema,names",
        "startAt": 0,
        "maxResults": 50,
        "total": 1337,
        "issues": issues,
    }
