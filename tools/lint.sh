#!/usr/bin/env bash
# The sources' lint, clean or failing:
#   format  every tracked .c, .cpp and .h laid out as .clang-format says (clang-format --dry-run);
#   tidy    clang-tidy's checks of .clang-tidy, every finding an error, over every source of the
#           Linux build (build/compile_commands.json), and over the Win32 sources (platform/win32,
#           tests/wine) through a MinGW build's compile database (build-lint-mingw/, configured
#           only, never built); headers of the project's folders are checked within them. A whole
#           run that is clean on a checkout without changes records its commit in
#           tools/tidy-clean-at.
#   changed the same checks over the sources that differ from the commit tools/tidy-clean-at
#           names, or include a header that does (the Linux build's dependencies, so after a
#           build; the preprocessor's for the Win32 sources); every source when .clang-tidy
#           changed or that commit is not in the history.
# clang-tidy runs two sources at a time. A source whose compile command, preprocessed text (comments
# kept, so a NOLINT counts) and checks are those of an earlier clean check is not checked again:
# its key is kept in build/lint-cache/.
#
#   tools/lint.sh [format|tidy|changed] [REGEX]   (none: format and tidy; REGEX: only the
#                                                  sources whose path it matches)
#
# Exits 0 when clean, 1 on a finding, 2 when it cannot run. Environment: LINT_JOBS (2),
# ZELTOR_BUILD (build), ZELTOR_LINT_MINGW_BUILD (build-lint-mingw).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELTOR_BUILD:-$root/build}
mingw_build=${ZELTOR_LINT_MINGW_BUILD:-$root/build-lint-mingw}
jobs=${LINT_JOBS:-2}
what=${1:-all}
only=${2:-.}
case "$what" in all | format | tidy | changed) ;; *) echo "usage: tools/lint.sh [format|tidy|changed] [REGEX]" >&2; exit 2 ;; esac

for tool in clang-format clang-tidy cmake python3 sha256sum; do
    command -v "$tool" >/dev/null || { echo "lint: $tool is missing (tools/install-deps.sh test installs it)" >&2; exit 2; }
done
cd "$root"

# The project's own folders: what is checked, and whose headers' findings count.
folders='app|bench|controls|directory|exporter|framework|fuzz|perf|perfd|platform|probe|res|tests'
status=0

if [ "$what" = all ] || [ "$what" = format ]; then
    # clang-format's -Werror stops at the first file that differs; without it, each is named.
    layout=$(mktemp)
    if git rev-parse --git-dir >/dev/null 2>&1; then
        git ls-files -z -- '*.c' '*.cpp' '*.h'
    else
        find . -path './build*' -prune -o -type f \( -name '*.c' -o -name '*.cpp' -o -name '*.h' \) -print0
    fi | { grep -z -E -- "$only" || true; } | xargs -0 -r -n 40 -P "$jobs" clang-format --dry-run >"$layout" 2>&1
    if grep -q ': warning: ' "$layout"; then
        head -n 100 "$layout"
        echo "lint: format: $(grep -E '^[^:]+:[0-9]+:[0-9]+: warning: ' "$layout" | cut -d: -f1 | sort -u | wc -l) files are not laid out as .clang-format says (clang-format -i FILE mends one)"
        status=1
    fi
    rm -f "$layout"
fi
[ "$what" = format ] && exit "$status"

