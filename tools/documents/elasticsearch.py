# Elasticsearch's _search over log data streams: hits with scores and ECS-shaped _source
# documents, compact JSON.

import random

from documents.values import (
    ALNUM,
    chance,
    hex_id,
    ipv4,
    login_of,
    moment,
    person,
    pick,
    token,
    zulu_millis,
)


def elasticsearch_search(rng: random.Random) -> dict:
    services = [
        ("checkout", "2.14.1"),
        ("catalog", "1.9.0"),
        ("auth", "3.2.7"),
        ("search", "0.41.2"),
    ]
    hosts = [(f"node-{n:02d}", ipv4(rng, "10.1")) for n in range(8)]
    paths = [
        "/api/v1/orders",
        "/api/v1/cart",
        "/api/v1/items/{id}",
        "/login",
        "/healthz",
        "/search",
    ]
    hits = []
    for _ in range(220):
        when = moment(rng, 1)
        name, version = pick(rng, services)
        host, ip = pick(rng, hosts)
        status = pick(rng, [200] * 12 + [201, 204, 301, 400, 401, 404, 500, 503])
        level = "error" if status >= 500 else ("warn" if status >= 400 else "info")
        path = pick(rng, paths).replace("{id}", str(rng.randrange(10**6)))
        source = {
            "@timestamp": zulu_millis(when, rng),
            "message": f'{ip} - - "{pick(rng, ["GET", "GET", "POST", "PUT"])} {path} HTTP/1.1" {status}',
            "log": {"level": level, "logger": f"{name}.http"},
            "service": {"name": name, "version": version, "environment": "production"},
            "host": {
                "name": host,
                "ip": [ip],
                "os": {"type": "linux", "kernel": "6.1.0-18-cloud-amd64"},
            },
            "http": {
                "request": {"method": pick(rng, ["GET", "POST"]), "bytes": rng.randrange(0, 4000)},
                "response": {"status_code": status, "bytes": rng.randrange(50, 90_000)},
            },
            "url": {"path": path},
            "user_agent": {
                "original": pick(
                    rng,
                    [
                        "Mozilla/5.0 (X11; Linux x86_64) Firefox/125.0",
                        "okhttp/4.12.0",
                        "curl/8.5.0",
                        "Go-http-client/2.0",
                    ],
                )
            },
            "event": {
                "dataset": f"{name}.access",
                "duration": rng.randrange(200_000, 4_000_000_000),
                # A nanosecond clock: past 2**53, so a double would lose its last digits.
                "sequence": int(when.timestamp()) * 10**9 + rng.randrange(10**9),
            },
            "trace": {"id": hex_id(rng, 32)},
            "ecs": {"version": "8.11.0"},
        }
        if chance(rng, 0.4):
            source["user"] = {"id": str(rng.randrange(10**8)), "name": login_of(*person(rng), rng)}
        if status >= 500:
            source["error"] = {
                "type": "UpstreamTimeout",
                "message": "upstream request timeout after 30s",
            }
        if chance(rng, 0.3):
            source["url"]["query"] = f"page={rng.randint(1, 9)}&size=50"
        hits.append(
            {
                "_index": f".ds-logs-{name}-{when:%Y.%m.%d}-000001",
                "_id": token(rng, 20, ALNUM + "-_"),
                "_score": round(rng.uniform(0.5, 9.0), 7),
                "_source": source,
            }
        )
    hits.sort(key=lambda hit: -hit["_score"])
    return {
        "took": 37,
        "timed_out": False,
        "_shards": {"total": 12, "successful": 12, "skipped": 4, "failed": 0},
        "hits": {
            "total": {"value": 10000, "relation": "gte"},
            "max_score": hits[0]["_score"],
            "hits": hits,
        },
    }
