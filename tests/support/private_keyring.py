#!/usr/bin/python3
"""A private D-Bus session bus with GNOME Keyring's Secret Service, for tests.

Usage: private_keyring.py --home DIR --address-file FILE

Starts dbus-daemon on a socket under DIR and, on that bus, gnome-keyring-daemon
(secrets only) with HOME and the XDG folders under DIR, its login keyring made
and unlocked with a throwaway password. Writes the bus address to FILE, then
prints "PORT 1", the ready line the test fixture waits for (there is no port),
and runs until its standard input closes; then stops both daemons.

A line "LOCK" on standard input locks the login keyring (the unlock prompt can
never be answered here, so it stays locked); "STOP-KEYRING" stops the keyring
daemon while the bus goes on. Each is answered with "DONE" on standard output.
"""

import argparse
import ctypes
import os
import signal
import subprocess
import sys
import time


def die_with_parent():
    """For the bus daemon: it goes when this script goes, however it goes."""
    PR_SET_PDEATHSIG = 1
    ctypes.CDLL("libc.so.6", use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)


def stop_keyring(env):
    """Stops the keyring daemon that owns the Secret Service name on this bus."""
    reply = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                            "/org/freedesktop/DBus", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                            "string:org.freedesktop.secrets"], env=env, capture_output=True, text=True)
    words = reply.stdout.split()
    if reply.returncode == 0 and words and words[-1].isdigit():
        try:
            os.kill(int(words[-1]), signal.SIGTERM)
        except ProcessLookupError:
            pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--home", required=True)
    parser.add_argument("--address-file", required=True)
    args = parser.parse_args()

    home = os.path.abspath(args.home)
    runtime = os.path.join(home, "run")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ)
    env.update({"HOME": home, "XDG_RUNTIME_DIR": runtime, "XDG_DATA_HOME": os.path.join(home, "data"),
                "XDG_CONFIG_HOME": os.path.join(home, "config"), "XDG_CACHE_HOME": os.path.join(home, "cache")})
    env.pop("DISPLAY", None)  # no prompt may reach a real screen
    socket = os.path.join(runtime, "bus")
    bus = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                            "--address=unix:path=" + socket, "--print-address=1"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env, text=True,
                           preexec_fn=die_with_parent)
    # The fixture ends this script with SIGTERM: clean up as on end of input.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    address = bus.stdout.readline().strip()
    if not address:
        sys.stderr.write("dbus-daemon did not start\n")
        return 1
    env["DBUS_SESSION_BUS_ADDRESS"] = address
    keyring = subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets", "--daemonize"],
                             input="throwaway", env=env, capture_output=True, text=True)
    if keyring.returncode != 0:
        sys.stderr.write("gnome-keyring-daemon did not start: " + keyring.stderr)
        bus.terminate()
        return 1
    # The daemon answers once its login keyring is there.
    for _ in range(100):
        probe = subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
                                "/org/freedesktop/secrets/collection/login",
                                "org.freedesktop.DBus.Properties.Get",
                                "string:org.freedesktop.Secret.Collection", "string:Locked"],
                               env=env, capture_output=True, text=True)
        if probe.returncode == 0:
            break
        time.sleep(0.05)

    try:
        serve(args, env)
    finally:
        # The keyring daemon also leaves by itself once its bus is gone.
        stop_keyring(env)
        bus.send_signal(signal.SIGTERM)
        try:
            bus.wait(3)
        except subprocess.TimeoutExpired:
            bus.kill()
    return 0


def serve(args, env):
    with open(args.address_file, "w") as f:
        f.write(env["DBUS_SESSION_BUS_ADDRESS"])
    print("PORT 1", flush=True)

    for line in sys.stdin:
        command = line.strip()
        if command == "LOCK":
            subprocess.run(["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.secrets",
                            "/org/freedesktop/secrets", "org.freedesktop.Secret.Service.Lock",
                            "array:objpath:/org/freedesktop/secrets/collection/login"],
                           env=env, capture_output=True)
        elif command == "STOP-KEYRING":
            stop_keyring(env)
        print("DONE", flush=True)


if __name__ == "__main__":
    sys.exit(main())
