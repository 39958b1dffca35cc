# docker inspect of a compose project's containers: a top-level array of large nested objects,
# written by Go with a four-space indent.

import random
from datetime import timedelta

from documents.values import (
    after,
    hex_id,
    moment,
)


def docker_inspect(rng: random.Random) -> list:
    project = "shop"
    network_id = hex_id(rng, 64)
    services = [
        (
            "web",
            "nginx:1.25-alpine",
            ["/docker-entrypoint.sh"],
            ["nginx", "-g", "daemon off;"],
            {"80/tcp": "8080"},
        ),
        (
            "api",
            "ghcr.io/acme/shop-api:2.3.1",
            ["python", "-m", "shop"],
            ["serve"],
            {"8000/tcp": "8000"},
        ),
        (
            "worker",
            "ghcr.io/acme/shop-api:2.3.1",
            ["python", "-m", "shop"],
            ["worker", "--queues", "default,mail"],
            {},
        ),
        ("db", "postgres:16.2", ["docker-entrypoint.sh"], ["postgres"], {"5432/tcp": None}),
        (
            "cache",
            "redis:7.2",
            ["docker-entrypoint.sh"],
            ["redis-server", "--save", ""],
            {"6379/tcp": None},
        ),
    ]
    containers = []
    for service, image, entrypoint, command, ports in services:
        for replica in range(1, (3 if service in ("api", "worker") else 1) + 1):
            container_id = hex_id(rng, 64)
            created = moment(rng, 10)
            started = after(rng, created, 0.01)
            name = f"{project}-{service}-{replica}"
            ip = f"172.20.0.{rng.randrange(2, 250)}"
            layer = hex_id(rng, 64)
            env = [
                "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
                f"SERVICE={service}",
                "TZ=UTC",
            ]
            if service in ("api", "worker"):
                env += [
                    "DATABASE_URL=postgres://shop:***@db:5432/shop?sslmode=disable&pool=10",
                    "REDIS_URL=redis://cache:6379/0",
                    "PYTHONUNBUFFERED=1",
                ]
            healthy = service != "worker"
            state = {
                "Status": "running",
                "Running": True,
                "Paused": False,
                "Restarting": False,
                "OOMKilled": False,
                "Dead": False,
                "Pid": rng.randrange(1000, 400_000),
                "ExitCode": 0,
                "Error": "",
                "StartedAt": started.strftime("%Y-%m-%dT%H:%M:%S")
                + f".{rng.randrange(10**9):09d}Z",
                "FinishedAt": "0001-01-01T00:00:00Z",
            }
            if healthy:
                checks = []
                for n in range(5):
                    start = started + timedelta(seconds=30 * (n + 40))
                    checks.append(
                        {
                            "Start": start.strftime("%Y-%m-%dT%H:%M:%S")
                            + f".{rng.randrange(10**9):09d}Z",
                            "End": start.strftime("%Y-%m-%dT%H:%M:%S")
                            + f".{rng.randrange(10**9):09d}Z",
                            "ExitCode": 0,
                            "Output": "" if service == "db" else "OK\n",
                        }
                    )
                state["Health"] = {"Status": "healthy", "FailingStreak": 0, "Log": checks}
            mounts = []
            if service == "db":
                mounts.append(
                    {
                        "Type": "volume",
                        "Name": f"{project}_pgdata",
                        "Source": f"/var/lib/docker/volumes/{project}_pgdata/_data",
                        "Destination": "/var/lib/postgresql/data",
                        "Driver": "local",
                        "Mode": "z",
                        "RW": True,
                        "Propagation": "",
                    }
                )
            if service == "web":
                mounts.append(
                    {
                        "Type": "bind",
                        "Source": "/srv/shop/nginx.conf",
                        "Destination": "/etc/nginx/conf.d/default.conf",
                        "Mode": "ro",
                        "RW": False,
                        "Propagation": "rprivate",
                    }
                )
            port_map = {
                port: [{"HostIp": "0.0.0.0", "HostPort": host}, {"HostIp": "::", "HostPort": host}]
                if host
                else None
                for port, host in ports.items()
            }
            containers.append(
                {
                    "Id": container_id,
                    "Created": created.strftime("%Y-%m-%dT%H:%M:%S")
                    + f".{rng.randrange(10**9):09d}Z",
                    "Path": entrypoint[0],
                    "Args": entrypoint[1:] + command,
                    "State": state,
                    "Image": "sha256:" + hex_id(rng, 64),
                    "ResolvConfPath": f"/var/lib/docker/containers/{container_id}/resolv.conf",
                    "HostnamePath": f"/var/lib/docker/containers/{container_id}/hostname",
                    "HostsPath": f"/var/lib/docker/containers/{container_id}/hosts",
                    "LogPath": f"/var/lib/docker/containers/{container_id}/{container_id}-json.log",
                    "Name": "/" + name,
                    "RestartCount": 0,
                    "Driver": "overlay2",
                    "Platform": "linux",
                    "MountLabel": "",
                    "ProcessLabel": "",
                    "AppArmorProfile": "docker-default",
                    "ExecIDs": None,
                    "HostConfig": {
                        "Binds": [
                            f"{m['Source']}:{m['Destination']}:ro"
                            for m in mounts
                            if m["Type"] == "bind"
                        ]
                        or None,
                        "ContainerIDFile": "",
                        "LogConfig": {
                            "Type": "json-file",
                            "Config": {"max-size": "10m", "max-file": "3"},
                        },
                        "NetworkMode": f"{project}_default",
                        "PortBindings": {
                            port: [{"HostIp": "", "HostPort": host}]
                            for port, host in ports.items()
                            if host
                        },
                        "RestartPolicy": {"Name": "unless-stopped", "MaximumRetryCount": 0},
                        "AutoRemove": False,
                        "VolumeDriver": "",
                        "VolumesFrom": None,
                        "ConsoleSize": [0, 0],
                        "CapAdd": None,
                        "CapDrop": None,
                        "CgroupnsMode": "private",
                        "Dns": [],
                        "DnsOptions": [],
                        "DnsSearch": [],
                        "ExtraHosts": [],
                        "GroupAdd": None,
                        "IpcMode": "private",
                        "Cgroup": "",
                        "Links": None,
                        "OomScoreAdj": 0,
                        "PidMode": "",
                        "Privileged": False,
                        "PublishAllPorts": False,
                        "ReadonlyRootfs": False,
                        "SecurityOpt": None,
                        "UTSMode": "",
                        "UsernsMode": "",
                        "ShmSize": 67108864,
                        "Runtime": "runc",
                        "Isolation": "",
                        "CpuShares": 0,
                        "Memory": 2147483648 if service == "db" else 0,
                        "NanoCpus": 2000000000 if service == "db" else 0,
                        "CgroupParent": "",
                        "BlkioWeight": 0,
                        "BlkioWeightDevice": None,
                        "BlkioDeviceReadBps": None,
                        "BlkioDeviceWriteBps": None,
                        "BlkioDeviceReadIOps": None,
                        "BlkioDeviceWriteIOps": None,
                        "CpuPeriod": 0,
                        "CpuQuota": 0,
                        "CpuRealtimePeriod": 0,
                        "CpuRealtimeRuntime": 0,
                        "CpusetCpus": "",
                        "CpusetMems": "",
                        "Devices": None,
                        "DeviceCgroupRules": None,
                        "DeviceRequests": None,
                        "MemoryReservation": 0,
                        "MemorySwap": 4294967296 if service == "db" else 0,
                        "MemorySwappiness": None,
                        "OomKillDisable": None,
                        "PidsLimit": None,
                        "Ulimits": None,
                        "CpuCount": 0,
                        "CpuPercent": 0,
                        "IOMaximumIOps": 0,
                        "IOMaximumBandwidth": 0,
                        "MaskedPaths": [
                            "/proc/asound",
                            "/proc/acpi",
                            "/proc/kcore",
                            "/proc/keys",
                            "/proc/latency_stats",
                            "/proc/timer_list",
                            "/proc/timer_stats",
                            "/proc/sched_debug",
                            "/proc/scsi",
                            "/sys/firmware",
                            "/sys/devices/virtual/powercap",
                        ],
                        "ReadonlyPaths": [
                            "/proc/bus",
                            "/proc/fs",
                            "/proc/irq",
                            "/proc/sys",
                            "/proc/sysrq-trigger",
                        ],
                    },
                    "GraphDriver": {
                        "Data": {
                            "LowerDir": f"/var/lib/docker/overlay2/{layer}-init/diff:"
                            + ":".join(
                                f"/var/lib/docker/overlay2/{hex_id(rng, 64)}/diff"
                                for _ in range(rng.randint(3, 9))
                            ),
                            "MergedDir": f"/var/lib/docker/overlay2/{layer}/merged",
                            "UpperDir": f"/var/lib/docker/overlay2/{layer}/diff",
                            "WorkDir": f"/var/lib/docker/overlay2/{layer}/work",
                        },
                        "Name": "overlay2",
                    },
                    "Mounts": mounts,
                    "Config": {
                        "Hostname": container_id[:12],
                        "Domainname": "",
                        "User": "" if service in ("web", "db", "cache") else "1000:1000",
                        "AttachStdin": False,
                        "AttachStdout": True,
                        "AttachStderr": True,
                        "ExposedPorts": {port: {} for port in ports} or None,
                        "Tty": False,
                        "OpenStdin": False,
                        "StdinOnce": False,
                        "Env": env,
                        "Cmd": command,
                        "Healthcheck": {
                            "Test": [
                                "CMD-SHELL",
                                "pg_isready -U shop"
                                if service == "db"
                                else "wget -qO- localhost/healthz || exit 1",
                            ],
                            "Interval": 30000000000,
                            "Timeout": 5000000000,
                            "Retries": 3,
                        }
                        if healthy
                        else None,
                        "Image": image,
                        "Volumes": {"/var/lib/postgresql/data": {}} if service == "db" else None,
                        "WorkingDir": "/app" if service in ("api", "worker") else "",
                        "Entrypoint": entrypoint,
                        "OnBuild": None,
                        "Labels": {
                            "com.docker.compose.config-hash": hex_id(rng, 64),
                            "com.docker.compose.container-number": str(replica),
                            "com.docker.compose.depends_on": "db:service_healthy:false,cache:service_started:false"
                            if service in ("api", "worker")
                            else "",
                            "com.docker.compose.image": "sha256:" + hex_id(rng, 64),
                            "com.docker.compose.oneoff": "False",
                            "com.docker.compose.project": project,
                            "com.docker.compose.project.config_files": "/srv/shop/compose.yaml",
                            "com.docker.compose.project.working_dir": "/srv/shop",
                            "com.docker.compose.service": service,
                            "com.docker.compose.version": "2.24.6",
                        },
                        "StopSignal": "SIGQUIT" if service == "web" else None,
                    },
                    "NetworkSettings": {
                        "Bridge": "",
                        "SandboxID": hex_id(rng, 64),
                        "SandboxKey": f"/var/run/docker/netns/{hex_id(rng, 12)}",
                        "Ports": port_map,
                        "HairpinMode": False,
                        "LinkLocalIPv6Address": "",
                        "LinkLocalIPv6PrefixLen": 0,
                        "SecondaryIPAddresses": None,
                        "SecondaryIPv6Addresses": None,
                        "EndpointID": "",
                        "Gateway": "",
                        "GlobalIPv6Address": "",
                        "GlobalIPv6PrefixLen": 0,
                        "IPAddress": "",
                        "IPPrefixLen": 0,
                        "IPv6Gateway": "",
                        "MacAddress": "",
                        "Networks": {
                            f"{project}_default": {
                                "IPAMConfig": None,
                                "Links": None,
                                "Aliases": [name, service],
                                "MacAddress": "02:42:" + ":".join(hex_id(rng, 2) for _ in range(4)),
                                "NetworkID": network_id,
                                "EndpointID": hex_id(rng, 64),
                                "Gateway": "172.20.0.1",
                                "IPAddress": ip,
                                "IPPrefixLen": 16,
                                "IPv6Gateway": "",
                                "GlobalIPv6Address": "",
                                "GlobalIPv6PrefixLen": 0,
                                "DriverOpts": None,
                                "DNSNames": [name, service, container_id[:12]],
                            }
                        },
                    },
                }
            )
            # Go leaves out the members that its structs tag omitempty when they are empty.
            config = containers[-1]["Config"]
            for member in ("ExposedPorts", "Healthcheck", "StopSignal"):
                if config[member] is None:
                    del config[member]
    return containers