# The compile databases: the Linux build's, and the MinGW one's for the Win32 sources alone.
if [ ! -f "$build/compile_commands.json" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null ||
        { echo "lint: cannot configure $build" >&2; exit 2; }
fi
mingw=x86_64-w64-mingw32-g++-posix
if command -v "$mingw" >/dev/null; then
    if [ ! -f "$mingw_build/compile_commands.json" ]; then
        cmake -S . -B "$mingw_build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
            -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null ||
            { echo "lint: cannot configure $mingw_build" >&2; exit 2; }
    fi
else
    echo "lint: $mingw is missing: the Win32 sources are not checked (tools/install-deps.sh test installs it)" >&2
    status=1
fi

cache=$build/lint-cache
mkdir -p "$cache"
# What every key holds besides the source: the tool's version and the checks.
stamp=$( { clang-tidy --version; cat .clang-tidy; } | sha256sum | cut -c1-64)

# One line per source to check: its database, its folder and its compile command, tab-separated.
list=$(mktemp)
changed=$(mktemp)
trap 'rm -f "$list" "$changed"' EXIT
# The commit the whole tree was last clean at, and the files changed since (committed or not).
clean_at_file=tools/tidy-clean-at
clean_at=
[ ! -f "$clean_at_file" ] || clean_at=$(sed -n 's/^\([0-9a-f]\{40\}\)$/\1/p' "$clean_at_file" | head -n 1)
if [ "$what" = changed ]; then
    if [ -n "$clean_at" ] && git cat-file -e "$clean_at^{commit}" 2>/dev/null; then
        { git diff --name-only "$clean_at" -- && git ls-files --others --exclude-standard; } >"$changed"
        if grep -qx '.clang-tidy' "$changed"; then
            echo "lint: changed: .clang-tidy changed since $clean_at: every source is checked"
            what=tidy
        fi
    else
        echo "lint: changed: ${clean_at:-no commit} ($clean_at_file) is not in this history: every source is checked"
        what=tidy
    fi
fi

python3 - "$root" "$build" "$mingw_build" "$folders" "$only" "$what" "$changed" >"$list" <<'EOF'
import json, os, re, shlex, subprocess, sys
root, build, mingw_build, folders, only, what, changed_path = sys.argv[1:]
changed = {os.path.join(root, line) for line in open(changed_path).read().split()}


def linux_dependencies():
    """Each built source's files, from the Linux build's ninja log of dependencies."""
    found, source = {}, None
    out = subprocess.run(["ninja", "-C", build, "-t", "deps"], capture_output=True, text=True).stdout
    for line in out.splitlines():
        if line and not line[0].isspace():
            source = None
        elif line.strip():
            path = os.path.normpath(os.path.join(build, line.strip()))
            if source is None:  # a record's first file is its source
                source = path
                found[source] = set()
            found[source].add(path)
    return found


def preprocessor_dependencies(directory, args):
    """The files a source includes, but the system's, from its compiler's preprocessor."""
    kept, skip = [], False
    for a in args:
        if skip:
            skip = False
        elif a == "-o":
            skip = True
        elif a != "-c" and not a.startswith("-o"):
            kept.append(a)
    out = subprocess.run(kept + ["-MM", "-MG"], cwd=directory, capture_output=True, text=True)
    if out.returncode != 0:
        return None
    words = out.stdout.replace("\\\n", " ").split()[1:]
    return {os.path.normpath(os.path.join(directory, w)) for w in words}


linux_deps = linux_dependencies() if what == "changed" else {}


def needs_check(db, directory, source, args):
    if what != "changed":
        return True
    if not changed:
        return False
    deps = linux_deps.get(source) if db == build else preprocessor_dependencies(directory, args)
    # A source with no record of what it includes (not built yet) is checked.
    return deps is None or source in changed or not changed.isdisjoint(deps)


own = re.compile(r"^" + re.escape(root) + r"/(" + folders + r")/")
win32 = re.compile(r"^" + re.escape(root) + r"/(platform/win32|tests/wine)/")
for db, keep in ((build, lambda f: not win32.match(f)), (mingw_build, lambda f: bool(win32.match(f)))):
    path = os.path.join(db, "compile_commands.json")
    if not os.path.exists(path):
        continue
    for entry in json.load(open(path)):
        source = os.path.normpath(os.path.join(entry["directory"], entry["file"]))
        # C and C++ alone: a MinGW build's database also lists its resource scripts (windres).
        if own.match(source) and keep(source) and source.endswith((".c", ".cpp")) and re.search(only, source):
            args = entry.get("arguments") or shlex.split(entry["command"])
            if not needs_check(db, entry["directory"], source, args):
                continue
            print("\t".join([db, entry["directory"], source, shlex.join(args)]))
EOF

check_one() {
    local db=$1 directory=$2 source=$3 command=$4
    local -a args extra=()
    eval "args=($command)"
    # The MinGW compiler's C++ library, which clang does not find beside a "12-posix" GCC.
    if [[ $db == "$mingw_build" ]]; then
        local gcc
        gcc=$(dirname "$("${args[0]}" -print-libgcc-file-name)")/include
        extra=(--extra-arg=-isystem"$gcc/c++" --extra-arg=-isystem"$gcc/c++/x86_64-w64-mingw32"
            --extra-arg=-isystem"$gcc/c++/backward")
    fi
    # The preprocessed text with its comments, from the compile command without its output.
    local -a pre=()
    local skip=0 a
    for a in "${args[@]}"; do
        if ((skip)); then skip=0; continue; fi
        case "$a" in -o) skip=1 ;; -c) ;; -o*) ;; *) pre+=("$a") ;; esac
    done
    local key
    key=$( { echo "$stamp $command"; (cd "$directory" && "${pre[@]}" -E -C 2>&1); } | sha256sum | cut -c1-64)
    [ -f "$cache/$key" ] && return 0
    local out
    if out=$(clang-tidy -p "$db" --quiet --warnings-as-errors='*' --header-filter="^$root/($folders)/" \
        "${extra[@]}" "$source" 2>&1); then
        touch "$cache/$key"
    else
        printf '%s\n' "$out" | grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$|^Suppressed [0-9]+ warnings|^Use -header-filter|^[0-9]+ warnings? treated as errors$'
        return 1
    fi
}
export -f check_one
export root stamp cache folders mingw_build

count=$(wc -l <"$list")
started=$(date +%s)
if ! tr '\n' '\0' <"$list" | xargs -0 -P "$jobs" -I{} bash -c 'IFS=$'"'\t'"' read -r db dir src cmd <<<"$1"; check_one "$db" "$dir" "$src" "$cmd"' _ {}; then
    echo "lint: tidy: findings above ($count sources, $(($(date +%s) - started)) s)"
    exit 1
fi
if [ "$what" = changed ]; then
    echo "lint: changed: $count sources differ from $clean_at or include a file that does; clean ($(($(date +%s) - started)) s)"
else
    echo "lint: tidy: $count sources clean ($(($(date +%s) - started)) s)"
    # Every source, on a checkout without changes: the commit the next "changed" runs start from.
    if [ "$status" -eq 0 ] && [ "$only" = . ] && [ -z "$(git status --porcelain --untracked-files=no 2>/dev/null)" ]; then
        head=$(git rev-parse HEAD)
        if [ "$head" != "$clean_at" ]; then
            printf '%s\n' "$head" >"$clean_at_file"
            echo "lint: tidy: $clean_at_file now names $head: commit it"
        fi
    fi
fi
exit "$status"
