#!/usr/bin/env bash
# The download and upload engines (bench_transfer_engine: a real worker thread
# with its connection and copy loop) and kestrix-ftp against curl and lftp on
# one loopback vsftpd:
#   - one 1 GiB file down and up: engine, kestrix-ftp, curl, lftp;
#   - a tree of 10,000 small files (1-8 KiB) in 100 folders down and up in one
#     job: engine against lftp's mirror and mirror -R.
# Every case runs the clients in turn, the order rotating from round to round
# (paired, alternating runs); each time is the median of the rounds. Every
# result is compared with its source: a failed or wrong transfer never counts
# as a fast one. Ratios are against the faster peer (lower is better; at most
# 1.00 is the goal); peak RSS shows that memory stays flat in the file size.
#
# Usage: bench/transfer_engine_bench.sh [--runs N] [--size-mib N] [--files N]
#            [--folders N] [--only file|tree] [--baseline-engine PATH]
#            [--baseline-kx PATH] [--parallel N] [--reply-delay MS]
#            [--build-dir DIR]
# --parallel N: the engine's job opens up to N connections and lftp mirrors
# with --parallel=N (trees only; a baseline engine runs as it always did).
# --reply-delay MS: every client talks to the server through
# tests/support/delay_proxy.py, which holds each control reply back MS
# milliseconds, as a distant server would (data connections go direct).
# --baseline-engine and --baseline-kx add another bench_transfer_engine or
# kestrix-ftp binary (an older build) to the cases of its kind, run in the same
# rounds, for a before-and-after comparison.
# Needs root only to install vsftpd, lftp, curl and time when they are missing.
set -euo pipefail

runs=5
size_mib=1024
files=10000
folders=100
only=""
baseline=""
baseline_kx=""
parallel=1
reply_delay=0
build_dir=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --size-mib) size_mib="$2"; shift 2 ;;
    --files) files="$2"; shift 2 ;;
    --folders) folders="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    --baseline-engine) baseline="$(realpath "$2")"; shift 2 ;;
    --baseline-kx) baseline_kx="$(realpath "$2")"; shift 2 ;;
    --parallel) parallel="$2"; shift 2 ;;
    --reply-delay) reply_delay="$2"; shift 2 ;;
    --build-dir) build_dir="$(realpath -m "$2")"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${build_dir:-$repo/build-enginebench}"

# --- tools -------------------------------------------------------------------
missing=()
[ -x /usr/sbin/vsftpd ] || missing+=(vsftpd)
[ -x /usr/bin/time ] || missing+=(time)
command -v curl >/dev/null || missing+=(curl)
command -v lftp >/dev/null || missing+=(lftp)
# shellcheck source=install_tools.sh
source "$repo/bench/install_tools.sh"
install_missing_packages "${missing[@]}"

# --- clients -----------------------------------------------------------------
echo "Building bench_transfer_engine and kestrix-ftp (Release, $build)..." >&2
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target bench_transfer_engine kestrix-ftp --parallel 2 >/dev/null
engine="$build/bench/bench_transfer_engine"
kx="$build/bin/kestrix-ftp"

