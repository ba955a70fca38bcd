#!/usr/bin/env bash
# Prints the URI of the package archive this machine's apt takes SUITE from (the first enabled
# "deb" entry of its sources that serves SUITE), so that the tools use the machine's own mirror
# and the project names none. Prints nothing, and fails, when apt has no such entry.
# Usage: tools/apt-mirror.sh [SUITE]   (default bookworm)
#        APT_SOURCES="FILE..." overrides the files read (for tests).
set -euo pipefail
suite=${1:-bookworm}
if [ -n "${APT_SOURCES:-}" ]; then
    read -r -a files <<<"$APT_SOURCES"
else
    files=(/etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources)
fi

for f in "${files[@]}"; do
    [ -r "$f" ] || continue
    case $f in
    *.sources)
        # deb822: stanzas separated by blank lines; field names are case-insensitive.
        uri=$(awk -v suite="$suite" '
            function flush() {
                if (types ~ /(^| )deb( |$)/ && enabled != "no" && (" " suites " ") ~ (" " suite " ") && uris != "") {
                    split(uris, u, " "); print u[1]; found = 1; exit
                }
                types = ""; suites = ""; uris = ""; enabled = ""
            }
            /^[ \t]*#/ { next }
            /^[ \t]*$/ { flush(); next }
            {
                line = $0
                key = tolower(line); sub(/:.*/, "", key)
                value = line; sub(/^[^:]*:[ \t]*/, "", value); gsub(/[ \t]+/, " ", value); sub(/ $/, "", value)
                if (key == "types") types = value
                else if (key == "suites") suites = value
                else if (key == "uris") uris = value
                else if (key == "enabled") enabled = tolower(value)
            }
            END { if (!found) flush() }' "$f")
        ;;
    *)
        # One line per entry: deb [options] URI SUITE COMPONENT...
        uri=$(awk -v suite="$suite" '
            $1 != "deb" { next }
            {
                i = 2
                if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
                if ($(i + 1) == suite) { print $i; exit }
            }' "$f")
        ;;
    esac
    if [ -n "$uri" ]; then
        printf '%s\n' "$uri"
        exit 0
    fi
done
echo "apt-mirror: no apt source of this machine serves $suite" >&2
exit 1
