#!/usr/bin/env bash
# kestrix-ftp against curl on the same loopback vsftpd: 1 GiB download, 1 GiB
# upload, and a LIST of 100,000 entries. Prints the wall times, the ratios
# (kestrix / curl, lower is better) and the peak RSS of each client.
#
# Usage: bench/ftp_transfer_bench.sh [--runs N] [--size-mib N] [--entries N] [--tls]
# --tls: everything over explicit TLS (AUTH TLS, PROT P) on a vsftpd with a
# self-signed certificate and its default require_ssl_reuse, both clients
# with --ssl-reqd and the certificate as their --cacert.
# Needs root only to install vsftpd/time/curl when they are missing.
set -euo pipefail

runs=3
size_mib=1024
entries=100000
tls=0
while [ $# -gt 0 ]; do
  case "$1" in
    --tls) tls=1; shift ;;
    --runs) runs="$2"; shift 2 ;;
    --size-mib) size_mib="$2"; shift 2 ;;
    --entries) entries="$2"; shift 2 ;;
    *) echo "unknown argument $1" >&2; exit 2 ;;
  esac
done

repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$repo/build-bench"

# --- tools -------------------------------------------------------------------
missing=()
[ -x /usr/sbin/vsftpd ] || missing+=(vsftpd)
[ -x /usr/bin/time ] || missing+=(time)
command -v curl >/dev/null || missing+=(curl)
# shellcheck source=install_tools.sh
source "$repo/bench/install_tools.sh"
install_missing_packages "${missing[@]}"

# --- client ------------------------------------------------------------------
cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" --target kestrix-ftp --parallel 2 >/dev/null
kx="$build/bin/kestrix-ftp"

# --- server ------------------------------------------------------------------
work="$(mktemp -d "${TMPDIR:-/tmp}/kx-bench.XXXXXX")"
server_pid=""
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  [ -z "$server_pid" ] || wait "$server_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

root="$work/root"          # anonymous root: must not be writable by the ftp user
mkdir -p "$root/up" "$root/many" "$work/local" "$work/empty"
chmod 755 "$root"
chmod 777 "$root/up"
echo "Creating the ${size_mib} MiB file and ${entries} entries..." >&2
head -c "$((size_mib * 1024 * 1024))" /dev/urandom > "$root/big.bin"
cp "$root/big.bin" "$work/local/big.bin"
(cd "$root/many" && seq -f "file-%06g.dat" 1 "$entries" | xargs touch)

port="$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')"
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
kx_tls=()
curl_tls=()
if [ "$tls" -eq 1 ]; then
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 2 \
          -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 >/dev/null 2>&1
  cat >> "$work/vsftpd.conf" <<EOF
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=YES
force_anon_data_ssl=YES
rsa_cert_file=$work/cert.pem
rsa_private_key_file=$work/key.pem
EOF
  kx_tls=(--ssl-reqd --cacert "$work/cert.pem")
  curl_tls=(--ssl-reqd --cacert "$work/cert.pem")
fi
/usr/sbin/vsftpd "$work/vsftpd.conf" >"$work/vsftpd.out" 2>&1 &
server_pid=$!
for _ in $(seq 50); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  sleep 0.1
done
kill -0 "$server_pid" 2>/dev/null || { echo "vsftpd did not start:" >&2; cat "$work/vsftpd.out" >&2; exit 1; }

url="ftp://127.0.0.1:$port"

# Runs a command under GNU time; sets t (seconds) and m (max RSS, KiB). Fails
# loudly when the command fails: a failed transfer never counts as a fast one.
measure() {
  if ! /usr/bin/time -f "%e %M" -o "$work/time.out" "$@" >"$work/cmd.out" 2>"$work/cmd.err"; then
    echo "FAILED: $*" >&2
    cat "$work/cmd.err" >&2
    exit 1
  fi
  read -r t m < "$work/time.out"
}

