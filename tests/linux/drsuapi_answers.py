#!/usr/bin/python3
"""Answers of DsReplicaGetInfo as Samba's own marshalling writes them (python3-samba), into the
directory given: what a controller may send, for the client's reading of them.

  neighbours.bin  two neighbours: one with every field, one with no texts and no times
  denied.bin      the neighbours refused: no information, result 8453
  pending.bin     two pending operations with their texts
  idle.bin        no pending operation"""

import os
import sys

from samba import ndr
from samba.dcerpc import drsuapi, misc

NC = "DC=example,DC=com"
DSA = "CN=NTDS Settings,CN=DC2,CN=Servers,CN=Site,CN=Sites,CN=Configuration," + NC
GUID = "8bf9dd8c-2ec0-4ba6-908f-1197c658d88e"


def answer(info_type, info, result=0):
    call = drsuapi.DsReplicaGetInfo()
    call.out_info_type = info_type
    call.out_info = info
    call.result = result
    return ndr.ndr_pack_out(call)


def neighbours():
    full = drsuapi.DsReplicaNeighbour()
    full.naming_context_dn = NC
    full.source_dsa_obj_dn = DSA
    full.source_dsa_address = GUID + "._msdcs.example.com"
    full.transport_obj_dn = "CN=IP,CN=Inter-Site Transports,CN=Sites,CN=Configuration," + NC
    full.naming_context_obj_guid = misc.GUID("11111111-2222-3333-4444-555555555555")
    full.source_dsa_obj_guid = misc.GUID(GUID)
    full.tmp_highest_usn = 4100
    full.highest_usn = 4099
    full.last_success = 133000000000000000
    full.last_attempt = 133000000100000000
    full.result_last_attempt = 1722
    full.consecutive_sync_failures = 3
    empty = drsuapi.DsReplicaNeighbour()
    ctr = drsuapi.DsReplicaNeighbourCtr()
    ctr.count = 2
    ctr.array = [full, empty]
    return ctr


def operations(count):
    ctr = drsuapi.DsReplicaOpCtr()
    ctr.time = 133000000000000000
    ctr.count = count
    ops = []
    for i in range(count):
        op = drsuapi.DsReplicaOp()
        op.operation_start = 133000000000000000 + i
        op.serial_num = i + 1
        op.priority = 10
        op.operation_type = drsuapi.DRSUAPI_DS_REPLICA_OP_TYPE_SYNC
        op.nc_dn = NC
        op.remote_dsa_obj_dn = DSA
        op.remote_dsa_address = GUID + "._msdcs.example.com"
        op.nc_obj_guid = misc.GUID("11111111-2222-3333-4444-555555555555")
        op.remote_dsa_obj_guid = misc.GUID(GUID)
        ops.append(op)
    ctr.array = ops
    return ctr


def main(directory):
    files = {
        "neighbours.bin": answer(drsuapi.DRSUAPI_DS_REPLICA_INFO_NEIGHBORS, neighbours()),
        "denied.bin": answer(drsuapi.DRSUAPI_DS_REPLICA_INFO_NEIGHBORS, None, 8453),
        "pending.bin": answer(drsuapi.DRSUAPI_DS_REPLICA_INFO_PENDING_OPS, operations(2)),
        "idle.bin": answer(drsuapi.DRSUAPI_DS_REPLICA_INFO_PENDING_OPS, operations(0)),
    }
    for name, data in files.items():
        with open(os.path.join(directory, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv[1])
