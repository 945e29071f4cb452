#!/usr/bin/env bash
# SFTP against the reference clients, side by side on one loopback OpenSSH
# server (the tests' sshd_server.py: its own configuration and host key, the
# test account, key logins for everybody):
#   - file:    one 1 GiB file down and up: the program's transfer engine
#              (bench_transfer_engine --sftp: a real worker thread) and
#              kestrix-ftp vs OpenSSH's sftp -b (its default cipher, and with
#              the AES-GCM kestrix prefers) and curl over sftp (libssh2);
#   - tree:    1,000 files (1-64 KiB) in 20 folders down and up: the transfer
#              engine and bench_sftp_tree (N connections each) vs lftp mirror
#              --parallel=N;
#   - library: the same pipelined SFTP client on libssh and on libssh2
#              (bench_ssh_library), the measurement behind the choice.
# Clients run in turn, the order rotating from round to round; each figure
# is the median of the rounds. Every result is compared with its source: a
# failed or wrong transfer never counts as a fast one. SSH is CPU-bound on
# loopback, so beside the wall time come the client's CPU (user+sys) and the
# server's (sshd and sftp-server, from the listener's reaped children).
# Ratios: client / reference, lower is better; at most 1.00 is the goal.
#
# Usage: bench/sftp_transfer_bench.sh [--runs N] [--size-mib N] [--files N]
#            [--connections N] [--only file|tree|library]
# Needs root: sshd logs in a test account (and packages may be missing).
set -euo pipefail

runs=3
size_mib=1024
files=1000
connections=4
only=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    --size-mib) size_mib="$2"; shift 2 ;;
    --files) files="$2"; shift 2 ;;
    --connections) connections="$2"; shift 2 ;;
    --only) only="$2"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done
[ "$(id -u)" -eq 0 ] || { echo "run as root: the test sshd logs in a test account" >&2; exit 1; }

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build-sftpbench"

# --- tools -------------------------------------------------------------------
missing=()
[ -x /usr/sbin/sshd ] || missing+=(openssh-server)
command -v sftp >/dev/null || missing+=(openssh-client)
[ -x /usr/bin/time ] || missing+=(time)
command -v curl >/dev/null || missing+=(curl)
command -v lftp >/dev/null || missing+=(lftp)
pkg-config --exists libssh2 || missing+=(libssh2-1-dev)
pkg-config --exists libssh || missing+=(libssh-dev)
# shellcheck source=install_tools.sh
source "$repo/bench/install_tools.sh"
install_missing_packages "${missing[@]}"
curl_sftp=1
curl -V | grep -q '^Protocols:.* sftp' || { curl_sftp=0; echo "curl has no sftp here: left out" >&2; }

echo "Building kestrix-ftp and the bench programs (Release, $build)..." >&2
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_BENCH=ON >/dev/null
cmake --build "$build" --target kestrix-ftp bench_sftp_tree bench_ssh_library bench_transfer_engine --parallel 2 >/dev/null
kx="$build/bin/kestrix-ftp"
engine_bin="$build/bench/bench_transfer_engine"
tree_bin="$build/bench/bench_sftp_tree"
lib_bin="$build/bench/bench_ssh_library"

# --- server ------------------------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/kx-sftp-bench.XXXXXX")"
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
chmod 755 "$work"
user=kestrixsftp
password="bench-$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')"
root="$work/root"          # the account's login folder
local_dir="$work/local"    # upload sources
dl="$work/dl"              # download targets, emptied after every run
mkdir -p "$root/up" "$local_dir" "$dl" "$work/server"
key="$work/id_ed25519"
ssh-keygen -q -t ed25519 -N "" -C kx-bench -f "$key"

if [ "$only" != tree ]; then
  echo "Creating the ${size_mib} MiB file..." >&2
  head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$root/big.bin"
  cp "$root/big.bin" "$local_dir/big.bin"
fi
if [ "$only" = "" ] || [ "$only" = tree ]; then
  echo "Creating ${files} files of 1-64 KiB in 20 folders..." >&2
  /usr/bin/python3 - "$root/tree" "$files" <<'EOF'
import os, random, sys
top, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(20261209)
blob = os.urandom(65536 + 4096)
for d in range(20):
    os.makedirs(os.path.join(top, "d%02d" % d), exist_ok=True)
for i in range(count):
    size = rng.randint(1024, 65536)
    start = rng.randint(0, 4096)
    with open(os.path.join(top, "d%02d" % (i % 20), "f%04d.dat" % i), "wb") as f:
        f.write(blob[start:start + size])
EOF
  cp -a "$root/tree" "$local_dir/tree"
fi

