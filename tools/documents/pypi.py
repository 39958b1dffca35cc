# PyPI's JSON API for a project: its info, and its release files keyed by version, compact
# JSON.

import hashlib
import random
from datetime import timedelta

from documents.values import (
    EPOCH,
    paragraphs,
)


def pypi_package(rng: random.Random) -> dict:
    name = "orbit-sched"
    files_base = "https://files.pythonhosted.org/packages"
    wheels = [
        "cp311-cp311-manylinux_2_17_x86_64.manylinux2014_x86_64",
        "cp312-cp312-manylinux_2_17_x86_64.manylinux2014_x86_64",
        "cp312-cp312-macosx_11_0_arm64",
        "cp312-cp312-win_amd64",
    ]
    releases = {}
    when = EPOCH - timedelta(days=1200)
    # (version, whether it has wheels): the first releases were sdists alone.
    versions = [
        (f"0.{minor}.{patch}", minor >= 5)
        for minor in range(1, 12)
        for patch in range(rng.randint(1, 4))
    ]
    versions += [(version, True) for version in ("1.0.0rc1", "1.0.0", "1.0.1", "1.1.0")]
    for version, has_wheels in versions:
        when += timedelta(hours=rng.randrange(100, 600))
        files = []
        kinds = [("sdist", "source", f"{name.replace('-', '_')}-{version}.tar.gz")]
        if has_wheels:
            kinds += [
                ("bdist_wheel", tag.split("-")[0], f"{name.replace('-', '_')}-{version}-{tag}.whl")
                for tag in wheels
            ]
        for packagetype, python_version, filename in kinds:
            digest = hashlib.sha256(filename.encode()).hexdigest()
            md5 = hashlib.md5(filename.encode()).hexdigest()
            uploaded = when + timedelta(seconds=rng.randrange(600))
            files.append(
                {
                    "comment_text": "",
                    "digests": {
                        "blake2b_256": hashlib.blake2b(
                            filename.encode(), digest_size=32
                        ).hexdigest(),
                        "md5": md5,
                        "sha256": digest,
                    },
                    "downloads": -1,
                    "filename": filename,
                    "has_sig": False,
                    "md5_digest": md5,
                    "packagetype": packagetype,
                    "python_version": python_version,
                    "requires_python": ">=3.9" if version.startswith("0.") else ">=3.10",
                    "size": rng.randrange(40_000, 900_000),
                    "upload_time": uploaded.strftime("%Y-%m-%dT%H:%M:%S"),
                    "upload_time_iso_8601": uploaded.strftime("%Y-%m-%dT%H:%M:%S")
                    + f".{rng.randrange(10**6):06d}Z",
                    "url": f"{files_base}/{digest[:2]}/{digest[2:4]}/{digest[4:]}/{filename}",
                    "yanked": version == "1.0.1",
                    "yanked_reason": "Broken wheel for Windows" if version == "1.0.1" else None,
                }
            )
        releases[version] = files
    releases["0.0.1"] = []  # a name registered before its first upload
    latest = versions[-1][0]
    info = {
        "author": None,
        "author_email": "Orbit maintainers <maintainers@orbit.dev>",
        "bugtrack_url": None,
        "classifiers": [
            "Development Status :: 5 - Production/Stable",
            "Intended Audience :: Developers",
            "License :: OSI Approved :: Apache Software License",
            "Operating System :: OS Independent",
            "Programming Language :: Python :: 3",
            *(f"Programming Language :: Python :: 3.{minor}" for minor in range(10, 14)),
            "Topic :: System :: Distributed Computing",
        ],
        "description": "# orbit-sched\n\n" + paragraphs(rng, 14),
        "description_content_type": "text/markdown",
        "docs_url": None,
        "download_url": None,
        "downloads": {"last_day": -1, "last_month": -1, "last_week": -1},
        "dynamic": None,
        "home_page": None,
        "keywords": "scheduler, cron, distributed, asyncio",
        "license": None,
        "license_expression": "Apache-2.0",
        "license_files": ["LICENSE"],
        "maintainer": None,
        "maintainer_email": None,
        "name": name,
        "package_url": f"https://pypi.org/project/{name}/",
        "platform": None,
        "project_url": f"https://pypi.org/project/{name}/",
        "project_urls": {
            "Documentation": "https://orbit.dev/docs",
            "Homepage": "https://orbit.dev",
            "Issues": "https://github.com/orbit-dev/orbit-sched/issues",
            "Source": "https://github.com/orbit-dev/orbit-sched",
        },
        "provides_extra": ["redis", "postgres"],
        "release_url": f"https://pypi.org/project/{name}/{latest}/",
        "requires_dist": [
            "anyio>=4.0",
            "croniter>=2.0",
            'redis>=5.0; extra == "redis"',
            'asyncpg>=0.29; extra == "postgres"',
        ],
        "requires_python": ">=3.10",
        "summary": "Distributed cron-style job scheduling on asyncio",
        "version": latest,
        "yanked": False,
        "yanked_reason": None,
    }
    return {
        "info": info,
        "last_serial": 24_817_733,
        "releases": releases,
        "urls": releases[latest],
        "vulnerabilities": [],
    }
