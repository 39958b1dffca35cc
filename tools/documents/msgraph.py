# Microsoft Graph's GET /v1.0/users: a page of users with an OData context and next link,
# compact JSON.

import random

from documents.values import (
    ALNUM,
    chance,
    login_of,
    person,
    pick,
    token,
    uuid4,
)


def msgraph_users(rng: random.Random) -> dict:
    titles = ["Software Engineer", "Product Manager", "Designer", "Sales Lead", "Recruiter", None]
    offices = ["18/2111", "131/1104", "Berlin HQ", "Remote", None]
    users = []
    for _ in range(400):
        first, last = person(rng)
        alias = login_of(first, last, rng)
        guest = chance(rng, 0.05)
        principal = (
            f"{alias}_partner.example#EXT#@acmecorp.onmicrosoft.com"
            if guest
            else f"{alias}@acme.io"
        )
        users.append(
            {
                "businessPhones": [f"+1 425 555 0{rng.randrange(100, 999)}"]
                if chance(rng, 0.6)
                else [],
                "displayName": f"{first} {last}",
                "givenName": first,
                "jobTitle": pick(rng, titles),
                "mail": None if guest and chance(rng, 0.5) else f"{alias}@acme.io",
                "mobilePhone": f"+1 206 555 0{rng.randrange(100, 999)}"
                if chance(rng, 0.2)
                else None,
                "officeLocation": pick(rng, offices),
                "preferredLanguage": pick(rng, ["en-US", "en-US", "de-DE", "fr-FR", None]),
                "surname": last,
                "userPrincipalName": principal,
                "id": uuid4(rng),
            }
        )
    skip = token(rng, 120, ALNUM)
    return {
        "@odata.context": "https://graph.microsoft.com/v1.0/$metadata#users",
        "value": users,
        "@odata.nextLink": f"https://graph.microsoft.com/v1.0/users?$skiptoken={skip}",
    }