coproc SSHD {
  exec /usr/bin/python3 "$repo/tests/support/sshd_server.py" --root "$root" --work "$work/server" \
       --user "$user" --password "$password" --authorized-keys "$key.pub" 2>"$work/sshd.log"
}
server_pid="$SSHD_PID"
port=""
if read -r -t 20 line <&"${SSHD[0]}" && [[ "$line" =~ ^PORT\ ([0-9]+)$ ]]; then port="${BASH_REMATCH[1]}"; fi
[ -n "$port" ] || { echo "sshd did not start:" >&2; cat "$work/sshd.log" >&2; exit 1; }
kh="$work/known_hosts"
echo "[127.0.0.1]:$port $(cut -d' ' -f1,2 "$work/server/ssh_host_ed25519_key.pub")" > "$kh"
unshare_pid="$(cat "/proc/$server_pid/task/$server_pid/children" | awk '{print $1}')"
sshd_pid="$(cat "/proc/$unshare_pid/task/$unshare_pid/children" | awk '{print $1}')"
tck="$(getconf CLK_TCK)"
url="sftp://$user@127.0.0.1:$port"
ssh_opts=(-o "UserKnownHostsFile=$kh" -o BatchMode=yes -o IdentitiesOnly=yes -i "$key")
echo "get big.bin $dl/big.bin" > "$work/get.batch"
echo "put $local_dir/big.bin up/sftp/big.bin" > "$work/put.batch"
echo "put $local_dir/big.bin up/sftpgcm/big.bin" > "$work/putgcm.batch"
# The engine reads known_hosts where the program does: a home of its own.
mkdir -p "$work/home/.ssh"
cp "$kh" "$work/home/.ssh/known_hosts"
# A program of its own, as /usr/bin/time runs programs, not shell functions.
engine="$work/engine.sh"
cat > "$engine" <<EOF
#!/bin/sh
exec env -u SSH_AUTH_SOCK HOME="$work/home" "$engine_bin" "\$@" --sftp --identity "$key" --host 127.0.0.1 --port "$port" --user "$user"
EOF
chmod +x "$engine"
lftp_set="set sftp:connect-program 'ssh -a -x -o UserKnownHostsFile=$kh -o BatchMode=yes -o IdentitiesOnly=yes -i $key'; set net:max-retries 1; set xfer:clobber on"

# --- measuring ---------------------------------------------------------------
# The server's CPU so far: what the sshd listener's reaped children used.
server_ticks() { sed 's/^.*) //' "/proc/$sshd_pid/stat" | awk '{print $14 + $15}'; }
# Runs a command; sets t (wall s), c (client CPU s) and s (server CPU s).
measure() {
  local begin end s0 s1
  s0=$(server_ticks)
  begin=$(date +%s%N)
  if ! /usr/bin/time -f "%U %S" -o "$work/time.out" "$@" >"$work/cmd.out" 2>"$work/cmd.err"; then
    echo "FAILED: $*" >&2
    cat "$work/cmd.out" "$work/cmd.err" >&2
    tail -n 5 "$work/sshd.log" >&2
    return 1
  fi
  end=$(date +%s%N)
  sleep 0.2  # the session processes are reaped just after the client leaves
  s1=$(server_ticks)
  t=$(awk -v a="$begin" -v b="$end" 'BEGIN{printf "%.3f", (b - a) / 1e9}')
  c=$(tail -n 1 "$work/time.out" | awk '{printf "%.2f", $1 + $2}')
  s=$(awk -v a="$s0" -v b="$s1" -v k="$tck" 'BEGIN{printf "%.2f", (b - a) / k}')
}
same_file() { cmp -s "$1" "$2" || { echo "CONTENT MISMATCH: $1 vs $2" >&2; exit 1; }; }
same_tree() { diff -rq "$1" "$2" >&2 || { echo "TREE MISMATCH: $1 vs $2" >&2; exit 1; }; }

declare -A times cpus scpus
record() { times[$1]="${times[$1]:-} $t"; cpus[$1]="${cpus[$1]:-} $c"; scpus[$1]="${scpus[$1]:-} $s"; }
median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | awk '{v[NR]=$1} END{ if (NR % 2) print v[(NR+1)/2]; else printf "%.3f\n", (v[NR/2]+v[NR/2+1])/2 }'; }

