#!/usr/bin/env bash
# A domain controller whose clock runs 7 minutes ahead (run_samba_dc.sh under faketime), in
# network and mount namespaces of its own: zeltor-probe --health reads an offset of about 420 s,
# fails the time check and says it in words (as the overview's Health column does), the exporter's
# module health gives the same offset, and the shipped alert fires on the value it gave (promtool).
#
#   clock_ahead_test.sh PROBE EXPORTER SOURCE_DIR
#
# Needs root; prints one line per check ("ok - ..." / "not ok - ...").
set -euo pipefail
if [ -z "${ZELTOR_CLOCK_AHEAD_NS:-}" ]; then
    exec env ZELTOR_CLOCK_AHEAD_NS=1 unshare --net --mount \
        bash -c 'ip link set lo up && exec "$0" "$@"' "$0" "$@"
fi
probe=$1 exporter=$2 source=$3

scratch=$(mktemp -d /tmp/zeltor-clock-ahead.XXXXXX)
state=$scratch/dc.state
exporter_pid=
cleanup() {
    [ -z "$exporter_pid" ] || kill "$exporter_pid" 2>/dev/null || true
    "$source/tests/integration/run_samba_dc.sh" stop "$state" > /dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
ZELTOR_DC_CLOCK_AHEAD=7m "$source/tests/integration/run_samba_dc.sh" start "$state" > /dev/null
value() { sed -n "s/^$1=//p" "$state"; }
host=$(value host)
{ cat /etc/hosts; echo "$(value address) $host"; } > "$scratch/hosts"
mount -n --bind "$scratch/hosts" /etc/hosts
# The reverse name of loopback is localhost, which GSSAPI would ask a ticket for.
printf '[libdefaults]\n rdns = false\n' > "$scratch/krb5.conf"
export KRB5_CONFIG=$scratch/krb5.conf
value password > "$scratch/password"
chmod 600 "$scratch/password"
user="$(value domain)\\$(value user)"

# The probe: a failed check is its exit code 8.
status=0
"$probe" --health -u "$user" --password-file="$scratch/password" -f json "$host" > "$scratch/probe.json" || status=$?
"$probe" --health -u "$user" --password-file="$scratch/password" -f nagios -w 60 -c 240 "$host" \
    > "$scratch/nagios.txt" || true

# The exporter's module health, scraped once.
cat > "$scratch/exporter.yml" << YAML
listen: 127.0.0.1:9755
auths:
  admin:
    user: '$user'
    password_file: $scratch/password
    targets: [$host]
YAML
"$exporter" --config "$scratch/exporter.yml" > "$scratch/exporter.log" 2>&1 &
exporter_pid=$!
for ((i = 0; i < 50; i++)); do curl -sf http://127.0.0.1:9755/-/ready > /dev/null && break; sleep 0.2; done
curl -sf "http://127.0.0.1:9755/probe?target=$host&module=health&auth=admin" > "$scratch/exporter.prom" || true

python3 - "$scratch" "$status" "$source" "$host" << 'PYTHON'
import json, re, subprocess, sys
scratch, status, source, host = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
failures = 0
def check(passed, what):
    global failures
    print(("ok - " if passed else "not ok - ") + what, flush=True)
    failures += 0 if passed else 1

report = json.load(open(f"{scratch}/probe.json"))
checks = {c["check"]: c for c in report["checks"]}
offset = report["clock_offset_seconds"]
print(f"# probe: {report['summary']}; offset {offset}")
check(status == 8, f"the probe's exit code says a check failed ({status})")
check(offset is not None and 400 < offset < 440, f"the probe reads the clock about 420 s ahead ({offset})")
check(not checks["time"]["success"] and "7 min ahead" in checks["time"]["detail"],
      f"the time check fails, past Kerberos' skew: {checks['time']['detail']}")
check("clock 7 min ahead" in report["summary"], f"the summary says it in words: {report['summary']}")
check(checks["ldap"]["success"], "LDAP itself answers")
nagios = open(f"{scratch}/nagios.txt").read()
check(nagios.startswith("ZELTOR CRITICAL - ") and "clock 7 min ahead" in nagios, f"the plugin: {nagios.strip()}")

text = open(f"{scratch}/exporter.prom").read()
found = re.search(r"^zeltor_directory_clock_offset_seconds (\S+)$", text, re.M)
exported = float(found.group(1)) if found else None
check(exported is not None and 400 < exported < 440, f"the exporter gives the offset ({exported})")
check('zeltor_health_check_success{check="time"} 0' in text, "the exporter's time check fails")
if exported is None:
    sys.exit(1)

# The shipped alert on that value: pending for 2 minutes, then firing.
description = ("The clock of dc (its rootDSE's currentTime) differs from the exporter's by more than 2 minutes; "
               "at 5 Kerberos refuses its tickets. Check the controller's time source (the PDC emulator's, or its "
               "NTP server), and the exporter's.")
quoted = lambda s: "'" + s.replace("'", "''") + "'"
with open(f"{scratch}/rules_test.yml", "w") as out:
    out.write(f"""rule_files:
  - {source}/exporter/rules/zeltor-recording.rules.yml
  - {source}/exporter/rules/zeltor-alerts.rules.yml
evaluation_interval: 1m
tests:
  - interval: 1m
    input_series:
      - series: 'zeltor_directory_clock_offset_seconds{{job="zeltor_health",instance="dc"}}'
        values: '{exported!r}x5'
    alert_rule_test:
      - alertname: ZeltorClockOffset
        eval_time: 1m
      - alertname: ZeltorClockOffset
        eval_time: 3m
        exp_alerts:
          - exp_labels: {{ severity: warning, job: zeltor_health, instance: dc }}
            exp_annotations:
              summary: {quoted(f"dc: its clock is {exported:.0f} s off this machine's")}
              description: {quoted(description)}
""")
rules = subprocess.run(["promtool", "test", "rules", f"{scratch}/rules_test.yml"], capture_output=True, text=True)
check(rules.returncode == 0, "ZeltorClockOffset fires on the exporter's value after 2 minutes\n" + rules.stdout + rules.stderr)
sys.exit(1 if failures else 0)
PYTHON