# --- server ------------------------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/kx-engine-bench.XXXXXX")"
server_pid=""
proxy_pid=""
cleanup() {
  [ -z "$proxy_pid" ] || kill "$proxy_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

root="$work/root"          # anonymous root: must not be writable by the ftp user
local_dir="$work/local"    # upload sources
dl="$work/dl"              # download targets, emptied after every run
mkdir -p "$root/up" "$local_dir" "$dl" "$work/empty"
chmod 755 "$root"
chmod 777 "$root/up"
peers=(engine base kx kxbase curl lftp)
for who in "${peers[@]}"; do mkdir -p "$root/up/$who"; chmod 777 "$root/up/$who"; done

if [ "$only" != tree ]; then
  echo "Creating the ${size_mib} MiB file..." >&2
  head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$root/big.bin"
  cp "$root/big.bin" "$local_dir/big.bin"
fi
if [ "$only" != file ]; then
  echo "Creating ${files} files of 1-8 KiB in ${folders} folders..." >&2
  /usr/bin/python3 - "$root/tree" "$files" "$folders" <<'EOF'
import os, random, sys
top, count, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(20240611)
blob = os.urandom(8192 + 4096)
for d in range(folders):
    os.makedirs(os.path.join(top, "d%03d" % d), exist_ok=True)
for i in range(count):
    size = rng.randint(1024, 8192)
    start = rng.randint(0, 4096)
    with open(os.path.join(top, "d%03d" % (i % folders), "f%05d.dat" % i), "wb") as f:
        f.write(blob[start:start + size])
EOF
  chmod -R a+rX "$root/tree"
  cp -a "$root/tree" "$local_dir/tree"
fi

port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
# Tens of thousands of data connections a run leave as many sockets waiting
# out their TIME_WAIT; the server's passive ports stay below the range the
# clients' own ports come from, so the two never fight over a port.
read -r eph_low _ < /proc/sys/net/ipv4/ip_local_port_range
pasv_max=$((eph_low - 1))
pasv_min=$((pasv_max - 20000 > 1024 ? pasv_max - 20000 : 1024))
nopriv=ftp
id ftp >/dev/null 2>&1 || nopriv=nobody
cat > "$work/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=127.0.0.1
listen_port=$port
background=NO
anonymous_enable=YES
no_anon_password=YES
anon_root=$root
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_other_write_enable=YES
anon_umask=022
local_enable=NO
pasv_enable=YES
pasv_address=127.0.0.1
pasv_min_port=$pasv_min
pasv_max_port=$pasv_max
port_enable=YES
connect_from_port_20=NO
seccomp_sandbox=NO
isolate=NO
isolate_network=NO
secure_chroot_dir=$work/empty
nopriv_user=$nopriv
ftp_username=$nopriv
xferlog_enable=NO
dirmessage_enable=NO
use_localtime=NO
max_clients=50
EOF
/usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/vsftpd.out" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  sleep 0.1
done
kill -0 "$server_pid" 2>/dev/null || { echo "vsftpd did not start:" >&2; cat "$work/vsftpd.out" >&2; exit 1; }
if [ "$reply_delay" != 0 ]; then
  # The clients reach the control port through the latency proxy.
  mkfifo "$work/proxy.in"
  /usr/bin/python3 "$repo/tests/support/delay_proxy.py" --target "$port" --delay "$reply_delay" \
      <"$work/proxy.in" >"$work/proxy.out" 2>&1 &
  proxy_pid=$!
  exec 7>"$work/proxy.in"
  for _ in $(seq 50); do grep -q '^PORT ' "$work/proxy.out" 2>/dev/null && break; sleep 0.1; done
  port="$(awk '/^PORT /{print $2}' "$work/proxy.out")"
  [ -n "$port" ] || { echo "the latency proxy did not start:" >&2; cat "$work/proxy.out" >&2; exit 1; }
fi
url="ftp://127.0.0.1:$port"

# --- measuring ---------------------------------------------------------------
# Runs a command; sets t (wall seconds, from the nanosecond clock) and m (peak
# RSS in KiB, from GNU time). Returns 1, after showing why, when it fails.
measure() {
  local begin end
  begin=$(date +%s%N)
  if ! /usr/bin/time -f "%M" -o "$work/time.out" "$@" >"$work/cmd.out" 2>"$work/cmd.err"; then
    echo "FAILED: $*" >&2
    cat "$work/cmd.out" "$work/cmd.err" >&2
    tail -n 5 "$work/vsftpd.out" >&2
    return 1
  fi
  end=$(date +%s%N)
  t=$(awk -v a="$begin" -v b="$end" 'BEGIN{printf "%.3f", (b - a) / 1e9}')
  m=$(tail -n 1 "$work/time.out")
}
same_file() { cmp -s "$1" "$2" || { echo "CONTENT MISMATCH: $1 vs $2" >&2; exit 1; }; }
same_tree() { diff -rq "$1" "$2" >&2 || { echo "TREE MISMATCH: $1 vs $2" >&2; exit 1; }; }

declare -A times rss
record() {  # key
  times[$1]="${times[$1]:-} $t"
  if [ "$m" -gt "${rss[$1]:-0}" ]; then rss[$1]="$m"; fi
}
median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | awk '{v[NR]=$1} END{ if (NR % 2) print v[(NR+1)/2]; else printf "%.3f\n", (v[NR/2]+v[NR/2+1])/2 }'; }

