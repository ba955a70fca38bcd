#!/usr/bin/python3
"""zeltor-exporter's module replication against two Samba controllers that replicate with each
other, read beside samba-tool drs showrepl: the same naming contexts, partners, times, failure
counts and results, in steady state and with the partner unreachable; over several scrapes with
the right password no bad password is counted, and with a wrong one (scraped by the replication
and the counters alike) one per backoff.

The exporter runs in a mount namespace of its own whose /etc/hosts names the controllers, as the
probe's test does, so that it binds with Kerberos as it would in the domain."""

import os
import re
import subprocess
import sys
import time
import urllib.request

import replication_probe_test as repl
from replication_probe_test import A, B, SCRATCH, check, failures, nft, samba_tool, showrepl

EXPORTER = os.environ["ZELTOR_EXPORTER"]
LISTEN = "127.0.0.1:9762"
USER, PASSWORD = "zeltor-exp-repl", "Zeltor-Exp-Repl-Pa55!"
# Short enough to see a second try within the test, long enough to hold over several scrapes.
BACKOFF_SECONDS = 20
SERIES = re.compile(r'^(zeltor_\w+)\{([^}]*)\} (\S+)$')
LABEL = re.compile(r'(\w+)="((?:[^"\\]|\\.)*)"')


def scrape(auth, module="replication"):
    url = "http://%s/probe?target=%s&module=%s&auth=%s" % (LISTEN, A["host"], module, auth)
    with urllib.request.urlopen(url, timeout=30) as answer:
        return answer.read().decode()


def as_exporter_says(text):
    """(naming context, partner GUID) -> (last success, last attempt, failures, result), as
    showrepl's are compared; and each pair's result text."""
    values, texts = {}, {}
    for line in text.splitlines():
        found = SERIES.match(line)
        if not found or not found.group(1).startswith("zeltor_replication_"):
            continue
        labels = dict(LABEL.findall(found.group(2)))
        key = (labels["naming_context"], labels["partner_guid"])
        values.setdefault(key, {})[found.group(1)] = int(found.group(3))
        if found.group(1) == "zeltor_replication_last_result_info":
            texts[key] = labels["text"]
    return {key: (v.get("zeltor_replication_last_success_timestamp_seconds"),
                  v.get("zeltor_replication_last_attempt_timestamp_seconds"),
                  v["zeltor_replication_consecutive_failures"], v["zeltor_replication_last_result"])
            for key, v in values.items()}, texts


def compare():
    """The exporter's partners against showrepl's, scraped until two reads of showrepl around
    the scrape agree; returns the scrape's text and its result texts."""
    for _ in range(repl.COMPARE_ATTEMPTS):
        before = repl.as_showrepl_says(showrepl(A))
        text = scrape("good")
        after = repl.as_showrepl_says(showrepl(A))
        if before == after:
            break
    seen, texts = as_exporter_says(text)
    check("zeltor_probe_success 1" in text, "the scrape read the replication:\n" + text)
    check(seen == before, "the exporter says\n%s\nshowrepl says\n%s" % (seen, before))
    return text, texts


def directory(*args):
    """samba-tool's change or read of the first controller's directory, over LDAP."""
    return samba_tool(*args, "-H", "ldap://" + A["address"])


def bad_passwords():
    shown = directory("user", "show", USER, "--attributes=badPwdCount").stdout
    found = re.search(r"badPwdCount: (\d+)", shown)
    return int(found.group(1)) if found else 0


