#!/usr/bin/env bash
# Runs our FTP publish in the peer harness (lftp and rclone against pyftpdlib and vsftpd, with a
# 20 ms round trip in a network namespace for the -wan scenarios), once without and once with
# Turbo, and prints the harness's report. The harness's setup.sh must have run once (as root).
# The harness's folder is --peerbench DIR, else $PEERBENCH, else ../shared/peerbench beside the
# repository.
#
#   bench/ftp_vs_peers.sh [--peerbench DIR] [BUILD_DIR] [bench.py run options...]
#   e.g. bench/ftp_vs_peers.sh --peerbench ~/peerbench build --sizes 2000x100 --reps 3 --wan
# With VANTREL_CLIENT_LIBRARY=1 both runs are also made through the FTP client library's device
# (ours-cl, ours-cl-turbo).
set -euo pipefail
cd "$(dirname "$0")/.."
peerbench="${PEERBENCH:-$(pwd)/../shared/peerbench}"
if [ "${1:-}" = --peerbench ]; then
    [ $# -ge 2 ] || { echo "--peerbench needs a folder" >&2; exit 2; }
    peerbench="$(cd "$2" && pwd)"
    shift 2
fi
build=${1:-build}
shift || true
runner="$(pwd)/$build/bench/publish"
[ -x "$runner" ] || { echo "build first: $runner is missing" >&2; exit 1; }
[ -f "$peerbench/bench.py" ] || { echo "no peer harness at $peerbench" >&2; exit 1; }

out=$(mktemp --suffix=.jsonl)
# A web site's state is kept per tree and server, as each web site has its own definition.
common="$runner {src} ftp:{host}{remote} --user {user} --password {password} --port {port} --delete 1"
extra=()
if [ "${VANTREL_CLIENT_LIBRARY:-0}" = 1 ]; then
    extra=(--tool "ours-cl=$common --client-library --state {src}-{port}.cl.state --no-turbo > /dev/null"
           --tool "ours-cl-turbo=$common --client-library --state {src}-{port}.clturbo.state > /dev/null")
fi
cd "$peerbench"
/usr/bin/python3 bench.py run "$@" \
    --tool "ours=$common --state {src}-{port}.plain.state --no-turbo > /dev/null" \
    --tool "ours-turbo=$common --state {src}-{port}.turbo.state > /dev/null" \
    "${extra[@]}" \
    --out "$out"
/usr/bin/python3 bench.py report "$out"
