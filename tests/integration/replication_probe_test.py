#!/usr/bin/python3
"""zeltor-probe --replication against two Samba controllers that replicate with each other, read
beside samba-tool drs showrepl: every naming context and inbound partner it lists, with the same
times, failure counts and results; then the second's packets rejected and a pull forced (the
failure appears as showrepl says it), and the pull again once it can be reached (success again).

The probe runs in a mount namespace of its own whose /etc/hosts names the controllers, so that
it finds them by name and binds with Kerberos as it would in the domain."""

import calendar
import json
import os
import subprocess
import sys
import tempfile
import time

from samba import credentials, param
from samba.samdb import SamDB

PROBE = os.environ["ZELTOR_PROBE"]
# The pulls showrepl and the probe are compared over: a replication may land between the two.
COMPARE_ATTEMPTS = 5


def state(variable):
    with open(os.environ[variable]) as f:
        return dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)


A = state("ZELTOR_REPL_A_STATE")
B = state("ZELTOR_REPL_B_STATE")
ADMIN = "Administrator%" + A["password"]
SCRATCH = tempfile.mkdtemp(prefix="zeltor-repl-test.")
EMPTY_CONF = os.path.join(SCRATCH, "empty.conf")
HOSTS = os.path.join(SCRATCH, "hosts")
KRB5_CONF = os.path.join(SCRATCH, "krb5.conf")
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAILED:", what, file=sys.stderr)


def samba_tool(*args, allowed=(0,)):
    result = subprocess.run(["samba-tool", *args, "-s", EMPTY_CONF, "-U", ADMIN, "--use-kerberos=off"],
                            capture_output=True, text=True, timeout=120)
    if result.returncode not in allowed:
        raise RuntimeError("samba-tool %s: %s%s" % (" ".join(args), result.stdout, result.stderr))
    return result


def showrepl(dc):
    return json.loads(samba_tool("drs", "showrepl", dc["address"], "--json").stdout)["repsFrom"]


def probe(dc, *options):
    """The probe's exit code and output for dc, the password on standard input."""
    command = ["unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
               'mount -n --bind "$1" /etc/hosts && shift && exec "$@"', "probe", HOSTS, "env",
               "KRB5_CONFIG=" + KRB5_CONF, PROBE, "--replication", "--user=%s\\Administrator" % A["domain"],
               "--password-stdin", *options, dc["host"]]
    result = subprocess.run(command, input=A["password"] + "\n", capture_output=True, text=True, timeout=60)
    return result.returncode, result.stdout, result.stderr


def probe_json(dc):
    code, out, err = probe(dc, "--format=json")
    return code, json.loads(out), err


def unix_of(text):
    """showrepl's time ("Thu Dec 10 09:04:21 2026 UTC", "NTTIME(0)" for never) as the probe's."""
    if text == "NTTIME(0)":
        return None
    return calendar.timegm(time.strptime(text, "%a %b %d %H:%M:%S %Y UTC"))


def result_of(message):
    """showrepl's "was successful" or "failed, result 1225 (WERR_...)" as the Win32 code."""
    return 0 if message == "was successful" else int(message.split("result ")[1].split(" ")[0])


def as_showrepl_says(reps):
    return {(r["NC dn"], r["DSA objectGUID"]): (unix_of(r["last success"]), unix_of(r["last attempt time"]),
                                                r["consecutive failures"], result_of(r["last attempt message"]))
            for r in reps}


def as_probe_says(answer):
    return {(n["naming_context"], n["partner_guid"]): (n["last_success"], n["last_attempt"],
                                                       n["consecutive_failures"], n["last_result"])
            for n in answer["neighbors"]}


def compare(dc):
    """The probe's neighbours against showrepl's, read until two reads of showrepl around the
    probe's agree; returns the probe's answer and exit code."""
    for _ in range(COMPARE_ATTEMPTS):
        before = as_showrepl_says(showrepl(dc))
        code, answer, err = probe_json(dc)
        after = as_showrepl_says(showrepl(dc))
        if before == after:
            break
    check(answer.get("read") is True, "%s read: %s %s" % (dc["host"], answer, err))
    seen = as_probe_says(answer)
    check(seen == before, "%s: the probe says\n%s\nshowrepl says\n%s" % (dc["host"], seen, before))
    return code, answer


def tombstone_lifetime(dc):
    lp = param.LoadParm()
    lp.load(EMPTY_CONF)
    creds = credentials.Credentials()
    creds.guess(lp)
    creds.set_username("Administrator")
    creds.set_password(dc["password"])
    creds.set_kerberos_state(credentials.DONT_USE_KERBEROS)
    samdb = SamDB(url="ldap://" + dc["address"], credentials=creds, lp=lp)
    found = samdb.search(base="CN=Directory Service,CN=Windows NT,CN=Services," +
                         str(samdb.get_config_basedn()), scope=0, attrs=["tombstoneLifetime"])
    return int(found[0]["tombstoneLifetime"][0]) if "tombstoneLifetime" in found[0] else None


def nft(*rule):
    subprocess.run(["nft", *rule], check=True, timeout=30)