check_same() {
  cmp -s "$1" "$2" || { echo "CONTENT MISMATCH: $1 vs $2" >&2; exit 1; }
}

# The runs of the two clients alternate, each after a sync, so neither pays for
# the other's dirty pages being written back (or for the file creation above).
echo "Measuring (best of $runs, alternating)..." >&2
declare -A best rss
record() {  # name
  if [ -z "${best[$1]:-}" ] || awk -v a="$t" -v b="${best[$1]}" 'BEGIN{exit !(a<b)}'; then best[$1]="$t"; fi
  if [ "$m" -gt "${rss[$1]:-0}" ]; then rss[$1]="$m"; fi
}
sync
for i in $(seq "$runs"); do
  sync; measure "$kx" "${kx_tls[@]}" --quiet "$url" get big.bin "$work/local/kx.bin"; record kx_get
  check_same "$root/big.bin" "$work/local/kx.bin"; rm -f "$work/local/kx.bin"
  sync; measure curl "${curl_tls[@]}" -s -S -o "$work/local/curl.bin" "$url/big.bin"; record c_get
  check_same "$root/big.bin" "$work/local/curl.bin"; rm -f "$work/local/curl.bin"
done
# vsftpd does not overwrite anonymous uploads: each run gets a fresh name.
for i in $(seq "$runs"); do
  sync; measure "$kx" "${kx_tls[@]}" --quiet "$url" put "$work/local/big.bin" "up/kx-$i.bin"; record kx_put
  check_same "$work/local/big.bin" "$root/up/kx-$i.bin"; rm -f "$root/up/kx-$i.bin"
  sync; measure curl "${curl_tls[@]}" -s -S -T "$work/local/big.bin" "$url/up/curl-$i.bin"; record c_put
  check_same "$work/local/big.bin" "$root/up/curl-$i.bin"; rm -f "$root/up/curl-$i.bin"
done
for i in $(seq "$runs"); do
  measure "$kx" "${kx_tls[@]}" --quiet "$url" ls many; record kx_ls
  kx_count=$(wc -l < "$work/cmd.out")
  measure curl "${curl_tls[@]}" -s -S "$url/many/"; record c_ls
  c_count=$(wc -l < "$work/cmd.out")
done
kx_get=${best[kx_get]}; kx_get_rss=${rss[kx_get]}; c_get=${best[c_get]}; c_get_rss=${rss[c_get]}
kx_put=${best[kx_put]}; kx_put_rss=${rss[kx_put]}; c_put=${best[c_put]}; c_put_rss=${rss[c_put]}
kx_ls=${best[kx_ls]}; kx_ls_rss=${rss[kx_ls]}; c_ls=${best[c_ls]}; c_ls_rss=${rss[c_ls]}
[ "$kx_count" -eq "$entries" ] || { echo "kestrix-ftp listed $kx_count of $entries entries" >&2; exit 1; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN{ if (b > 0) printf "%.2f", a / b; else print "n/a" }'; }
echo
printf '%-28s %10s %10s %8s %14s %14s\n' "" "kestrix s" "curl s" "ratio" "kestrix RSS KiB" "curl RSS KiB"
printf '%-28s %10s %10s %8s %14s %14s\n' "download ${size_mib} MiB" "$kx_get" "$c_get" "$(ratio "$kx_get" "$c_get")" "$kx_get_rss" "$c_get_rss"
printf '%-28s %10s %10s %8s %14s %14s\n' "upload ${size_mib} MiB" "$kx_put" "$c_put" "$(ratio "$kx_put" "$c_put")" "$kx_put_rss" "$c_put_rss"
printf '%-28s %10s %10s %8s %14s %14s\n' "list ${entries} entries" "$kx_ls" "$c_ls" "$(ratio "$kx_ls" "$c_ls")" "$kx_ls_rss" "$c_ls_rss"
echo "(listing lines: kestrix $kx_count, curl $c_count; best of $runs runs; ratio < 1 means kestrix is faster)"
