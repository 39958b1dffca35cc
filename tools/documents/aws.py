# aws ec2 describe-instances: reservations of instances with their tags, network interfaces and
# block devices, written by the AWS CLI (Python's json) with a four-space indent.

import random

from documents.values import (
    UPPER_DIGITS,
    after,
    chance,
    hex_id,
    ipv4,
    moment,
    pick,
    token,
    uuid4,
    zulu,
)


def aws_ec2_instances(rng: random.Random) -> dict:
    owner = "".join(rng.choice("0123456789") for _ in range(12))
    vpc = "vpc-" + hex_id(rng, 17)
    subnets = {
        zone: "subnet-" + hex_id(rng, 17) for zone in ("us-east-1a", "us-east-1b", "us-east-1c")
    }
    groups = [("web-sg", "sg-" + hex_id(rng, 17)), ("internal-sg", "sg-" + hex_id(rng, 17))]
    reservations = []
    for _ in range(33):
        launched = moment(rng, 300)
        instances = []
        kind = pick(rng, ["t3.medium", "m6i.large", "m6i.xlarge", "c6g.2xlarge", "r6i.large"])
        for index in range(rng.choice([1, 1, 1, 2, 3])):
            zone = pick(rng, list(subnets))
            private_ip = ipv4(rng, "172.31")
            private_dns = f"ip-{private_ip.replace('.', '-')}.ec2.internal"
            running = chance(rng, 0.85)
            public_ip = f"{rng.randrange(3, 54)}.{rng.randrange(256)}.{rng.randrange(256)}.{rng.randrange(1, 255)}"
            association = None
            if running and chance(rng, 0.6):
                association = {
                    "IpOwnerId": "amazon",
                    "PublicDnsName": f"ec2-{public_ip.replace('.', '-')}.compute-1.amazonaws.com",
                    "PublicIp": public_ip,
                }
            attached = zulu(launched).replace("Z", "+00:00")
            interface = {
                "Attachment": {
                    "AttachTime": attached,
                    "AttachmentId": "eni-attach-" + hex_id(rng, 17),
                    "DeleteOnTermination": True,
                    "DeviceIndex": 0,
                    "Status": "attached",
                    "NetworkCardIndex": 0,
                },
                "Description": "",
                "Groups": [{"GroupName": name, "GroupId": group_id} for name, group_id in groups],
                "Ipv6Addresses": [],
                "MacAddress": ":".join(hex_id(rng, 2) for _ in range(6)),
                "NetworkInterfaceId": "eni-" + hex_id(rng, 17),
                "OwnerId": owner,
                "PrivateDnsName": private_dns,
                "PrivateIpAddress": private_ip,
                "PrivateIpAddresses": [
                    {"Primary": True, "PrivateDnsName": private_dns, "PrivateIpAddress": private_ip}
                ],
                "SourceDestCheck": True,
                "Status": "in-use",
                "SubnetId": subnets[zone],
                "VpcId": vpc,
                "InterfaceType": "interface",
            }
            if association:
                interface = {"Association": association, **interface}
                interface["PrivateIpAddresses"][0] = {
                    "Association": association,
                    **interface["PrivateIpAddresses"][0],
                }
            name = f"{pick(rng, ['web', 'api', 'worker', 'batch'])}-{rng.randrange(1, 40):02d}"
            tags = [
                {"Key": "Name", "Value": name},
                {"Key": "Environment", "Value": pick(rng, ["production", "staging"])},
                {"Key": "Team", "Value": pick(rng, ["platform", "data", "payments"])},
            ]
            if chance(rng, 0.5):
                tags.append({"Key": "aws:autoscaling:groupName", "Value": f"{name[:-3]}-asg"})
            rng.shuffle(tags)
            volumes = [("/dev/xvda", True)] + [("/dev/sdf", False)] * chance(rng, 0.3)
            instance = {
                "AmiLaunchIndex": index,
                "ImageId": "ami-" + hex_id(rng, 17),
                "InstanceId": "i-" + hex_id(rng, 17),
                "InstanceType": kind,
                "KeyName": "ops-2023",
                "LaunchTime": attached,
                "Monitoring": {"State": "disabled"},
                "Placement": {"AvailabilityZone": zone, "GroupName": "", "Tenancy": "default"},
                "PrivateDnsName": private_dns,
                "PrivateIpAddress": private_ip,
                "ProductCodes": [],
                "PublicDnsName": association["PublicDnsName"] if association else "",
                "State": {"Code": 16, "Name": "running"}
                if running
                else {"Code": 80, "Name": "stopped"},
                "StateTransitionReason": ""
                if running
                else f"User initiated ({zulu(after(rng, launched, 500)).replace('T', ' ')[:-1]} GMT)",
                "SubnetId": subnets[zone],
                "VpcId": vpc,
                "Architecture": "arm64" if kind.startswith("c6g") else "x86_64",
                "BlockDeviceMappings": [
                    {
                        "DeviceName": device,
                        "Ebs": {
                            "AttachTime": attached,
                            "DeleteOnTermination": delete,
                            "Status": "attached",
                            "VolumeId": "vol-" + hex_id(rng, 17),
                        },
                    }
                    for device, delete in volumes
                ],
                "ClientToken": uuid4(rng),
                "EbsOptimized": kind != "t3.medium",
                "EnaSupport": True,
                "Hypervisor": "xen",
                "IamInstanceProfile": {
                    "Arn": f"arn:aws:iam::{owner}:instance-profile/{name[:-3]}-role",
                    "Id": "AIPA" + token(rng, 17, UPPER_DIGITS),
                },
                "NetworkInterfaces": [interface],
                "RootDeviceName": "/dev/xvda",
                "RootDeviceType": "ebs",
                "SecurityGroups": [{"GroupName": n, "GroupId": group_id} for n, group_id in groups],
                "SourceDestCheck": True,
                "Tags": tags,
                "VirtualizationType": "hvm",
                "CpuOptions": {"CoreCount": 2 if "xlarge" not in kind else 4, "ThreadsPerCore": 2},
                "CapacityReservationConfiguration": {"CapacityReservationPreference": "open"},
                "HibernationOptions": {"Configured": False},
                "MetadataOptions": {
                    "State": "applied",
                    "HttpTokens": pick(rng, ["required", "optional"]),
                    "HttpPutResponseHopLimit": 2,
                    "HttpEndpoint": "enabled",
                    "HttpProtocolIpv6": "disabled",
                    "InstanceMetadataTags": "disabled",
                },
                "EnclaveOptions": {"Enabled": False},
                "BootMode": "uefi-preferred",
                "PlatformDetails": "Linux/UNIX",
                "UsageOperation": "RunInstances",
                "UsageOperationUpdateTime": attached,
                "PrivateDnsNameOptions": {
                    "HostnameType": "ip-name",
                    "EnableResourceNameDnsARecord": False,
                    "EnableResourceNameDnsAAAARecord": False,
                },
                "MaintenanceOptions": {"AutoRecovery": "default"},
                "CurrentInstanceBootMode": "legacy-bios",
            }
            if chance(rng, 0.2):
                del instance["IamInstanceProfile"]
            if not running:
                instance["StateReason"] = {
                    "Code": "Client.UserInitiatedShutdown",
                    "Message": "Client.UserInitiatedShutdown: User initiated shutdown",
                }
            if association:
                instance["PublicIpAddress"] = public_ip
            instances.append(instance)
        reservations.append(
            {
                "Groups": [],
                "Instances": instances,
                "OwnerId": owner,
                "ReservationId": "r-" + hex_id(rng, 17),
                **({"RequesterId": "940372691376"} if chance(rng, 0.2) else {}),
            }
        )
    return {"Reservations": reservations}
