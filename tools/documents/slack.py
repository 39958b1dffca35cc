# Slack's conversations.history: user, bot and join messages with blocks, threads and
# reactions, compact JSON with '/' and non-ASCII escaped.

import base64
import random
from datetime import timedelta

from documents.values import (
    ALNUM,
    EPOCH,
    UPPER_DIGITS,
    chance,
    pick,
    sentence,
    token,
    uuid4,
)


def slack_history(rng: random.Random) -> dict:
    team = "T" + token(rng, 10, UPPER_DIGITS)
    people = ["U" + token(rng, 10, UPPER_DIGITS) for _ in range(18)]
    emoji = ["+1", "eyes", "white_check_mark", "tada", "rocket", "joy", "pray", "heart"]
    now = EPOCH + timedelta(days=90)
    messages = []
    for _ in range(170):
        now -= timedelta(seconds=rng.randrange(30, 9000))
        ts = f"{int(now.timestamp())}.{rng.randrange(1_000_000):06d}"
        roll = rng.random()
        if roll < 0.08:
            user = pick(rng, people)
            messages.append(
                {
                    "subtype": "channel_join",
                    "user": user,
                    "text": f"<@{user}> has joined the channel",
                    "type": "message",
                    "ts": ts,
                }
            )
            continue
        if roll < 0.25:
            status = pick(
                rng, [("good", "succeeded"), ("danger", "failed"), ("warning", "unstable")]
            )
            run = rng.randrange(10_000, 99_999)
            messages.append(
                {
                    "subtype": "bot_message",
                    "text": "",
                    "username": "CI",
                    "icons": {"emoji": ":robot_face:"},
                    "type": "message",
                    "ts": ts,
                    "bot_id": "B" + token(rng, 10, UPPER_DIGITS),
                    "attachments": [
                        {
                            "id": 1,
                            "color": {"good": "2eb886", "danger": "a30200", "warning": "daa038"}[
                                status[0]
                            ],
                            "fallback": f"Build #{run} {status[1]}",
                            "title": f"Build #{run} {status[1]}",
                            "title_link": f"https://ci.acme.io/job/orbit/{run}/",
                            "text": f"Branch `main` — {sentence(rng, 3, 8)}",
                            "fields": [
                                {"value": "main", "title": "Branch", "short": True},
                                {
                                    "value": f"{rng.randrange(2, 40)}m {rng.randrange(60)}s",
                                    "title": "Duration",
                                    "short": True,
                                },
                            ],
                            "footer": "ci.acme.io",
                            "ts": int(now.timestamp()),
                        }
                    ],
                }
            )
            continue
        user = pick(rng, people)
        text = sentence(rng, 3, 25) + pick(
            rng, ["", "", " 🙂", " — see <https://wiki.acme.io/x/Ab12|the runbook>", " ça marche?"]
        )
        message = {
            "user": user,
            "type": "message",
            "ts": ts,
            "client_msg_id": uuid4(rng),
            "text": text,
            "team": team,
            "blocks": [
                {
                    "type": "rich_text",
                    "block_id": token(rng, 5, ALNUM),
                    "elements": [
                        {"type": "rich_text_section", "elements": [{"type": "text", "text": text}]}
                    ],
                }
            ],
        }
        if chance(rng, 0.1):
            message["edited"] = {"user": user, "ts": f"{int(now.timestamp()) + 60}.000000"}
        if chance(rng, 0.2):
            repliers = rng.sample(people, rng.randint(1, 4))
            message |= {
                "thread_ts": ts,
                "reply_count": len(repliers) + rng.randrange(6),
                "reply_users_count": len(repliers),
                "latest_reply": f"{int(now.timestamp()) + rng.randrange(60, 7200)}.{rng.randrange(1_000_000):06d}",
                "reply_users": repliers,
                "is_locked": False,
                "subscribed": False,
            }
        if chance(rng, 0.3):
            message["reactions"] = [
                {
                    "name": name,
                    "users": (users := rng.sample(people, rng.randint(1, 5))),
                    "count": len(users),
                }
                for name in rng.sample(emoji, rng.randint(1, 3))
            ]
        messages.append(message)
    cursor = base64.b64encode(f"next_ts:{int(now.timestamp())}{rng.randrange(10**6):06d}".encode())
    return {
        "ok": True,
        "messages": messages,
        "has_more": True,
        "pin_count": 3,
        "channel_actions_ts": None,
        "channel_actions_count": 0,
        "response_metadata": {"next_cursor": cursor.decode()},
    }
