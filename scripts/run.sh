#!/usr/bin/env bash
# Installs what is missing, builds Kestrix and starts it.
#
# Without arguments Kestrix connects to a demonstration FTP server that this
# script starts on the loopback interface, over a sample folder tree, and
# stops again when Kestrix exits; the server is in the Site Manager as
# "Kestrix Demo" (user demo, password demo; anonymous logins are read-only).
# With arguments, they go to kestrix instead:  bash scripts/run.sh ftp.example.org
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh run

build_dir="${KESTRIX_BUILD_DIR:-build}"
cmake -S . -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DKESTRIX_BUILD_TESTS=OFF -DKESTRIX_BUILD_BENCH=OFF
cmake --build "$build_dir" --parallel "$(nproc)"

kestrix="$build_dir/bin/kestrix"
sites_tool="$build_dir/bin/kestrix-sites"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: Kestrix is a desktop program. Run it from a desktop session," \
       "or under Xvfb: xvfb-run -a bash scripts/run.sh" >&2
  exit 1
fi

echo "Use Connect... (Site Manager) or the Quick Connect bar, or start $kestrix HOST"

if [ "$#" -gt 0 ]; then
  exec "$kestrix" "$@"
fi

# ---------------------------------------------------------------- demo server

demo_user="${USER:-$(id -un)}"
runtime_dir="${XDG_RUNTIME_DIR:-/tmp}"
[ -d "$runtime_dir" ] || runtime_dir=/tmp
demo_dir="$runtime_dir/kestrix-demo-$demo_user"
demo_root="$demo_dir/files"

# /tmp is shared: never follow somebody else's link or write into their folder.
if [ -L "$demo_dir" ] || { [ -e "$demo_dir" ] && { [ ! -d "$demo_dir" ] || [ ! -O "$demo_dir" ]; }; }; then
  echo "$demo_dir exists and is not a folder of yours; remove it or set XDG_RUNTIME_DIR." >&2
  exit 1
fi
mkdir -p "$demo_dir"
chmod 700 "$demo_dir"

# Files are created when missing and otherwise left alone: whatever was
# uploaded to the demo server in an earlier run is still there.
put() {
  local file="$demo_root/$1"
  shift
  mkdir -p "$(dirname "$file")"
  [ -e "$file" ] || printf '%s\n' "$@" > "$file"
}

put "README.txt" \
  "Welcome to the Kestrix demo server." \
  "" \
  "It runs on this computer only (127.0.0.1) while Kestrix runs, and serves" \
  "$demo_root." \
  "Log in as demo / demo to upload, rename and delete; anonymous logins can only read." \
  "" \
  "Things to try: open the folders, download the 5 MB file in pub/, upload a file" \
  "into uploads/, rename it with F2, and watch the Trace pane."
put "docs/Getting started.txt" \
  "A file name with spaces." \
  "Double-click a folder or press Enter to open it; Backspace goes back up."
put "docs/notes.md" \
  "# Notes" \
  "" \
  "- Listings, downloads and uploads all travel over the loopback interface." \
  "- F5 refreshes a folder after you changed it elsewhere."
put "docs/Überblick – Café Zoë.txt" \
  "A file name with letters beyond ASCII: Ü, é, ë, and a dash (–)."
put "Grüße aus Köln/Straße.txt" \
  "A folder and a file with umlauts and a sharp s."
put "Project Plans/2024 Q1 plan.txt" \
  "1. Connect" "2. Browse" "3. Transfer"
put "pub/data/numbers.csv" "n,square" "1,1" "2,4" "3,9" "4,16" "5,25"
put "pub/nested/level 1/level 2/deep.txt" "Three folders down."
mkdir -p "$demo_root/uploads"

big="$demo_root/pub/random-5MB.bin"
if [ "$(stat -c %s "$big" 2>/dev/null || echo 0)" != 5242880 ]; then
  head -c 5242880 /dev/urandom > "$big"
fi

server_pid=""
kestrix_pid=""
# shellcheck disable=SC2317  # called from the traps
cleanup() {
  if [ -n "$kestrix_pid" ]; then kill "$kestrix_pid" 2>/dev/null || true; fi
  if [ -n "$server_pid" ]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

server_log="$demo_dir/server.log"
# The server quits when its stdin closes, so it cannot outlive this script
# even when the script is killed too hard for the trap to run.
coproc DEMO_SERVER {
  exec /usr/bin/python3 tests/support/pyftpd_server.py --root "$demo_root" \
       --user demo --password demo --anonymous 2> "$server_log"
}
server_pid="$DEMO_SERVER_PID"

port=""
if read -r -t 20 line <&"${DEMO_SERVER[0]}" && [[ "$line" =~ ^PORT\ ([0-9]+)$ ]]; then
  port="${BASH_REMATCH[1]}"
fi
if [ -z "$port" ]; then
  echo "The demo FTP server did not start; its messages:" >&2
  cat "$server_log" >&2 || true
  exit 1
fi
echo "Demo FTP server on 127.0.0.1 port $port, serving $demo_root (user demo, password demo)"

target="Kestrix Demo"
# Top level: the command line only looks there for a site name.
if ! "$sites_tool" add --name "Kestrix Demo" --address 127.0.0.1 --port "$port" \
       --user demo --password demo \
       --description "Demo server of scripts/run.sh, on this computer only"; then
  target="ftp://127.0.0.1:$port"
  echo "Could not save the demo site (see above); connecting anonymously to $target instead." >&2
fi

"$kestrix" "$target" &
kestrix_pid=$!
status=0
wait "$kestrix_pid" || status=$?
kestrix_pid=""
exit "$status"
