"""pytest plugin for the sanitized run of the Python tests (scripts/check-hardening): sanitizers
slow every call several times over, so Hypothesis gets no deadline and no slowness health check."""

from hypothesis import HealthCheck, settings

settings.register_profile("sanitized", deadline=None, suppress_health_check=[HealthCheck.too_slow])
settings.load_profile("sanitized")
