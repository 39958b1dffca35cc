# GitHub's answers: the REST search for issues (two-space pretty JSON) and a GraphQL query of a
# repository's issues with nested connections (compact JSON).

import base64
import random
from datetime import timedelta

from documents.values import (
    ALNUM,
    EPOCH,
    after,
    chance,
    login_of,
    moment,
    paragraphs,
    person,
    pick,
    sentence,
    token,
    zulu,
)


def github_user(rng: random.Random) -> dict:
    login = login_of(*person(rng), rng)
    user_id = rng.randrange(10_000, 180_000_000)
    api = f"https://api.github.com/users/{login}"
    node = base64.b64encode(f"04:User{user_id}".encode()).decode().rstrip("=")
    return {
        "login": login,
        "id": user_id,
        "node_id": node,
        "avatar_url": f"https://avatars.githubusercontent.com/u/{user_id}?v=4",
        "gravatar_id": "",
        "url": api,
        "html_url": f"https://github.com/{login}",
        "followers_url": f"{api}/followers",
        "following_url": f"{api}/following{{/other_user}}",
        "gists_url": f"{api}/gists{{/gist_id}}",
        "starred_url": f"{api}/starred{{/owner}}{{/repo}}",
        "subscriptions_url": f"{api}/subscriptions",
        "organizations_url": f"{api}/orgs",
        "repos_url": f"{api}/repos",
        "events_url": f"{api}/events{{/privacy}}",
        "received_events_url": f"{api}/received_events",
        "type": "User",
        "user_view_type": "public",
        "site_admin": False,
    }


GITHUB_LABELS = [
    ("bug", "d73a4a", True, "Something isn't working"),
    ("documentation", "0075ca", True, "Improvements or additions to documentation"),
    ("enhancement", "a2eeef", True, "New feature or request"),
    ("good first issue", "7057ff", True, "Good for newcomers"),
    ("help wanted", "008672", True, "Extra attention is needed"),
    ("area/scheduler", "c5def5", False, None),
    ("area/cache", "c5def5", False, None),
    ("priority/high", "b60205", False, "Needs attention this release"),
    ("needs-triage", "ededed", False, None),
]