def replicate_both_ways():
    """Every naming context pulled both ways. After a partner was unreachable, the controllers'
    own schedules may have tried any of them meanwhile (the partner's answers were rejected too);
    the tests after this one start from a pair that replicates."""
    base = "DC=" + A["realm"].lower().replace(".", ",DC=")
    for nc in (base, "CN=Configuration," + base, "CN=Schema,CN=Configuration," + base,
               "DC=DomainDnsZones," + base, "DC=ForestDnsZones," + base):
        samba_tool("drs", "replicate", A["address"], B["host"].split(".")[0], nc)
        samba_tool("drs", "replicate", B["address"], A["host"].split(".")[0], nc)


def write_names():
    """samba-tool's empty configuration, and the hosts file and Kerberos configuration the
    programs under test find the controllers by."""
    open(EMPTY_CONF, "w").close()
    with open(HOSTS, "w") as f:
        f.write("127.0.0.1 localhost\n%s %s\n%s %s\n" % (A["address"], A["host"], B["address"], B["host"]))
    with open(KRB5_CONF, "w") as f:
        f.write("[libdefaults]\n rdns = false\n dns_lookup_kdc = false\n")


def main():
    write_names()

    # Steady state: each lists the other for every naming context, as showrepl does.
    guid_of_b = None
    for dc, other in ((A, B), (B, A)):
        code, answer = compare(dc)
        check(code == 0, "%s: exit %d with every pull successful" % (dc["host"], code))
        partners = {n["partner"] for n in answer["neighbors"]}
        check(partners == {"Default-First-Site-Name\\" + other["host"].split(".")[0].upper()},
              "%s: partners %s" % (dc["host"], partners))
        check(len(answer["neighbors"]) == 5, "%s: five naming contexts: %s" % (dc["host"], answer["neighbors"]))
        check(answer["pending_operations"] == 0, "%s: pending %s" % (dc["host"], answer["pending_operations"]))
        lifetime = tombstone_lifetime(dc)
        check(answer["tombstone_lifetime_days"] == (lifetime or 60) and answer["tombstone_lifetime_set"] == (
            lifetime is not None), "%s: tombstone %s, the directory says %s" % (dc["host"], answer, lifetime))
        if dc is A:
            guid_of_b = answer["neighbors"][0]["partner_guid"]
    code, out, _ = probe(A, "--format=table")
    check(code == 0 and out.startswith("Replication of %s: ok, 1 partner\n" % A["host"]), "table:\n" + out)
    code, out, _ = probe(A, "--format=prometheus")
    check('zeltor_replication_consecutive_failures{instance="%s",naming_context="%s"' % (A["host"], "DC=repl,DC=test")
          in out and "zeltor_directory_tombstone_lifetime_seconds" in out, "prometheus:\n" + out)

    # B unreachable: its packets rejected, a pull of the domain forced on A.
    domain_nc = "DC=repl,DC=test"
    nft("add", "table", "inet", "zeltor_repl")
    try:
        nft("add", "chain", "inet", "zeltor_repl", "out", "{ type filter hook output priority 0; }")
        nft("add", "rule", "inet", "zeltor_repl", "out", "ip", "daddr", B["address"], "reject")
        pulled = samba_tool("drs", "replicate", A["address"], B["host"].split(".")[0], domain_nc, allowed=(0, 1, 255))
        check(pulled.returncode != 0, "the forced pull failed: " + pulled.stdout + pulled.stderr)
        time.sleep(2)
        code, answer = compare(A)
        check(code == 9, "exit %d with a failing partner" % code)
        failing = [n for n in answer["neighbors"] if n["naming_context"] == domain_nc]
        check(len(failing) == 1 and failing[0]["consecutive_failures"] >= 1 and failing[0]["last_result"] != 0
              and failing[0]["partner_guid"] == guid_of_b, "failing: %s" % failing)
        if failing:
            text = failing[0]["last_result_text"]
            check(text != "" and answer["summary"].startswith("DCB failing for "),
                  "summary %s, text %s" % (answer["summary"], text))
            code, out, _ = probe(A, "--format=nagios", "-w", "0", "-c", "1")
            # The domain's naming context among those failing: the others may still fail from
            # an earlier test's rejection, until A's next scheduled pull of each.
            check(code == 2 and out.startswith("ZELTOR CRITICAL - ")
                  and "Default-First-Site-Name\\DCB " + domain_nc + " failing for" in out and text in out,
                  "nagios %d: %s" % (code, out))
            code, out, _ = probe(A, "--format=nagios")
            check(code == 0 and out.startswith("ZELTOR OK - DCB failing for"),
                  "nagios with the default ranges %d: %s" % (code, out))
    finally:
        nft("delete", "table", "inet", "zeltor_repl")

    # Reachable again and pulled: success, as showrepl says.
    replicate_both_ways()
    code, answer = compare(A)
    check(code == 0, "exit %d once replicated again" % code)
    again = [n for n in answer["neighbors"] if n["naming_context"] == domain_nc]
    check(len(again) == 1 and again[0]["consecutive_failures"] == 0 and again[0]["last_result"] == 0,
          "after the pull: %s" % again)

    # A wrong password: the logon refused, said so, exit 4.
    command = ["env", PROBE, "--replication", "--user=%s\\Administrator" % A["domain"], "--password-stdin",
               "--format=json", A["address"]]
    result = subprocess.run(command, input="wrong\n", capture_output=True, text=True, timeout=60)
    refused = json.loads(result.stdout)
    check(result.returncode == 4 and refused["read"] is False and refused["refused_logon"] is True,
          "wrong password %d: %s %s" % (result.returncode, result.stdout, result.stderr))

    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