def start_exporter():
    for name, password in (("right", PASSWORD), ("wrong", "not-the-password")):
        path = os.path.join(SCRATCH, name)
        with open(path, "w") as f:
            f.write(password + "\n")
        os.chmod(path, 0o600)
    config = os.path.join(SCRATCH, "exporter.yml")
    with open(config, "w") as f:
        f.write("listen: %s\nrefused_logon_backoff_seconds: %d\nauths:\n" % (LISTEN, BACKOFF_SECONDS))
        for auth, file in (("good", "right"), ("bad", "wrong")):
            f.write("  %s:\n    user: '%s\\%s'\n    password_file: %s\n    targets: [%s]\n"
                    % (auth, A["domain"], USER, os.path.join(SCRATCH, file), A["host"]))
    log = open(os.path.join(SCRATCH, "exporter.log"), "w")
    exporter = subprocess.Popen(
        ["unshare", "--mount", "--propagation", "private", "--", "sh", "-c",
         'mount -n --bind "$1" /etc/hosts && shift && exec "$@"', "exporter", repl.HOSTS, "env",
         "KRB5_CONFIG=" + repl.KRB5_CONF, EXPORTER, "--config", config], stdout=log, stderr=log)
    for _ in range(50):
        try:
            urllib.request.urlopen("http://%s/-/ready" % LISTEN, timeout=2)
            return exporter
        except OSError:
            time.sleep(0.2)
    return exporter


def main():
    repl.write_names()
    directory("user", "create", USER, PASSWORD)
    directory("group", "addmembers", "Domain Admins", USER)
    # The directory counts bad passwords only where accounts can be locked out.
    directory("domain", "passwordsettings", "set", "--account-lockout-threshold=100")
    exporter = start_exporter()
    try:
        # Steady state: what showrepl says, over scrapes that send no bad password.
        bad_before = bad_passwords()
        text, texts = compare()
        partners = set(re.findall(r'partner="([^"]*)"', text))
        check(partners == {"Default-First-Site-Name\\\\DCB"}, "partners %s" % partners)
        check(len(texts) == 5 and set(texts.values()) == {""}, "five naming contexts, all well: %s" % texts)
        check("zeltor_replication_pending_operations 0" in text
              and "zeltor_directory_tombstone_lifetime_seconds 15552000" in text, "queue and lifetime:\n" + text)
        for _ in range(3):
            scrape("good")
            scrape("good", "dc")
        check(bad_passwords() == bad_before, "bad passwords %d, before %d" % (bad_passwords(), bad_before))

        # B unreachable and a pull forced: the failure and its text as showrepl says them.
        domain_nc = "DC=repl,DC=test"
        nft("add", "table", "inet", "zeltor_repl")
        try:
            nft("add", "chain", "inet", "zeltor_repl", "out", "{ type filter hook output priority 0; }")
            nft("add", "rule", "inet", "zeltor_repl", "out", "ip", "daddr", B["address"], "reject")
            samba_tool("drs", "replicate", A["address"], "DCB", domain_nc, allowed=(0, 1, 255))
            time.sleep(2)
            text, texts = compare()
            failing = [key for key in texts if key[0] == domain_nc]
            check(len(failing) == 1 and texts[failing[0]] != "", "the failing pull's text: %s" % texts)
        finally:
            nft("delete", "table", "inet", "zeltor_repl")
        repl.replicate_both_ways()
        text, texts = compare()
        check(set(texts.values()) == {""}, "replicated again: %s" % texts)

        # A wrong password: one bad password for the replication and the counters together
        # within a backoff, and one more after it.
        bad_before = bad_passwords()
        refused = scrape("bad")
        check("zeltor_probe_success 0" in refused and "zeltor_replication_read_success 0" in refused,
              "refused:\n" + refused)
        for _ in range(3):
            scrape("bad")
            scrape("bad", "dc")
        check(bad_passwords() == bad_before + 1, "one bad password a backoff: %d, before %d"
              % (bad_passwords(), bad_before))
        time.sleep(BACKOFF_SECONDS + 1)
        for _ in range(3):
            scrape("bad")
            scrape("bad", "dc")
        check(bad_passwords() == bad_before + 2, "one more after the backoff: %d, before %d"
              % (bad_passwords(), bad_before))
    finally:
        exporter.terminate()
        exporter.wait(timeout=30)
        directory("user", "delete", USER)
        directory("domain", "passwordsettings", "set", "--account-lockout-threshold=0")

    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
