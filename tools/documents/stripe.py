# Stripe's GET /v1/charges: a list object of charges with billing details, outcome and card
# details, two-space pretty JSON.

import random
from datetime import timedelta

from documents.values import (
    ALNUM,
    EPOCH,
    chance,
    login_of,
    person,
    pick,
    token,
)


def stripe_charges(rng: random.Random) -> dict:
    customers = ["cus_" + token(rng, 14, ALNUM) for _ in range(40)]
    now = int((EPOCH + timedelta(days=60)).timestamp())
    charges = []
    for _ in range(100):
        now -= rng.randrange(60, 40_000)
        charge_id = "ch_3" + token(rng, 23, ALNUM)
        amount = pick(rng, [999, 1999, 2500, 4900, 12000, 350, 7999])
        failed = chance(rng, 0.08)
        refunded = 0 if failed or not chance(rng, 0.1) else amount
        first, last = person(rng)
        brand = pick(rng, ["visa", "visa", "mastercard", "amex"])
        country = pick(rng, ["US", "US", "GB", "DE", "FR", "CA"])
        charge = {
            "id": charge_id,
            "object": "charge",
            "amount": amount,
            "amount_captured": 0 if failed else amount,
            "amount_refunded": refunded,
            "application": None,
            "application_fee": None,
            "application_fee_amount": None,
            "balance_transaction": None if failed else "txn_3" + token(rng, 23, ALNUM),
            "billing_details": {
                "address": {
                    "city": pick(rng, ["Austin", "London", "Berlin", "Lyon", "Toronto", None]),
                    "country": country,
                    "line1": None if chance(rng, 0.4) else f"{rng.randrange(1, 999)} Market St",
                    "line2": None,
                    "postal_code": str(rng.randrange(10000, 99999)),
                    "state": None,
                },
                "email": f"{login_of(first, last, rng)}@example.com",
                "name": f"{first} {last}",
                "phone": None,
            },
            "calculated_statement_descriptor": "ACME.IO",
            "captured": not failed,
            "created": now,
            "currency": "usd",
            "customer": pick(rng, customers) if chance(rng, 0.8) else None,
            "description": pick(rng, ["Subscription update", "Subscription creation", None]),
            "destination": None,
            "dispute": None,
            "disputed": False,
            "failure_balance_transaction": None,
            "failure_code": "card_declined" if failed else None,
            "failure_message": "Your card was declined." if failed else None,
            "fraud_details": {},
            "invoice": "in_1" + token(rng, 23, ALNUM) if chance(rng, 0.6) else None,
            "livemode": False,
            "metadata": {"order_id": str(rng.randrange(10**6, 10**7))} if chance(rng, 0.3) else {},
            "on_behalf_of": None,
            "order": None,
            "outcome": {
                "advice_code": "try_again_later" if failed else None,
                "network_advice_code": None,
                "network_decline_code": None,
                "network_status": "declined_by_network" if failed else "approved_by_network",
                "reason": "generic_decline" if failed else None,
                "risk_level": "normal",
                "risk_score": rng.randrange(5, 70),
                "seller_message": "The bank did not return any further details with this decline."
                if failed
                else "Payment complete.",
                "type": "issuer_declined" if failed else "authorized",
            },
            "paid": not failed,
            "payment_intent": "pi_3" + token(rng, 23, ALNUM),
            "payment_method": "pm_1" + token(rng, 23, ALNUM),
            "payment_method_details": {
                "card": {
                    "amount_authorized": None if failed else amount,
                    "authorization_code": None if failed else str(rng.randrange(10**5, 10**6)),
                    "brand": brand,
                    "checks": {
                        "address_line1_check": None,
                        "address_postal_code_check": pick(rng, ["pass", "pass", "unavailable"]),
                        "cvc_check": "pass",
                    },
                    "country": country,
                    "exp_month": rng.randint(1, 12),
                    "exp_year": rng.randint(2025, 2031),
                    "extended_authorization": {"status": "disabled"},
                    "fingerprint": token(rng, 16, ALNUM),
                    "funding": pick(rng, ["credit", "credit", "debit"]),
                    "incremental_authorization": {"status": "unavailable"},
                    "installments": None,
                    "last4": f"{rng.randrange(10000):04d}",
                    "mandate": None,
                    "multicapture": {"status": "unavailable"},
                    "network": brand,
                    "network_token": {"used": False},
                    "network_transaction_id": str(rng.randrange(10**14, 10**15)),
                    "overcapture": {"maximum_amount_capturable": amount, "status": "unavailable"},
                    "regulated_status": "unregulated",
                    "three_d_secure": None,
                    "wallet": {"dynamic_last4": None, "google_pay": {}, "type": "google_pay"}
                    if chance(rng, 0.15)
                    else None,
                },
                "type": "card",
            },
            "radar_options": {},
            "receipt_email": None,
            "receipt_number": None,
            "receipt_url": f"https://pay.stripe.com/receipts/payment/{token(rng, 60, ALNUM)}",
            "refunded": refunded == amount and refunded > 0,
            "review": None,
            "shipping": None,
            "source": None,
            "source_transfer": None,
            "statement_descriptor": None,
            "statement_descriptor_suffix": None,
            "status": "failed" if failed else "succeeded",
            "transfer_data": None,
            "transfer_group": None,
        }
        charges.append(charge)
    return {"object": "list", "data": charges, "has_more": True, "url": "/v1/charges"}
