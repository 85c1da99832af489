#!/usr/bin/env bash
# Times our local publish against rsync on the same tree: an initial publish into an empty folder
# and a publish with nothing changed, three times each, and prints the medians.
#
#   bench/local_vs_rsync.sh [BUILD_DIR]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runner="$build/bench/publish"
[ -x "$runner" ] || { echo "build first: $runner is missing" >&2; exit 1; }
if ! command -v rsync > /dev/null; then
    sudo=$([ "$(id -u)" = 0 ] || echo sudo)
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get update -q > /dev/null
    $sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -q rsync > /dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 10,000 files in 500 folders (20 each, two levels deep), sizes from 100 bytes to about 40 KB.
python3 bench/make_tree.py "$work/src"

# Seconds of wall time of one command.
wall() {
    local start end
    start=$(date +%s%N)
    "$@" > /dev/null
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f", ns / 1e9 }'
}

median() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

# Peak resident memory (KB) of one command.
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 > /dev/null | tail -n 1; }

ours_initial=() ours_same=() rsync_initial=() rsync_same=()
for run in 1 2 3; do
    rm -rf "$work/ours" "$work/rsync"
    ours_initial+=("$(wall "$runner" "$work/src" "$work/ours" --delete 1)")
    ours_same+=("$(wall "$runner" "$work/src" "$work/ours" --delete 1)")
    rsync_initial+=("$(wall rsync -rt --delete "$work/src/" "$work/rsync/")")
    rsync_same+=("$(wall rsync -rt --delete "$work/src/" "$work/rsync/")")
done
diff -r "$work/src" "$work/ours" > /dev/null && echo "published tree matches the source"

printf 'initial publish:   ours %.3f s, rsync %.3f s\n' "$(median "${ours_initial[@]}")" \
    "$(median "${rsync_initial[@]}")"
printf 'no-change publish: ours %.3f s, rsync %.3f s\n' "$(median "${ours_same[@]}")" \
    "$(median "${rsync_same[@]}")"
if [ -x /usr/bin/time ]; then
    echo "peak memory of a no-change publish: $(peak_kb "$runner" "$work/src" "$work/ours") KB"
fi