up_dir() { mkdir -p "$root/up/$1"; chown "$user:" "$root/up" "$root/up/$1"; }
transfer() {  # case client
  local kase=$1 who=$2
  case "$kase/$who" in
    get/kx)      measure "$kx" --quiet --known-hosts "$kh" --identity "$key" "$url/~/" get big.bin "$dl/big.bin" || return 1
                 same_file "$root/big.bin" "$dl/big.bin" ;;
    get/engine)  measure "$engine" download --remote-folder "$root" --local "$dl/big.bin" --item big.bin || return 1
                 same_file "$root/big.bin" "$dl/big.bin" ;;
    get/sftp)    measure sftp -q "${ssh_opts[@]}" -P "$port" -b "$work/get.batch" "$user@127.0.0.1" || return 1
                 same_file "$root/big.bin" "$dl/big.bin" ;;
    get/sftpgcm) measure sftp -q "${ssh_opts[@]}" -c aes128-gcm@openssh.com -P "$port" -b "$work/get.batch" "$user@127.0.0.1" || return 1
                 same_file "$root/big.bin" "$dl/big.bin" ;;
    get/curl)    measure curl -s -S -k --key "$key" --pubkey "$key.pub" -u "$user:" -o "$dl/big.bin" "$url/~/big.bin" || return 1
                 same_file "$root/big.bin" "$dl/big.bin" ;;
    get/libssh|get/libssh2)
                 measure "$lib_bin" --lib "$who" --port "$port" --user "$user" --password "$password" get big.bin "$dl/big.bin" || return 1
                 same_file "$root/big.bin" "$dl/big.bin" ;;
    put/kx)      up_dir kx
                 measure "$kx" --quiet --known-hosts "$kh" --identity "$key" "$url/~/" put "$local_dir/big.bin" up/kx/big.bin || return 1
                 same_file "$local_dir/big.bin" "$root/up/kx/big.bin" ;;
    put/engine)  up_dir engine
                 measure "$engine" upload --remote-folder "$root/up/engine" --item "$local_dir/big.bin" || return 1
                 same_file "$local_dir/big.bin" "$root/up/engine/big.bin" ;;
    put/sftp)    up_dir sftp
                 measure sftp -q "${ssh_opts[@]}" -P "$port" -b "$work/put.batch" "$user@127.0.0.1" || return 1
                 same_file "$local_dir/big.bin" "$root/up/sftp/big.bin" ;;
    put/sftpgcm) up_dir sftpgcm
                 measure sftp -q "${ssh_opts[@]}" -c aes128-gcm@openssh.com -P "$port" -b "$work/putgcm.batch" "$user@127.0.0.1" || return 1
                 same_file "$local_dir/big.bin" "$root/up/sftpgcm/big.bin" ;;
    put/curl)    up_dir curl
                 measure curl -s -S -k --key "$key" --pubkey "$key.pub" -u "$user:" -T "$local_dir/big.bin" "$url/~/up/curl/big.bin" || return 1
                 same_file "$local_dir/big.bin" "$root/up/curl/big.bin" ;;
    put/libssh|put/libssh2)
                 up_dir "$who"
                 measure "$lib_bin" --lib "$who" --port "$port" --user "$user" --password "$password" put "$local_dir/big.bin" "up/$who/big.bin" || return 1
                 same_file "$local_dir/big.bin" "$root/up/$who/big.bin" ;;
    treeget/kx)  measure "$tree_bin" --port "$port" --user "$user" --identity "$key" --known-hosts "$kh" --connections "$connections" get tree "$dl/tree" || return 1
                 same_tree "$root/tree" "$dl/tree" ;;
    treeget/engine) measure "$engine" download --remote-folder "$root" --local "$dl" --item tree --folder --connections "$connections" || return 1
                 same_tree "$root/tree" "$dl/tree" ;;
    treeget/lftp) measure lftp -e "$lftp_set; mirror --parallel=$connections tree $dl/tree; quit" -u "$user," "sftp://127.0.0.1:$port" || return 1
                 same_tree "$root/tree" "$dl/tree" ;;
    treeput/kx)  up_dir kx
                 measure "$tree_bin" --port "$port" --user "$user" --identity "$key" --known-hosts "$kh" --connections "$connections" put "$local_dir/tree" up/kx/tree || return 1
                 same_tree "$local_dir/tree" "$root/up/kx/tree" ;;
    treeput/engine) up_dir engine
                 measure "$engine" upload --remote-folder "$root/up/engine" --item "$local_dir/tree" --folder --connections "$connections" || return 1
                 same_tree "$local_dir/tree" "$root/up/engine/tree" ;;
    treeput/lftp) up_dir lftp
                 measure lftp -e "$lftp_set; mirror -R --parallel=$connections $local_dir/tree up/lftp/tree; quit" -u "$user," "sftp://127.0.0.1:$port" || return 1
                 same_tree "$local_dir/tree" "$root/up/lftp/tree" ;;
    *) echo "no such run: $kase/$who" >&2; exit 2 ;;
  esac
}

