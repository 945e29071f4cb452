#!/usr/bin/env bash
# Bringing a copy of a large tree up to date when a few files changed:
# kestrix-ftp mirror --only-newer (and -R) against lftp's mirror --only-newer
# on the same server, side by side.
#
# The tree has FILES small files in FOLDERS folders; before every round
# CHANGED of them are rewritten (another size, a newer time) on the source
# side, and each client starts from its own copy of the old tree. What is timed
# is the whole run: listing both trees (the preview) and moving the changed
# files. Every result is compared with its source, so a wrong mirror never
# counts as a fast one. Ratios are kestrix-ftp / lftp (lower is better).
#
# Usage: bench/mirror_bench.sh [--runs N] [--files N] [--folders N]
#            [--changed N] [--reply-delay MS] [--build-dir DIR]
# --reply-delay MS: both clients reach the server through
# tests/support/delay_proxy.py, which holds each control reply back MS
# milliseconds, as a distant server would.
set -euo pipefail

runs=3
files=10000
folders=100
changed=100
reply_delay=0
build_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --files) files="$2"; shift 2 ;;
    --folders) folders="$2"; shift 2 ;;
    --changed) changed="$2"; shift 2 ;;
    --reply-delay) reply_delay="$2"; shift 2 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${build_dir:-$repo/build-enginebench}"
missing=()
command -v lftp >/dev/null || missing+=(lftp)
/usr/bin/python3 -c 'import pyftpdlib' 2>/dev/null || missing+=(python3-pyftpdlib)
# shellcheck source=install_tools.sh
source "$repo/bench/install_tools.sh"
install_missing_packages "${missing[@]}"

echo "Building kestrix-ftp (Release, $build)..." >&2
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target kestrix-ftp --parallel 2 >/dev/null
kx="$build/bin/kestrix-ftp"

work="$(mktemp -d "${TMPDIR:-/tmp}/kx-mirror-bench.XXXXXX")"
server_pid=""
proxy_pid=""
cleanup() {
  [ -z "$proxy_pid" ] || kill "$proxy_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "Creating ${files} files in ${folders} folders..." >&2
/usr/bin/python3 - "$work/old" "$files" "$folders" <<'EOF'
import os, random, sys
top, count, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20261209)
blob = os.urandom(12288)
for d in range(folders):
    os.makedirs(os.path.join(top, "d%03d" % d), exist_ok=True)
for i in range(count):
    path = os.path.join(top, "d%03d" % (i % folders), "f%05d.dat" % i)
    with open(path, "wb") as f:
        f.write(blob[rng.randint(0, 4096):][:rng.randint(1024, 8192)])
    os.utime(path, (1600000000, 1600000000))
EOF
# The new tree: the old one with `changed` files rewritten, an hour newer.
cp -a "$work/old" "$work/new"
/usr/bin/python3 - "$work/new" "$files" "$folders" "$changed" <<'EOF'
import os, sys
top, count, folders, changed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
step = max(1, count // changed)
for n, i in enumerate(range(0, count, step)):
    if n == changed:
        break
    path = os.path.join(top, "d%03d" % (i % folders), "f%05d.dat" % i)
    with open(path, "ab") as f:
        f.write(b"changed" * 10)
    os.utime(path, (1600003600, 1600003600))
EOF

mkdir -p "$work/root"
# The server serves while its stdin is open: this script holds it, so the
# server ends with the script however the script ends.
mkfifo "$work/server.in"
/usr/bin/python3 "$repo/tests/support/pyftpd_server.py" --root "$work/root" \
    --user u --password p <"$work/server.in" >"$work/server.out" 2>&1 &
server_pid=$!
exec 8>"$work/server.in"
for _ in $(seq 100); do grep -q '^PORT ' "$work/server.out" 2>/dev/null && break; sleep 0.1; done
port="$(awk '/^PORT /{print $2}' "$work/server.out")"
[ -n "$port" ] || { echo "the FTP server did not start:" >&2; cat "$work/server.out" >&2; exit 1; }
if [ "$reply_delay" != 0 ]; then
  mkfifo "$work/proxy.in"
  /usr/bin/python3 "$repo/tests/support/delay_proxy.py" --target "$port" --delay "$reply_delay" \
      <"$work/proxy.in" >"$work/proxy.out" 2>&1 &
  proxy_pid=$!
  exec 7>"$work/proxy.in"
  for _ in $(seq 50); do grep -q '^PORT ' "$work/proxy.out" 2>/dev/null && break; sleep 0.1; done
  port="$(awk '/^PORT /{print $2}' "$work/proxy.out")"
  [ -n "$port" ] || { echo "the latency proxy did not start:" >&2; cat "$work/proxy.out" >&2; exit 1; }
fi

# Runs a client and sets t (wall seconds); a failed run stops the benchmark.
measure() {
  local begin end
  begin=$(date +%s%N)
  if ! "$@" >"$work/cmd.out" 2>"$work/cmd.err"; then
    echo "FAILED: $*" >&2
    cat "$work/cmd.out" "$work/cmd.err" >&2
    exit 1
  fi
  end=$(date +%s%N)
  t=$(awk -v a="$begin" -v b="$end" 'BEGIN{printf "%.3f", (b - a) / 1e9}')
}
same_tree() { diff -rq "$1" "$2" >&2 || { echo "TREE MISMATCH: $1 vs $2" >&2; exit 1; }; }

# One client, one direction: sets the source and target copies up, mirrors, checks.
run_case() {
  local who="$1" direction="$2" remote local
  remote="$work/root/$who"
  local="$work/local/$who"
  rm -rf "$remote" "$local"
  mkdir -p "$work/local"
  if [ "$direction" = down ]; then
    cp -a "$work/new" "$remote"
    cp -a "$work/old" "$local"
  else
    cp -a "$work/old" "$remote"
    cp -a "$work/new" "$local"
  fi
  local reverse="" lftp_reverse=""
  [ "$direction" = up ] && reverse="-R" && lftp_reverse="-R"
  if [ "$who" = kx ]; then
    measure "$kx" --quiet "ftp://u:p@127.0.0.1:$port" --only-newer $reverse mirror "/$who" "$local"
  else
    if [ "$direction" = down ]; then
      measure lftp -u u,p -e "set ftp:passive-mode on; mirror --only-newer /$who $local; quit" "127.0.0.1:$port"
    else
      measure lftp -u u,p -e "set ftp:passive-mode on; mirror $lftp_reverse --only-newer $local /$who; quit" "127.0.0.1:$port"
    fi
  fi
  same_tree "$work/new" "$([ "$direction" = down ] && echo "$local" || echo "$remote")"
}

declare -A times
for round in $(seq "$runs"); do
  for direction in down up; do
    order=(kx lftp)
    [ $((round % 2)) -eq 0 ] && order=(lftp kx)
    for who in "${order[@]}"; do
      run_case "$who" "$direction"
      times[$who.$direction]+="$t "
      echo "  $direction $who round $round: $t s" >&2
    done
  done
done

median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | awk '{a[NR]=$1} END{print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
echo "Mirror of $files files in $folders folders, $changed changed, reply delay ${reply_delay} ms, $runs rounds (medians):"
for direction in down up; do
  k=$(median "${times[kx.$direction]}")
  l=$(median "${times[lftp.$direction]}")
  printf '  %-4s kestrix-ftp mirror %7.3f s   lftp mirror %7.3f s   ratio %.2f\n' \
         "$direction" "$k" "$l" "$(awk -v a="$k" -v b="$l" 'BEGIN{print a / b}')"
done
