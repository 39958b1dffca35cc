# terraform show -json of a state: resources of several types with their attribute values,
# compact JSON written by Go.

import hashlib
import json
import random

from documents.values import (
    EPOCH,
    UPPER_DIGITS,
    hex_id,
    ipv4,
    pick,
    token,
    uuid4,
    zulu,
)


def terraform_show(rng: random.Random) -> dict:
    account = "".join(rng.choice("0123456789") for _ in range(12))
    region = "eu-west-1"
    provider = "registry.terraform.io/hashicorp/aws"
    resources = []

    def resource(
        address: str, kind: str, name: str, values: dict, index=None, depends=None
    ) -> None:
        entry = {"address": address, "mode": "managed", "type": kind, "name": name}
        if index is not None:
            entry["index"] = index
        entry |= {
            "provider_name": provider,
            "schema_version": 0 if kind != "aws_instance" else 1,
            "values": values,
            "sensitive_values": {
                key: ([] if type(value) is list else {})
                for key, value in values.items()
                if type(value) in (list, dict)
            },
        }
        if depends:
            entry["depends_on"] = depends
        resources.append(entry)

    default_tags = {"Project": "orbit", "ManagedBy": "terraform"}
    vpc_id = "vpc-" + hex_id(rng, 17)
    for n in range(3):
        zone = f"{region}{'abc'[n]}"
        subnet_id = "subnet-" + hex_id(rng, 17)
        tags = {"Name": f"orbit-private-{zone}", "Tier": "private"}
        resource(
            f'aws_subnet.private["{zone}"]',
            "aws_subnet",
            "private",
            {
                "arn": f"arn:aws:ec2:{region}:{account}:subnet/{subnet_id}",
                "assign_ipv6_address_on_creation": False,
                "availability_zone": zone,
                "availability_zone_id": f"euw1-az{n + 1}",
                "cidr_block": f"10.20.{n * 16}.0/20",
                "customer_owned_ipv4_pool": "",
                "enable_dns64": False,
                "enable_resource_name_dns_a_record_on_launch": False,
                "id": subnet_id,
                "ipv6_cidr_block": "",
                "map_public_ip_on_launch": False,
                "outpost_arn": "",
                "owner_id": account,
                "private_dns_hostname_type_on_launch": "ip-name",
                "tags": tags,
                "tags_all": tags | default_tags,
                "timeouts": None,
                "vpc_id": vpc_id,
            },
            index=zone,
        )
    for n in range(24):
        instance_id = "i-" + hex_id(rng, 17)
        ip = ipv4(rng, "10.20")
        tags = {"Name": f"orbit-worker-{n}", "Role": "worker"}
        resource(
            f"aws_instance.worker[{n}]",
            "aws_instance",
            "worker",
            {
                "ami": "ami-0" + hex_id(rng, 16),
                "arn": f"arn:aws:ec2:{region}:{account}:instance/{instance_id}",
                "associate_public_ip_address": False,
                "availability_zone": f"{region}{'abc'[n % 3]}",
                "cpu_core_count": 2,
                "cpu_threads_per_core": 2,
                "credit_configuration": [],
                "disable_api_stop": False,
                "disable_api_termination": False,
                "ebs_block_device": [],
                "ebs_optimized": True,
                "get_password_data": False,
                "hibernation": False,
                "host_id": "",
                "iam_instance_profile": "orbit-worker",
                "id": instance_id,
                "instance_state": "running",
                "instance_type": "m6i.large",
                "ipv6_address_count": 0,
                "ipv6_addresses": [],
                "key_name": "",
                "metadata_options": [
                    {
                        "http_endpoint": "enabled",
                        "http_protocol_ipv6": "disabled",
                        "http_put_response_hop_limit": 2,
                        "http_tokens": "required",
                        "instance_metadata_tags": "disabled",
                    }
                ],
                "monitoring": False,
                "primary_network_interface_id": "eni-" + hex_id(rng, 17),
                "private_dns": f"ip-{ip.replace('.', '-')}.{region}.compute.internal",
                "private_ip": ip,
                "public_dns": "",
                "public_ip": "",
                "root_block_device": [
                    {
                        "delete_on_termination": True,
                        "device_name": "/dev/xvda",
                        "encrypted": True,
                        "iops": 3000,
                        "kms_key_id": f"arn:aws:kms:{region}:{account}:key/{uuid4(rng)}",
                        "tags": {},
                        "throughput": 125,
                        "volume_id": "vol-" + hex_id(rng, 17),
                        "volume_size": pick(rng, [20, 50, 100]),
                        "volume_type": "gp3",
                    }
                ],
                "secondary_private_ips": [],
                "security_groups": [],
                "source_dest_check": True,
                "subnet_id": "subnet-" + hex_id(rng, 17),
                "tags": tags,
                "tags_all": tags | default_tags,
                "tenancy": "default",
                "timeouts": None,
                "user_data": hashlib.sha1(b"cloud-init").hexdigest(),
                "user_data_base64": None,
                "user_data_replace_on_change": False,
                "volume_tags": None,
                "vpc_security_group_ids": ["sg-" + hex_id(rng, 17)],
            },
            index=n,
            depends=["aws_iam_instance_profile.worker", "aws_subnet.private"],
        )
    for name in ("artifacts", "logs", "backups", "terraform-state"):
        bucket = f"orbit-{name}-{account}"
        resource(
            f'aws_s3_bucket.this["{name}"]',
            "aws_s3_bucket",
            "this",
            {
                "acceleration_status": "",
                "acl": None,
                "arn": f"arn:aws:s3:::{bucket}",
                "bucket": bucket,
                "bucket_domain_name": f"{bucket}.s3.amazonaws.com",
                "bucket_prefix": "",
                "bucket_regional_domain_name": f"{bucket}.s3.{region}.amazonaws.com",
                "cors_rule": [],
                "force_destroy": False,
                "grant": [
                    {
                        "id": hex_id(rng, 64),
                        "permissions": ["FULL_CONTROL"],
                        "type": "CanonicalUser",
                        "uri": "",
                    }
                ],
                "hosted_zone_id": "Z1BKCTXD74EZPE",
                "id": bucket,
                "lifecycle_rule": [],
                "logging": [],
                "object_lock_configuration": [],
                "object_lock_enabled": False,
                "policy": "",
                "region": region,
                "replication_configuration": [],
                "request_payer": "BucketOwner",
                "server_side_encryption_configuration": [
                    {
                        "rule": [
                            {
                                "apply_server_side_encryption_by_default": [
                                    {"kms_master_key_id": "", "sse_algorithm": "AES256"}
                                ],
                                "bucket_key_enabled": False,
                            }
                        ]
                    }
                ],
                "tags": {"Name": bucket},
                "tags_all": {"Name": bucket} | default_tags,
                "timeouts": None,
                "versioning": [{"enabled": name != "logs", "mfa_delete": False}],
                "website": [],
                "website_domain": None,
                "website_endpoint": None,
            },
            index=name,
        )
    policy = {
        "Version": "2012-10-17",
        "Statement": [
            {
                "Effect": "Allow",
                "Principal": {"Service": "ec2.amazonaws.com"},
                "Action": "sts:AssumeRole",
            }
        ],
    }
    resource(
        "aws_iam_role.worker",
        "aws_iam_role",
        "worker",
        {
            "arn": f"arn:aws:iam::{account}:role/orbit-worker",
            "assume_role_policy": json.dumps(policy, separators=(",", ":")),
            "create_date": zulu(EPOCH),
            "description": "Workers <-> S3 & SQS",
            "force_detach_policies": False,
            "id": "orbit-worker",
            "inline_policy": [],
            "managed_policy_arns": ["arn:aws:iam::aws:policy/AmazonSSMManagedInstanceCore"],
            "max_session_duration": 3600,
            "name": "orbit-worker",
            "name_prefix": "",
            "path": "/",
            "permissions_boundary": "",
            "tags": {},
            "tags_all": default_tags,
            "unique_id": "AROA" + token(rng, 17, UPPER_DIGITS),
        },
    )
    for n in range(30):
        host = f"{pick(rng, ['api', 'www', 'grafana', 'ci', 'status', 'mail'])}{n}.orbit.dev"
        resource(
            f'aws_route53_record.service["{host}"]',
            "aws_route53_record",
            "service",
            {
                "alias": [],
                "allow_overwrite": None,
                "cidr_routing_policy": [],
                "failover_routing_policy": [],
                "fqdn": host,
                "geolocation_routing_policy": [],
                "geoproximity_routing_policy": [],
                "health_check_id": "",
                "id": f"Z0{token(rng, 18, UPPER_DIGITS)}_{host}_CNAME",
                "latency_routing_policy": [],
                "multivalue_answer_routing_policy": False,
                "name": host,
                "records": [f"orbit-lb-{rng.randrange(10**9)}.{region}.elb.amazonaws.com"],
                "set_identifier": "",
                "timeouts": None,
                "ttl": 300,
                "type": "CNAME",
                "weighted_routing_policy": [],
                "zone_id": "Z0" + token(rng, 18, UPPER_DIGITS),
            },
            index=host,
        )
    outputs = {
        "vpc_id": {"sensitive": False, "value": vpc_id, "type": "string"},
        "worker_ips": {
            "sensitive": False,
            "value": [r["values"]["private_ip"] for r in resources if r["type"] == "aws_instance"],
            "type": ["list", "string"],
        },
        "db_password": {"sensitive": True, "type": "string"},
    }
    return {
        "format_version": "1.0",
        "terraform_version": "1.7.5",
        "values": {"outputs": outputs, "root_module": {"resources": resources}},
    }