run_one() {  # case client round
  local kase=$1 who=$2 i=$3
  sync
  transfer "$kase" "$who" || { echo "$who failed $kase" >&2; exit 1; }
  record "$kase/$who"
  printf '  %-8s %-8s round %d: %8.3f s  client CPU %6.2f s  server CPU %6.2f s\n' "$kase" "$who" "$i" "$t" "$c" "$s" >&2
  rm -rf "${dl:?}"/* "${root:?}/up/$who"
}
run_case() {  # case client...
  local kase=$1; shift
  local clients=("$@") n=$# i j
  sync
  transfer "$kase" "$1" || true  # untimed: warms the cache and the server
  rm -rf "${dl:?}"/* "${root:?}/up/$1"
  for i in $(seq "$runs"); do
    for j in $(seq 0 $((n - 1))); do
      run_one "$kase" "${clients[$(((i - 1 + j) % n))]}" "$i"
    done
  done
}

file_clients=(engine kx sftp sftpgcm)
[ "$curl_sftp" -eq 0 ] || file_clients+=(curl)
echo "Measuring (median of $runs rounds, client order rotating)..." >&2
if [ "$only" = "" ] || [ "$only" = file ]; then
  run_case get "${file_clients[@]}"
  run_case put "${file_clients[@]}"
fi
if [ "$only" = "" ] || [ "$only" = tree ]; then
  run_case treeget engine kx lftp
  run_case treeput engine kx lftp
fi
if [ "$only" = library ]; then
  run_case get libssh libssh2
  run_case put libssh libssh2
fi

# --- report ------------------------------------------------------------------
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
row() {  # label key refkey...
  local label=$1 key=$2; shift 2
  local med cm sm ratios="" r
  med=$(median "${times[$key]}"); cm=$(median "${cpus[$key]}"); sm=$(median "${scpus[$key]}")
  for r in "$@"; do ratios+=$(printf ' %6s' "$(ratio "$med" "$(median "${times[$r]}")")"); done
  printf '  %-22s %9s %s %11s %11s   (%s)\n' "$label" "$med" "$ratios" "$cm" "$sm" "$(echo ${times[$key]})"
}
echo
echo "SFTP on loopback OpenSSH ($(ssh -V 2>&1 | cut -d, -f1)), $runs rounds, medians; CPU in seconds"
if [ "$only" = "" ] || [ "$only" = file ]; then
  for kase in get put; do
    refs=(sftp); hdr=" vs sftp"
    [ "$curl_sftp" -eq 0 ] || { refs+=(curl); hdr+=" vs curl"; }
    [ "$kase" = get ] && echo "download ${size_mib} MiB" || echo "upload ${size_mib} MiB"
    printf '  %-22s %9s %s %11s %11s\n' "" "wall s" "$hdr" "client CPU" "server CPU"
    refkeys=(); for r in "${refs[@]}"; do refkeys+=("$kase/$r"); done
    row "transfer engine" "$kase/engine" "${refkeys[@]}"
    row "kestrix-ftp (sftp://)" "$kase/kx" "${refkeys[@]}"
    row "sftp -b (default)" "$kase/sftp" "${refkeys[@]}"
    row "sftp -b -c aes128-gcm" "$kase/sftpgcm" "${refkeys[@]}"
    [ "$curl_sftp" -eq 0 ] || row "curl (libssh2)" "$kase/curl" "${refkeys[@]}"
  done
fi
if [ "$only" = "" ] || [ "$only" = tree ]; then
  for kase in treeget treeput; do
    [ "$kase" = treeget ] && echo "download ${files} files, ${connections} connections" || echo "upload ${files} files, ${connections} connections"
    printf '  %-22s %9s %s %11s %11s\n' "" "wall s" " vs lftp" "client CPU" "server CPU"
    row "transfer engine" "$kase/engine" "$kase/lftp"
    row "bench_sftp_tree" "$kase/kx" "$kase/lftp"
    row "lftp mirror" "$kase/lftp" "$kase/lftp"
  done
fi
if [ "$only" = library ]; then
  for kase in get put; do
    [ "$kase" = get ] && echo "download ${size_mib} MiB, same SFTP client" || echo "upload ${size_mib} MiB, same SFTP client"
    printf '  %-22s %9s %s %11s %11s\n' "" "wall s" " vs libssh2" "client CPU" "server CPU"
    row "libssh 0.10" "$kase/libssh" "$kase/libssh2"
    row "libssh2 1.10" "$kase/libssh2" "$kase/libssh2"
  done
fi
echo "(ratio = client / reference, lower is better; the client order rotates from round to round)"
