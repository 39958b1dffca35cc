# kubectl get pods -o json: a List of Pods with their containers, probes, conditions and
# statuses, written by Go with a four-space indent and sorted keys.

import random

from documents.values import (
    after,
    hex_id,
    ipv4,
    moment,
    pick,
    token,
    uuid4,
    zulu,
)


def kubectl_pods(rng: random.Random) -> dict:
    apps = [
        ("api-gateway", "ghcr.io/acme/api-gateway", [8080, 9090], "250m", "256Mi"),
        ("orders", "ghcr.io/acme/orders", [8080], "500m", "512Mi"),
        ("payments", "ghcr.io/acme/payments", [8443], "500m", "1Gi"),
        ("search-indexer", "ghcr.io/acme/search-indexer", [], "1", "2Gi"),
        ("web", "ghcr.io/acme/web", [3000], "100m", "128Mi"),
    ]
    nodes = [f"ip-10-0-{rng.randrange(256)}-{rng.randrange(1, 255)}.ec2.internal" for _ in range(6)]
    items = []
    for app, image, ports, cpu, memory in apps:
        replicaset = f"{app}-{token(rng, 10, 'bcdfghjklmnpqrstvwxz2456789')}"
        version = f"1.{rng.randrange(40)}.{rng.randrange(10)}"
        for _ in range(rng.randint(5, 10)):
            name = f"{replicaset}-{token(rng, 5, 'bcdfghjklmnpqrstvwxz2456789')}"
            created = moment(rng, 20)
            started = after(rng, created, 0.02)
            restarts = rng.choice([0, 0, 0, 0, 1, 3])
            container = {
                "env": [
                    {"name": "APP_ENV", "value": "production"},
                    {"name": "LOG_LEVEL", "value": pick(rng, ["info", "info", "debug"])},
                    {
                        "name": "DATABASE_URL",
                        "valueFrom": {"secretKeyRef": {"key": "url", "name": f"{app}-db"}},
                    },
                    {
                        "name": "POD_IP",
                        "valueFrom": {
                            "fieldRef": {"apiVersion": "v1", "fieldPath": "status.podIP"}
                        },
                    },
                ],
                "image": f"{image}:{version}",
                "imagePullPolicy": "IfNotPresent",
                "name": app,
                "ports": [
                    {
                        "containerPort": port,
                        "name": "http" if i == 0 else "metrics",
                        "protocol": "TCP",
                    }
                    for i, port in enumerate(ports)
                ],
                "resources": {
                    "limits": {"cpu": cpu, "memory": memory},
                    "requests": {"cpu": cpu, "memory": memory},
                },
                "terminationMessagePath": "/dev/termination-log",
                "terminationMessagePolicy": "File",
                "volumeMounts": [
                    {"mountPath": "/etc/app", "name": "config", "readOnly": True},
                    {
                        "mountPath": "/var/run/secrets/kubernetes.io/serviceaccount",
                        "name": f"kube-api-access-{token(rng, 5, 'bcdfghjklmnpqrstvwxz2456789')}",
                        "readOnly": True,
                    },
                ],
            }
            if ports:
                container["readinessProbe"] = {
                    "failureThreshold": 3,
                    "httpGet": {"path": "/healthz", "port": ports[0], "scheme": "HTTP"},
                    "periodSeconds": 10,
                    "successThreshold": 1,
                    "timeoutSeconds": 1,
                }
            if not ports:  # a container without ports has none, not an empty list
                del container["ports"]
            pod_ip = ipv4(rng, "10.42")
            host_ip = ipv4(rng, "10.0")
            state = {"running": {"startedAt": zulu(after(rng, started, 0.01))}}
            last_state = {}
            if restarts:
                ended = after(rng, started, 48)
                last_state = {
                    "terminated": {
                        "containerID": "containerd://" + hex_id(rng, 64),
                        "exitCode": 137,
                        "finishedAt": zulu(ended),
                        "reason": "OOMKilled",
                        "startedAt": zulu(started),
                    }
                }
            items.append(
                {
                    "apiVersion": "v1",
                    "kind": "Pod",
                    "metadata": {
                        "annotations": {
                            "kubectl.kubernetes.io/restartedAt": zulu(created),
                            "prometheus.io/scrape": "true" if ports else "false",
                            "checksum/config": hex_id(rng, 64),
                            "acme.io/owners": "platform & payments <oncall@acme.io>",
                        },
                        "creationTimestamp": zulu(created),
                        "generateName": f"{replicaset}-",
                        "labels": {
                            "app.kubernetes.io/name": app,
                            "app.kubernetes.io/version": version,
                            "pod-template-hash": replicaset.rsplit("-", 1)[1],
                        },
                        "name": name,
                        "namespace": "prod",
                        "ownerReferences": [
                            {
                                "apiVersion": "apps/v1",
                                "blockOwnerDeletion": True,
                                "controller": True,
                                "kind": "ReplicaSet",
                                "name": replicaset,
                                "uid": uuid4(rng),
                            }
                        ],
                        "resourceVersion": str(rng.randrange(10_000_000, 99_000_000)),
                        "uid": uuid4(rng),
                    },
                    "plan": {
                        "containers": [container],
                        "dnsPolicy": "ClusterFirst",
                        "enableServiceLinks": True,
                        "nodeName": pick(rng, nodes),
                        "preemptionPolicy": "PreemptLowerPriority",
                        "priority": 0,
                        "restartPolicy": "Always",
                        "schedulerName": "default-scheduler",
                        "securityContext": {},
                        "serviceAccount": app,
                        "serviceAccountName": app,
                        "terminationGracePeriodSeconds": 30,
                        "tolerations": [
                            {
                                "effect": "NoExecute",
                                "key": f"node.kubernetes.io/{reason}",
                                "operator": "Exists",
                                "tolerationSeconds": 300,
                            }
                            for reason in ("not-ready", "unreachable")
                        ],
                        "volumes": [
                            {
                                "configMap": {"defaultMode": 420, "name": f"{app}-config"},
                                "name": "config",
                            },
                        ],
                    },
                    "status": {
                        "conditions": [
                            {
                                "lastProbeTime": None,
                                "lastTransitionTime": zulu(after(rng, created, 0.01)),
                                "status": "True",
                                "type": kind,
                            }
                            for kind in (
                                "PodReadyToStartContainers",
                                "Initialized",
                                "Ready",
                                "ContainersReady",
                                "PodScheduled",
                            )
                        ],
                        "containerStatuses": [
                            {
                                "containerID": "containerd://" + hex_id(rng, 64),
                                "image": f"{image}:{version}",
                                "imageID": f"{image}@sha256:{hex_id(rng, 64)}",
                                "lastState": last_state,
                                "name": app,
                                "ready": True,
                                "restartCount": restarts,
                                "started": True,
                                "state": state,
                            }
                        ],
                        "hostIP": host_ip,
                        "hostIPs": [{"ip": host_ip}],
                        "phase": "Running",
                        "podIP": pod_ip,
                        "podIPs": [{"ip": pod_ip}],
                        "qosClass": "Guaranteed",
                        "startTime": zulu(started),
                    },
                }
            )
    return {"apiVersion": "v1", "items": items, "kind": "List", "metadata": {"resourceVersion": ""}}
