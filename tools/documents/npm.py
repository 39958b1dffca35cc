# The npm registry's document of a package: every version's manifest and publication time,
# keyed by version, compact JSON.

import base64
import hashlib
import random
from datetime import timedelta

from documents.values import (
    EPOCH,
    chance,
    hex_id,
    paragraphs,
    pick,
    zulu_millis,
)


def npm_package(rng: random.Random) -> dict:
    name = "@lattice/http-client"
    maintainers = [
        {"name": "mira-k", "email": "mira@lattice.dev"},
        {"name": "tobi", "email": "tobias@lattice.dev"},
    ]
    versions, times = {}, {}
    when = EPOCH - timedelta(days=900)
    created = when
    dependencies = {"undici": "^5.28.0", "debug": "^4.3.4"}
    releases = [
        (major, minor, patch)
        for major in range(3)
        for minor in range(6)
        for patch in range(rng.randint(1, 6))
    ]
    for major, minor, patch in releases:
        version = f"{major}.{minor}.{patch}"
        when += timedelta(hours=rng.randrange(20, 400))
        if minor == 3 and patch == 0:
            dependencies = dependencies | {"mime-types": f"^2.1.{rng.randrange(30, 36)}"}
        integrity = base64.b64encode(hashlib.sha512(version.encode()).digest()).decode()
        publisher = pick(rng, maintainers)
        manifest = {
            "name": name,
            "version": version,
            "description": "A small HTTP client with retries, timeouts and typed errors",
            "main": "dist/index.js",
            "types": "dist/index.d.ts",
            "type": "module" if major >= 2 else None,
            "exports": {".": {"import": "./dist/index.js", "types": "./dist/index.d.ts"}}
            if major >= 2
            else None,
            "scripts": {"build": "tsc -p .", "test": "vitest run"},
            "repository": {
                "type": "git",
                "url": "git+https://github.com/lattice-io/http-client.git",
            },
            "keywords": ["http", "client", "fetch", "retry"],
            "author": {"name": "Mira Kovač", "email": "mira@lattice.dev"},
            "license": "MIT",
            "bugs": {"url": "https://github.com/lattice-io/http-client/issues"},
            "homepage": "https://github.com/lattice-io/http-client#readme",
            "dependencies": dict(dependencies),
            "devDependencies": {"typescript": f"^5.{rng.randrange(5)}.0", "vitest": "^1.2.0"},
            "engines": {"node": ">=18"} if major >= 1 else None,
            "gitHead": hex_id(rng, 40),
            "_id": f"{name}@{version}",
            "_nodeVersion": pick(rng, ["18.19.0", "20.11.1", "20.12.2"]),
            "_npmVersion": pick(rng, ["10.2.4", "10.5.0"]),
            "dist": {
                "integrity": f"sha512-{integrity}",
                "shasum": hashlib.sha1(version.encode()).hexdigest(),
                "tarball": f"https://registry.npmjs.org/{name}/-/http-client-{version}.tgz",
                "fileCount": rng.randrange(12, 40),
                "unpackedSize": rng.randrange(40_000, 160_000),
                "signatures": [
                    {
                        "keyid": "SHA256:jl3bwswu80PjjokCgh0o2w5c2U4LhQAE57gj9cz1kzA",
                        "sig": base64.b64encode(rng.randbytes(70)).decode(),
                    }
                ],
            },
            "_npmUser": publisher,
            "directories": {},
            "maintainers": maintainers,
            "_npmOperationalInternal": {
                "host": "s3://npm-registry-packages",
                "tmp": f"tmp/http-client_{version}_{int(when.timestamp()) * 1000}_0.{rng.randrange(10**16)}",
            },
            "_hasShrinkwrap": False,
        }
        if chance(rng, 0.05):
            manifest["deprecated"] = "This version has a bug in retry handling, please upgrade"
        versions[version] = {key: value for key, value in manifest.items() if value is not None}
        times[version] = zulu_millis(when, rng)
    latest = list(versions)[-1]
    return {
        "_id": name,
        "_rev": f"{len(versions) + 3}-{hex_id(rng, 32)}",
        "name": name,
        "dist-tags": {"latest": latest, "next": latest},
        "versions": versions,
        "time": {"created": zulu_millis(created, rng), "modified": zulu_millis(when, rng), **times},
        "bugs": {"url": "https://github.com/lattice-io/http-client/issues"},
        "author": {"name": "Mira Kovač", "email": "mira@lattice.dev"},
        "license": "MIT",
        "homepage": "https://github.com/lattice-io/http-client#readme",
        "keywords": ["http", "client", "fetch", "retry"],
        "repository": {"type": "git", "url": "git+https://github.com/lattice-io/http-client.git"},
        "description": "A small HTTP client with retries, timeouts and typed errors",
        "maintainers": maintainers,
        "readme": "# @lattice/http-client\n\n" + paragraphs(rng, 6),
        "readmeFilename": "README.md",
    }