def github_search_issues(rng: random.Random) -> dict:
    users = [github_user(rng) for _ in range(30)]
    bots = []
    for name in ("dependabot[bot]", "renovate[bot]"):
        bot = github_user(rng) | {"login": name, "type": "Bot"}
        bot["html_url"] = f"https://github.com/apps/{name[:-5]}"
        bots.append(bot)
    repos = ["acme/orbit", "acme/orbit-cli", "lattice-io/lattice", "norns/queue"]
    # A label is one object per repository: every issue that carries it repeats it whole.
    labels_of = {
        (repo, name): (rng.randrange(100_000_000, 8_000_000_000), "LA_kwDO" + token(rng, 16, ALNUM))
        for repo in repos
        for name, *_ in GITHUB_LABELS
    }
    milestones = {}
    items = []
    for _ in range(60):
        repo = pick(rng, repos)
        number = rng.randrange(1, 4000)
        is_pull = chance(rng, 0.35)
        author = pick(rng, bots) if is_pull and chance(rng, 0.3) else pick(rng, users)
        created = moment(rng)
        updated = after(rng, created, 24 * 40)
        closed = after(rng, updated, 24 * 3) if chance(rng, 0.4) else None
        repo_api = f"https://api.github.com/repos/{repo}"
        issue_api = f"{repo_api}/issues/{number}"
        labels = []
        for name, color, default, description in rng.sample(GITHUB_LABELS, rng.randint(0, 3)):
            label_id, node_id = labels_of[repo, name]
            labels.append(
                {
                    "id": label_id,
                    "node_id": node_id,
                    "url": f"{repo_api}/labels/{name.replace(' ', '%20')}",
                    "name": name,
                    "color": color,
                    "default": default,
                    "description": description,
                }
            )
        assignees = rng.sample(users, rng.choice([0, 0, 1, 1, 2]))
        milestone = None
        if chance(rng, 0.3):
            key = (repo, rng.randrange(3))
            if key not in milestones:
                opened = moment(rng, 30)
                milestones[key] = {
                    "url": f"{repo_api}/milestones/{key[1] + 1}",
                    "html_url": f"https://github.com/{repo}/milestone/{key[1] + 1}",
                    "labels_url": f"{repo_api}/milestones/{key[1] + 1}/labels",
                    "id": rng.randrange(9_000_000, 12_000_000),
                    "node_id": "MI_kwDO" + token(rng, 16, ALNUM),
                    "number": key[1] + 1,
                    "title": f"v{key[1] + 2}.0",
                    "description": sentence(rng, 4, 10) if chance(rng, 0.6) else None,
                    "creator": pick(rng, users),
                    "open_issues": rng.randrange(50),
                    "closed_issues": rng.randrange(200),
                    "state": "open",
                    "created_at": zulu(opened),
                    "updated_at": zulu(after(rng, opened, 2000)),
                    "due_on": zulu(opened + timedelta(days=90)) if chance(rng, 0.5) else None,
                    "closed_at": None,
                }
            milestone = milestones[key]
        reactions = [rng.choice([0, 0, 0, 1, 2, 5]) for _ in range(8)]
        item = {
            "url": issue_api,
            "repository_url": repo_api,
            "labels_url": f"{issue_api}/labels{{/name}}",
            "comments_url": f"{issue_api}/comments",
            "events_url": f"{issue_api}/events",
            "html_url": f"https://github.com/{repo}/{'pull' if is_pull else 'issues'}/{number}",
            "id": rng.randrange(1_500_000_000, 3_100_000_000),
            "node_id": ("PR_kwDO" if is_pull else "I_kwDO") + token(rng, 16, ALNUM),
            "number": number,
            "title": sentence(rng, 3, 11),
            "user": author,
            "labels": labels,
            "state": "closed" if closed else "open",
            "locked": chance(rng, 0.03),
            "assignee": assignees[0] if assignees else None,
            "assignees": assignees,
            "milestone": milestone,
            "comments": rng.choice([0, 0, 1, 2, 3, 7, 12, 31]),
            "created_at": zulu(created),
            "updated_at": zulu(updated),
            "closed_at": zulu(closed) if closed else None,
            "author_association": pick(rng, ["NONE", "CONTRIBUTOR", "MEMBER", "COLLABORATOR"]),
            "type": None,
            "active_lock_reason": None,
        }
        if is_pull:
            item["draft"] = chance(rng, 0.2)
            item["pull_request"] = {
                "url": f"{repo_api}/pulls/{number}",
                "html_url": f"https://github.com/{repo}/pull/{number}",
                "diff_url": f"https://github.com/{repo}/pull/{number}.diff",
                "patch_url": f"https://github.com/{repo}/pull/{number}.patch",
                "merged_at": zulu(closed) if closed and chance(rng, 0.8) else None,
            }
        else:
            done = rng.randrange(3)
            item["sub_issues_summary"] = {
                "total": done + rng.randrange(2),
                "completed": done,
                "percent_completed": 0 if done == 0 else rng.choice([50, 66, 100]),
            }
        item["body"] = paragraphs(rng, rng.randint(1, 3)) if chance(rng, 0.85) else None
        item["reactions"] = {
            "url": f"{issue_api}/reactions",
            "total_count": sum(reactions),
            **dict(
                zip(
                    ["+1", "-1", "laugh", "hooray", "confused", "heart", "rocket", "eyes"],
                    reactions,
                )
            ),
        }
        item["timeline_url"] = f"{issue_api}/timeline"
        item["performed_via_github_app"] = None
        item["state_reason"] = (
            ("completed" if chance(rng, 0.8) else "not_planned") if closed else None
        )
        item["score"] = 1.0
        items.append(item)
    return {"total_count": 2381, "incomplete_results": False, "items": items}


# GitHub GraphQL: a repository's issues with nested connections, compact JSON.


def github_graphql_issues(rng: random.Random) -> dict:
    logins = [login_of(*person(rng), rng) for _ in range(25)]
    nodes = []
    for number in sorted(rng.sample(range(1, 6000), 100), reverse=True):
        created = moment(rng)
        closed = after(rng, created, 24 * 20) if chance(rng, 0.3) else None
        node = {
            "number": number,
            "title": sentence(rng, 3, 10),
            "state": "CLOSED" if closed else "OPEN",
            "createdAt": zulu(created),
            "updatedAt": zulu(after(rng, created, 24 * 60)),
            "closedAt": zulu(closed) if closed else None,
            "url": f"https://github.com/lattice-io/lattice/issues/{number}",
            "author": None
            if chance(rng, 0.02)  # a deleted account ("ghost") comes back as null
            else {"login": pick(rng, logins), "__typename": "User"},
            "labels": {
                "totalCount": 0,
                "nodes": [
                    {"name": name, "color": color}
                    for name, color, *_ in rng.sample(GITHUB_LABELS, rng.randint(0, 3))
                ],
            },
            "assignees": {
                "nodes": [{"login": login} for login in rng.sample(logins, rng.randint(0, 2))]
            },
            "milestone": {"title": "v3.0", "number": 3} if chance(rng, 0.25) else None,
            "comments": {"totalCount": rng.choice([0, 0, 1, 2, 4, 9, 23])},
            "reactions": {"totalCount": rng.choice([0, 0, 0, 1, 3, 14])},
            "bodyText": sentence(rng, 10, 60) + ".",
        }
        node["labels"]["totalCount"] = len(node["labels"]["nodes"])
        nodes.append(node)
    cursor = base64.b64encode(f"cursor:v2:\x92\xb9{zulu(EPOCH)}".encode()).decode()
    return {
        "data": {
            "repository": {
                "issues": {
                    "totalCount": 5734,
                    "nodes": nodes,
                    "pageInfo": {"hasNextPage": True, "endCursor": cursor},
                }
            }
        }
    }