# One transfer of one client in one case, checked against its source (a
# wrong result stops the benchmark). Returns 1 when the client failed.
transfer() {  # case client
  local kase=$1 who=$2
  case "$kase/$who" in
    get/base)   measure "$baseline" download --port "$port" --remote-folder / --local "$dl" --item big.bin || return 1
                same_file "$root/big.bin" "$dl/big.bin" ;;
    get/engine) measure "$engine" download --port "$port" --remote-folder / --local "$dl" --item big.bin || return 1
                same_file "$root/big.bin" "$dl/big.bin" ;;
    get/kx)     measure "$kx" --quiet "$url" get big.bin "$dl/big.bin" || return 1
                same_file "$root/big.bin" "$dl/big.bin" ;;
    get/kxbase) measure "$baseline_kx" --quiet "$url" get big.bin "$dl/big.bin" || return 1
                same_file "$root/big.bin" "$dl/big.bin" ;;
    get/curl)   measure curl -s -S -o "$dl/big.bin" "$url/big.bin" || return 1
                same_file "$root/big.bin" "$dl/big.bin" ;;
    get/lftp)   measure lftp -e "set xfer:clobber on; get big.bin -o $dl/big.bin; quit" "$url" || return 1
                same_file "$root/big.bin" "$dl/big.bin" ;;
    put/base)   measure "$baseline" upload --port "$port" --remote-folder /up/base --item "$local_dir/big.bin" || return 1
                same_file "$local_dir/big.bin" "$root/up/base/big.bin" ;;
    put/engine) measure "$engine" upload --port "$port" --remote-folder /up/engine --item "$local_dir/big.bin" || return 1
                same_file "$local_dir/big.bin" "$root/up/engine/big.bin" ;;
    put/kx)     measure "$kx" --quiet "$url" put "$local_dir/big.bin" up/kx/big.bin || return 1
                same_file "$local_dir/big.bin" "$root/up/kx/big.bin" ;;
    put/kxbase) measure "$baseline_kx" --quiet "$url" put "$local_dir/big.bin" up/kxbase/big.bin || return 1
                same_file "$local_dir/big.bin" "$root/up/kxbase/big.bin" ;;
    put/curl)   measure curl -s -S -T "$local_dir/big.bin" "$url/up/curl/big.bin" || return 1
                same_file "$local_dir/big.bin" "$root/up/curl/big.bin" ;;
    put/lftp)   measure lftp -e "set xfer:clobber on; put $local_dir/big.bin -o up/lftp/big.bin; quit" "$url" || return 1
                same_file "$local_dir/big.bin" "$root/up/lftp/big.bin" ;;
    treeget/base)   measure "$baseline" download --port "$port" --remote-folder / --local "$dl" --item tree --folder || return 1
                    same_tree "$root/tree" "$dl/tree" ;;
    treeget/engine) measure "$engine" download --port "$port" --remote-folder / --local "$dl" --item tree --folder --connections "$parallel" || return 1
                    same_tree "$root/tree" "$dl/tree" ;;
    treeget/lftp)   measure lftp -e "set xfer:clobber on; mirror --parallel=$parallel tree $dl/tree; quit" "$url" || return 1
                    same_tree "$root/tree" "$dl/tree" ;;
    treeput/base)   measure "$baseline" upload --port "$port" --remote-folder /up/base --item "$local_dir/tree" --folder || return 1
                    same_tree "$local_dir/tree" "$root/up/base/tree" ;;
    treeput/engine) measure "$engine" upload --port "$port" --remote-folder /up/engine --item "$local_dir/tree" --folder --connections "$parallel" || return 1
                    same_tree "$local_dir/tree" "$root/up/engine/tree" ;;
    treeput/lftp)   measure lftp -e "set xfer:clobber on; mirror -R --parallel=$parallel $local_dir/tree up/lftp/tree; quit" "$url" || return 1
                    same_tree "$local_dir/tree" "$root/up/lftp/tree" ;;
    *) echo "no such run: $kase/$who" >&2; exit 2 ;;
  esac
}

