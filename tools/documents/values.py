# The values every generated tool output is made of: ids, tokens, names, sentences and
# times, all drawn from the random.Random the document's generator is given.

import random
import uuid
from datetime import UTC, datetime, timedelta

EPOCH = datetime(2024, 1, 8, 9, 0, 0, tzinfo=UTC)

WORDS = (
    "add support for nested config when parsing remote cache entries fix crash on empty input "
    "update docs about timeout handling refactor the scheduler to avoid deadlock in worker "
    "pool allow custom headers retry failed uploads with backoff deprecate legacy flag "
    "improve error message for missing token memory leak after reconnect race condition in "
    "shutdown path migrate build to new toolchain flaky test on arm64 wrong offset in "
    "pagination cursor"
).split()
FIRST_NAMES = (
    "Anna|Ben|Chloé|Dmitri|Emma|Farid|Grace|Hiro|Ingrid|José|Kofi|Lena|Łukasz|Maya|Noah|"
    "Olivia|Priya|Quentin|Rosa|Sven|Tomás|Uma|Victor|Wen|Xavier|Yara|Zoë|陽翔|Søren|Ayşe"
).split("|")
LAST_NAMES = (
    "Andersen|Brown|Carvalho|Dubois|Eriksson|Fischer|García|Hughes|Ito|Jansen|Kowalski|López|"
    "Müller|Nakamura|O'Brien|Petrov|Quinn|Rossi|Schmidt|Tanaka|Usman|Van Dijk|Wójcik|Yilmaz|"
    "Zhang|Nguyễn|佐藤"
).split("|")


def pick(rng: random.Random, choices):
    return choices[rng.randrange(len(choices))]


def chance(rng: random.Random, probability: float) -> bool:
    return rng.random() < probability


def hex_id(rng: random.Random, length: int) -> str:
    return "".join(rng.choice("0123456789abcdef") for _ in range(length))


def token(rng: random.Random, length: int, alphabet: str) -> str:
    return "".join(rng.choice(alphabet) for _ in range(length))


ALNUM = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789"
UPPER_DIGITS = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"


def uuid4(rng: random.Random) -> str:
    return str(uuid.UUID(int=rng.getrandbits(128), version=4))


def sentence(rng: random.Random, low: int, high: int) -> str:
    text = " ".join(pick(rng, WORDS) for _ in range(rng.randint(low, high)))
    return text[0].upper() + text[1:]


def paragraphs(rng: random.Random, count: int) -> str:
    return "\n\n".join(sentence(rng, 12, 40) + "." for _ in range(count))


def moment(rng: random.Random, days: float = 120) -> datetime:
    return EPOCH + timedelta(seconds=rng.randrange(int(days * 86400)))


def after(rng: random.Random, start: datetime, hours: float) -> datetime:
    return start + timedelta(seconds=rng.randrange(1, int(hours * 3600) + 2))


def zulu(when: datetime) -> str:
    return when.strftime("%Y-%m-%dT%H:%M:%SZ")


def zulu_millis(when: datetime, rng: random.Random) -> str:
    return when.strftime("%Y-%m-%dT%H:%M:%S") + f".{rng.randrange(1000):03d}Z"


def person(rng: random.Random) -> tuple[str, str]:
    return pick(rng, FIRST_NAMES), pick(rng, LAST_NAMES)


def login_of(first: str, last: str, rng: random.Random) -> str:
    ascii_name = (first + last).encode("ascii", "ignore").decode().lower().replace("'", "")
    return (ascii_name or "user") + str(rng.randrange(100)) * chance(rng, 0.4)


def ipv4(rng: random.Random, prefix: str = "10.0") -> str:
    return f"{prefix}.{rng.randrange(256)}.{rng.randrange(1, 255)}"