# A sync first, so nobody pays for the previous run's dirty pages; cleaned up
# afterwards. A failed run is counted, shown in the report, and run again
# (tens of thousands of connections on a busy machine, and a server that ends
# a session when it cannot fork, do fail now and then; lftp retries on its
# own, the others do not); a client that fails three times in a row stops
# the benchmark.
declare -A failures
run_one() {  # case client round
  local kase=$1 who=$2 i=$3 attempt
  for attempt in 1 2 3; do
    sync
    if transfer "$kase" "$who"; then
      record "$kase/$who"
      printf '  %-8s %-7s round %d: %8.3f s %9d KiB\n' "$kase" "$who" "$i" "$t" "$m" >&2
      rm -rf "${dl:?}"/* "${root:?}/up/$who"/*
      return 0
    fi
    failures[$kase/$who]=$(( ${failures[$kase/$who]:-0} + 1 ))
    rm -rf "${dl:?}"/* "${root:?}/up/$who"/*
  done
  echo "$who failed $kase three times in a row" >&2
  exit 1
}

# Round i starts with client number i of the list, so every client runs in
# every place of the order as often as the runs allow.
run_case() {  # case client...
  local kase=$1; shift
  local clients=("$@") n=$# i j
  # An untimed run first: whoever opened the first round would otherwise pay
  # for the freshly written files and a cold server.
  sync
  transfer "$kase" "$1" || true
  rm -rf "${dl:?}"/* "${root:?}/up/$1"/*
  for i in $(seq "$runs"); do
    for j in $(seq 0 $((n - 1))); do
      run_one "$kase" "${clients[$(((i - 1 + j) % n))]}" "$i"
    done
  done
}

echo "Measuring (median of $runs paired, alternating rounds)..." >&2
sync
extra=()
[ -z "$baseline" ] || extra=(base)
extra_kx=()
[ -z "$baseline_kx" ] || extra_kx=(kxbase)
if [ "$only" != tree ]; then
  run_case get engine "${extra[@]}" kx "${extra_kx[@]}" curl lftp
  run_case put engine "${extra[@]}" kx "${extra_kx[@]}" curl lftp
fi
if [ "$only" != file ]; then
  run_case treeget engine "${extra[@]}" lftp
  run_case treeput engine "${extra[@]}" lftp
fi

# --- report ------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
faster() { awk -v a="$1" -v b="$2" 'BEGIN{ print (a <= b) ? a : b }'; }
row() {  # label key reference-time
  local med; med=$(median "${times[$2]}")
  local failed=""
  [ -z "${failures[$2]:-}" ] || failed=", ${failures[$2]} failed run(s) repeated"
  printf '  %-14s %10s %8s %12s   (%s%s)\n' "$1" "$med" "$(ratio "$med" "$3")" "${rss[$2]}" "$(echo ${times[$2]})" "$failed"
}
echo
printf '  %-14s %10s %8s %12s   %s\n' "" "median s" "ratio" "peak RSS KiB" "(every round, s)"
for kase in get put; do
  [ "$only" != tree ] || continue
  c=$(median "${times[$kase/curl]}"); l=$(median "${times[$kase/lftp]}"); ref=$(faster "$c" "$l")
  peer=curl; [ "$ref" = "$c" ] || peer=lftp
  if [ "$kase" = get ]; then echo "download ${size_mib} MiB (ratio: against $peer, the faster peer)"; else echo "upload ${size_mib} MiB (ratio: against $peer, the faster peer)"; fi
  row engine "$kase/engine" "$ref"
  [ -z "$baseline" ] || row "engine (base)" "$kase/base" "$ref"
  row kestrix-ftp "$kase/kx" "$ref"
  [ -z "$baseline_kx" ] || row "kx-ftp (base)" "$kase/kxbase" "$ref"
  row curl "$kase/curl" "$ref"
  row lftp "$kase/lftp" "$ref"
done
for kase in treeget treeput; do
  [ "$only" != file ] || continue
  l=$(median "${times[$kase/lftp]}")
  where="N=$parallel"
  [ "$reply_delay" = 0 ] || where="$where, replies ${reply_delay} ms late"
  if [ "$kase" = treeget ]; then echo "download ${files} files in ${folders} folders, one job, $where (ratio: against lftp mirror --parallel=$parallel)"
  else echo "upload ${files} files in ${folders} folders, one job, $where (ratio: against lftp mirror -R --parallel=$parallel)"; fi
  row engine "$kase/engine" "$l"
  [ -z "$baseline" ] || row "engine (base)" "$kase/base" "$l"
  row lftp "$kase/lftp" "$l"
  if [ -n "$baseline" ]; then
    e=$(median "${times[$kase/engine]}"); b=$(median "${times[$kase/base]}")
    echo "  engine against the baseline engine (one connection): $(ratio "$e" "$b")"
  fi
done
echo "(ratio = client / reference, lower is better; $runs rounds, client order rotating; RSS is the largest of the rounds)"
