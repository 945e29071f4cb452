#!/usr/bin/python3
r"""A small FTP server for the Kestrix tests that misbehaves on request.

It serves the real files under --root (so RETR and STOR move real bytes) and
accepts any login unless --user/--password are given. Each client gets its own
thread. It listens on a free loopback port, prints exactly one line "PORT <n>",
and exits on SIGTERM or when its stdin reaches end of file.
To run one by hand, keep its stdin open: "sleep infinity | /usr/bin/python3 scripted_ftpd.py ...".

Commands: USER PASS SYST FEAT OPTS HELP PWD XPWD CWD CDUP TYPE MODE STRU ALLO
PASV EPSV PORT EPRT LIST NLST MLSD MLST RETR STOR APPE REST SIZE MDTM DELE MKD
RMD RNFR RNTO NOOP ABOR QUIT SITE (CHMOD, UTIME and HELP). Anything else gets 500.
Before a successful login only USER PASS QUIT SYST FEAT OPTS HELP NOOP ABOR work.

Switches (all optional except --root). A scenario file (--scenario FILE) is a
JSON object holding the same settings under the switch's name with "_" for "-"
(for example {"no_epsv": true, "greeting": ["a", "b"]}); switches given on the
command line win over the file. The JSON form of each setting is given in [].

Keys. Several switches take a KEY naming the command they act on: "RETR" means
every RETR, "RETR#2" only the second RETR this server process receives (counted
over all connections, so "#1" then "#2" works across a client's reconnect).
The key "GREETING" stands for a new connection and its welcome message.

  --root DIR               folder served as "/" (required)                    ["root"]
  --log FILE               append every command line received, verbatim (the
                           raw bytes without the line end, Telnet IP/Synch
                           bytes before ABOR included), one per line          ["log"]
  --ipv6                   listen on ::1 instead of 127.0.0.1                 ["ipv6"]
  --user NAME, --password PW
                           accept only this login (default: any login)        ["user"], ["password"]
  --greeting TEXT          welcome text; repeat it for a multi-line welcome:
                           the first line is sent as "220-TEXT", the last as
                           "220 TEXT" and the ones between verbatim, so a middle
                           line may itself start with digits ("220 x" too)   [string or list]
  --syst TEXT              SYST reply text (default "UNIX Type: L8")          ["syst"]
  --feat LINE              one FEAT line, repeatable; replaces the default list
                           (EPSV, MDTM, SIZE, REST STREAM, UTF8,
                           MLST type*;size*;modify*;). "--feat ''" alone gives
                           a server with no features                         [list]
  --multiline KEY          answer KEY in the "CODE-" ... "CODE " form, with the
                           --multiline-text lines between; the command is still
                           carried out. KEY "*" means every reply            [list]
  --multiline-text LINE    lines put inside those replies, repeatable (default
                           " continued" and "123 a line that starts with digits")
  --reply KEY=TEXT         answer KEY with these bytes instead of carrying it
                           out. TEXT is sent as given (no line end is added) with
                           the escapes \r \n \t \0 \\ \xHH, and \w which sends
                           what came before as a TCP segment of its own and then
                           waits --split-pause seconds. A reply of "230..." to
                           USER or PASS counts as a successful login.
                           [{"KEY": "text"} or {"KEY": ["chunk", {"pause": 0.5}, "chunk"]}
                            or {"KEY": {"file": "path"}}]
  --reply-file KEY=PATH    answer KEY with the bytes of this file, verbatim (for
                           replies of 100 KB and other things awkward to type)
  --split-pause SECONDS    pause taken by \w (default 0.2)                    ["split_pause"]
  --close-after KEY        close the control connection on receiving KEY, after
                           its --reply if it has one, otherwise without any
                           reply. "GREETING" closes before the welcome        [list]
  --stall KEY[=SECONDS]    on receiving KEY, send nothing for SECONDS (forever if
                           omitted), then carry on                            [{"KEY": seconds or null}]
  --no-rest                REST gets "502" and FEAT leaves out REST STREAM   ["no_rest"]
  --no-epsv                EPSV gets "500" and FEAT leaves out EPSV          ["no_epsv"]
  --pasv-address A.B.C.D   address announced in PASV replies (with the real
                           port); only 0.0.0.0 or a 127.x.y.z address. The data
                           socket still listens on the control connection's
                           address only                                       ["pasv_address"]
  --list-format unix|dos   how LIST shows the real files (default unix)       ["list_format"]
  --list-file [DIR=]PATH   LIST sends the bytes of PATH verbatim instead of a
                           real listing; with DIR only for that remote folder
                           ("/" or "/a/b"), repeatable                       [path or {"DIR": path}]
  --nlst-file [DIR=]PATH   the same for NLST                                  [same]
  --mlsd-file [DIR=]PATH   the same for MLSD                                  [same]
  --drop-after [KEY=]BYTES close the data connection after BYTES bytes of data
                           and reply 426. KEY defaults to RETR; LIST, NLST, MLSD
                           (bytes sent) and STOR, APPE (bytes received) work too  [{"KEY": n} or n]
  --data-stall-after [KEY=]BYTES
                           after BYTES bytes of data, send (RETR, listings) or
                           read (STOR, APPE) nothing more and keep the data
                           connection open (until ABOR, the client closing it,
                           or the end of the server)                          [same]
  --rate [KEY=]BYTES_PER_SECOND
                           send the data of KEY (default RETR) at this rate   [same]
  --data-timeout SECONDS   wait this long for a data connection (default 15)  ["data_timeout"]

Active mode (PORT, EPRT) connects only to a loopback address; any other gets 501.
TYPE A converts line ends (LF to CR LF when sending, CR LF to LF when receiving).
REST before STOR keeps the first BYTES of the file and writes from there.
"""

import argparse
import calendar
import ipaddress
import json
import os
import posixpath
import re
import select
import signal
import socket
import stat
import sys
import threading
import time
import traceback

DEFAULT_FEATURES = ["EPSV", "MDTM", "SIZE", "REST STREAM", "UTF8",
                    "MLST type*;size*;modify*;"]
DEFAULT_MULTILINE_TEXT = [" continued", "123 a line that starts with digits"]
MONTHS = ["Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct",
          "Nov", "Dec"]
PRE_LOGIN = {"USER", "PASS", "QUIT", "SYST", "FEAT", "OPTS", "HELP", "NOOP", "ABOR"}
DATA_COMMANDS = {"RETR", "LIST", "NLST", "MLSD", "STOR", "APPE"}
MAX_COMMAND_LINE = 64 * 1024
CHUNK = 64 * 1024
LOG_LOCK = threading.Lock()


class Pause:
    def __init__(self, seconds):
        self.seconds = seconds


class ConfigError(Exception):
    pass


def parse_escaped(text):
    """Turns an override text into a list of bytes chunks and Pause markers."""
    parts = []
    cur = bytearray()
    i = 0
    while i < len(text):
        c = text[i]
        if c != "\\":
            cur += c.encode("utf-8", "surrogateescape")
            i += 1
            continue
        if i + 1 >= len(text):
            raise ConfigError("reply text ends with a lone backslash: %r" % text)
        e = text[i + 1]
        i += 2
        if e == "r":
            cur += b"\r"
        elif e == "n":
            cur += b"\n"
        elif e == "t":
            cur += b"\t"
        elif e == "0":
            cur += b"\0"
        elif e == "\\":
            cur += b"\\"
        elif e == "x":
            digits = text[i:i + 2]
            if not re.fullmatch(r"[0-9A-Fa-f]{2}", digits):
                raise ConfigError("\\x needs two hex digits in %r" % text)
            cur.append(int(digits, 16))
            i += 2
        elif e == "w":
            parts.append(bytes(cur))
            cur = bytearray()
            parts.append(Pause(None))
        else:
            raise ConfigError("unknown escape \\%s in %r" % (e, text))
    parts.append(bytes(cur))
    return [p for p in parts if not (isinstance(p, bytes) and not p)]


def parse_reply_value(value):
    if isinstance(value, str):
        return parse_escaped(value)
    if isinstance(value, dict) and set(value) == {"file"}:
        with open(value["file"], "rb") as f:
            return [f.read()]
    if isinstance(value, list):
        parts = []
        for item in value:
            if isinstance(item, str):
                parts.extend(parse_escaped(item))
            elif isinstance(item, dict) and set(item) == {"pause"}:
                parts.append(Pause(float(item["pause"])))
            else:
                raise ConfigError("bad reply chunk: %r" % (item,))
        return parts
    raise ConfigError("bad reply value: %r" % (value,))


def check_key(key):
    if not re.fullmatch(r"\*|[A-Za-z]+(#[1-9][0-9]*)?", key):
        raise ConfigError("bad command key %r (want CMD or CMD#N)" % key)
    verb, _, nth = key.partition("#")
    return verb.upper() + ("#" + nth if nth else "")


def split_key_value(text, default_key=None):
    if "=" in text:
        key, value = text.split("=", 1)
        return key, value
    if default_key is None:
        raise ConfigError("expected KEY=VALUE, got %r" % text)
    return default_key, text


def loopback_or_any(text):
    try:
        addr = ipaddress.ip_address(text)
    except ValueError:
        raise ConfigError("not an IP address: %r" % text)
    if addr.version != 4 or not (addr.is_loopback or str(addr) == "0.0.0.0"):
        raise ConfigError("PASV may announce only 0.0.0.0 or 127.x.y.z, not %r" % text)
    return text


class Config:
    def __init__(self, settings):
        s = dict(settings)
        root = s.pop("root", None)
        if not root:
            raise ConfigError("--root is required")
        self.root = os.path.realpath(root)
        if not os.path.isdir(self.root):
            raise ConfigError("--root is not a folder: %r" % self.root)
        self.log = s.pop("log", None)
        self.ipv6 = bool(s.pop("ipv6", False))
        self.user = s.pop("user", None)
        self.password = s.pop("password", None)

        greeting = s.pop("greeting", None)
        if greeting is None:
            greeting = ["Kestrix scripted test server ready."]
        elif isinstance(greeting, str):
            greeting = [greeting]
        self.greeting = list(greeting)
        self.syst = s.pop("syst", None) or "UNIX Type: L8"

        self.no_rest = bool(s.pop("no_rest", False))
        self.no_epsv = bool(s.pop("no_epsv", False))
        feat = s.pop("feat", None)
        if feat is None:
            feat = [f for f in DEFAULT_FEATURES
                    if not (self.no_epsv and f == "EPSV")
                    and not (self.no_rest and f == "REST STREAM")]
        self.feat = [f for f in feat if f]

        self.multiline = {check_key(k) for k in s.pop("multiline", None) or []}
        text = s.pop("multiline_text", None)
        self.multiline_text = list(text) if text else list(DEFAULT_MULTILINE_TEXT)

        self.split_pause = float(s.pop("split_pause", None) or 0.2)
        self.replies = {check_key(k): parse_reply_value(v)
                        for k, v in (s.pop("replies", None) or {}).items()}
        self.close_after = {check_key(k) for k in s.pop("close_after", None) or []}
        self.stall = {check_key(k): (None if v is None else float(v))
                      for k, v in (s.pop("stall", None) or {}).items()}

        pasv = s.pop("pasv_address", None)
        self.pasv_address = loopback_or_any(pasv) if pasv else None
        self.list_format = s.pop("list_format", None) or "unix"
        if self.list_format not in ("unix", "dos"):
            raise ConfigError("--list-format is unix or dos")
        self.listing_files = {}
        for verb in ("LIST", "NLST", "MLSD"):
            value = s.pop(verb.lower() + "_file", None)
            if value is None:
                value = {}
            elif isinstance(value, str):
                value = {"*": value}
            table = {}
            for folder, path in value.items():
                if folder != "*":
                    folder = normalize_virtual("/", folder)
                with open(path, "rb"):
                    pass
                table[folder] = path
            self.listing_files[verb] = table

        self.drop_after = self._byte_table(s.pop("drop_after", None))
        self.data_stall_after = self._byte_table(s.pop("data_stall_after", None))
        self.rate = self._byte_table(s.pop("rate", None))
        for key, value in self.rate.items():
            if value <= 0:
                raise ConfigError("--rate must be positive (%s)" % key)
        self.data_timeout = float(s.pop("data_timeout", None) or 15)

        s.pop("scenario", None)
        if s:
            raise ConfigError("unknown settings: %s" % ", ".join(sorted(s)))

    @staticmethod
    def _byte_table(value):
        if value is None:
            return {}
        if isinstance(value, int):
            value = {"RETR": value}
        table = {}
        for key, n in value.items():
            key = check_key(key)
            if key.split("#")[0] not in DATA_COMMANDS:
                raise ConfigError("%s moves no data" % key)
            if not isinstance(n, int) or n < 0:
                raise ConfigError("byte count for %s must be a whole number >= 0" % key)
            table[key] = n
        return table


def parse_settings(argv):
    p = argparse.ArgumentParser(
        description="Scriptable FTP server for tests (see the module docstring)")
    p.add_argument("--scenario")
    p.add_argument("--root")
    p.add_argument("--log")
    p.add_argument("--ipv6", action="store_true", default=None)
    p.add_argument("--user")
    p.add_argument("--password")
    p.add_argument("--greeting", action="append")
    p.add_argument("--syst")
    p.add_argument("--feat", action="append")
    p.add_argument("--multiline", action="append")
    p.add_argument("--multiline-text", action="append")
    p.add_argument("--reply", action="append", default=[])
    p.add_argument("--reply-file", action="append", default=[])
    p.add_argument("--split-pause", type=float)
    p.add_argument("--close-after", action="append")
    p.add_argument("--stall", action="append", default=[])
    p.add_argument("--no-rest", action="store_true", default=None)
    p.add_argument("--no-epsv", action="store_true", default=None)
    p.add_argument("--pasv-address")
    p.add_argument("--list-format")
    p.add_argument("--list-file", action="append", default=[])
    p.add_argument("--nlst-file", action="append", default=[])
    p.add_argument("--mlsd-file", action="append", default=[])
    p.add_argument("--drop-after", action="append", default=[])
    p.add_argument("--data-stall-after", action="append", default=[])
    p.add_argument("--rate", action="append", default=[])
    p.add_argument("--data-timeout", type=float)
    args = p.parse_args(argv)

    settings = {}
    if args.scenario:
        with open(args.scenario, "rb") as f:
            scenario = json.load(f)
        if not isinstance(scenario, dict):
            raise ConfigError("the scenario file must hold a JSON object")
        settings.update(scenario)

    for name in ("root", "log", "ipv6", "user", "password", "greeting", "syst",
                 "feat", "multiline", "multiline_text", "split_pause",
                 "close_after", "no_rest", "no_epsv", "pasv_address",
                 "list_format", "data_timeout"):
        value = getattr(args, name)
        if value is not None:
            settings[name] = value

    replies = dict(settings.get("replies") or {})
    for item in args.reply:
        key, text = split_key_value(item)
        replies[key] = text
    for item in args.reply_file:
        key, path = split_key_value(item)
        replies[key] = {"file": path}
    settings["replies"] = replies

    stall = dict(settings.get("stall") or {})
    for item in args.stall:
        if "=" in item:
            key, seconds = item.split("=", 1)
            stall[key] = float(seconds)
        else:
            stall[item] = None
    settings["stall"] = stall

    for name in ("list_file", "nlst_file", "mlsd_file"):
        items = getattr(args, name)
        if not items:
            continue
        table = settings.get(name)
        table = {"*": table} if isinstance(table, str) else dict(table or {})
        for item in items:
            if "=" in item:
                folder, path = item.split("=", 1)
            else:
                folder, path = "*", item
            table[folder] = path
        settings[name] = table

    for name in ("drop_after", "data_stall_after", "rate"):
        items = getattr(args, name)
        if not items:
            continue
        table = settings.get(name)
        table = {"RETR": table} if isinstance(table, int) else dict(table or {})
        for item in items:
            key, n = split_key_value(item, "RETR")
            try:
                table[key] = int(n)
            except ValueError:
                raise ConfigError("--%s wants a whole number: %r"
                                  % (name.replace("_", "-"), item))
        settings[name] = table

    return Config(settings)


def normalize_virtual(cwd, arg):
    path = posixpath.normpath(posixpath.join(cwd, arg))
    # normpath keeps a leading "//"; the remote namespace has a single root.
    return "/" + path.lstrip("/")


def quote_path(vpath):
    return vpath.replace('"', '""')


def utc_fact(t):
    return time.strftime("%Y%m%d%H%M%S", time.gmtime(t))


def unix_line(name, st, now):
    mode = st.st_mode
    kind = "d" if stat.S_ISDIR(mode) else "l" if stat.S_ISLNK(mode) else "-"
    perms = ""
    for who in ("USR", "GRP", "OTH"):
        for what, letter in (("R", "r"), ("W", "w"), ("X", "x")):
            perms += letter if mode & getattr(stat, "S_I%s%s" % (what, who)) else "-"
    t = time.gmtime(st.st_mtime)
    if abs(now - st.st_mtime) < 180 * 86400:
        when = "%s %2d %02d:%02d" % (MONTHS[t.tm_mon - 1], t.tm_mday, t.tm_hour, t.tm_min)
    else:
        when = "%s %2d  %d" % (MONTHS[t.tm_mon - 1], t.tm_mday, t.tm_year)
    return "%s%s %3d owner    group    %12d %s %s" % (
        kind, perms, st.st_nlink, st.st_size, when, name)


def dos_line(name, st):
    t = time.gmtime(st.st_mtime)
    hour = t.tm_hour % 12 or 12
    ampm = "AM" if t.tm_hour < 12 else "PM"
    when = "%02d-%02d-%02d  %02d:%02d%s" % (t.tm_mon, t.tm_mday, t.tm_year % 100,
                                          hour, t.tm_min, ampm)
    if stat.S_ISDIR(st.st_mode):
        return "%s       <DIR>          %s" % (when, name)
    return "%s %20d %s" % (when, st.st_size, name)


def mlsx_facts(st):
    if stat.S_ISDIR(st.st_mode):
        return "type=dir;modify=%s;" % utc_fact(st.st_mtime)
    return "type=file;size=%d;modify=%s;" % (st.st_size, utc_fact(st.st_mtime))


class AsciiSender:
    """LF to CR LF, leaving existing CR LF pairs alone, across chunk borders."""

    def __init__(self):
        self.last = b""

    def convert(self, data):
        out = re.sub(rb"(?<!\r)\n", b"\r\n", data)
        if data.startswith(b"\n") and self.last == b"\r":
            out = out[1:]
        if data:
            self.last = data[-1:]
        return out


class AsciiReceiver:
    def __init__(self):
        self.pending_cr = False

    def convert(self, data, final=False):
        if self.pending_cr:
            data = b"\r" + data
            self.pending_cr = False
        if data.endswith(b"\r") and not final:
            data = data[:-1]
            self.pending_cr = True
        return data.replace(b"\r\n", b"\n")


class Server:
    def __init__(self, config):
        self.config = config
        self.lock = threading.Lock()
        self.counts = {}
        self.log_file = open(config.log, "ab") if config.log else None

    def log_line(self, raw):
        if self.log_file is None:
            return
        with LOG_LOCK:
            self.log_file.write(raw + b"\n")
            self.log_file.flush()

    def count(self, verb):
        with self.lock:
            n = self.counts.get(verb, 0) + 1
            self.counts[verb] = n
            return n

    @staticmethod
    def lookup(table, verb, nth):
        return Server.find(table, verb, nth)[1]

    @staticmethod
    def find(table, verb, nth):
        """(found, value) for the narrowest key naming this command."""
        for key in ("%s#%d" % (verb, nth), verb, "*"):
            if key in table:
                return True, table[key]
        return False, None

    @staticmethod
    def matches(keys, verb, nth):
        return ("%s#%d" % (verb, nth)) in keys or verb in keys or "*" in keys


class Aborted(Exception):
    pass


class ControlClosed(Exception):
    pass


class Session:
    def __init__(self, server, sock):
        self.server = server
        self.config = server.config
        self.sock = sock
        self.inbuf = b""
        self.cwd = "/"
        self.user = None
        self.logged_in = False
        self.binary = False
        self.rest = 0
        self.rename_from = None
        self.pasv_listener = None
        self.active_target = None
        self.local_ip = sock.getsockname()[0]
        self.current_verb = None
        self.current_nth = 0

    # ----- control connection -----

    def send_raw(self, parts):
        for part in parts:
            if isinstance(part, Pause):
                time.sleep(self.config.split_pause if part.seconds is None else part.seconds)
            elif part:
                self.sock.sendall(part)

    def reply(self, code, text):
        lines = text if isinstance(text, list) else [text]
        if len(lines) == 1 and self.server.matches(self.config.multiline,
                                                   self.current_verb or "",
                                                   self.current_nth):
            lines = [lines[0]] + self.config.multiline_text + [lines[0]]
        if len(lines) == 1:
            out = "%d %s\r\n" % (code, lines[0])
        else:
            out = "%d-%s\r\n" % (code, lines[0])
            for middle in lines[1:-1]:
                out += middle + "\r\n"
            out += "%d %s\r\n" % (code, lines[-1])
        self.sock.sendall(out.encode("utf-8", "surrogateescape"))

    def fill(self):
        data = self.sock.recv(CHUNK)
        if not data:
            raise ControlClosed()
        self.inbuf += data

    def read_line(self):
        while b"\n" not in self.inbuf:
            if len(self.inbuf) > MAX_COMMAND_LINE:
                self.reply(500, "Command line too long.")
                raise ControlClosed()
            self.fill()
        line, self.inbuf = self.inbuf.split(b"\n", 1)
        return line[:-1] if line.endswith(b"\r") else line

    @staticmethod
    def split_command(raw):
        # Clients may put the Telnet "interrupt process" and "synch" bytes
        # before ABOR; they are not part of the verb.
        stripped = raw.lstrip(b"\xff\xf4\xf2")
        text = stripped.decode("utf-8", "surrogateescape")
        verb, _, arg = text.partition(" ")
        return verb.upper(), arg

    def check_abort(self):
        """During a transfer: reads what the client sent and raises Aborted
        on an ABOR line; other commands wait their turn."""
        while True:
            r, _, _ = select.select([self.sock], [], [], 0)
            if not r:
                break
            self.fill()
        lines = self.inbuf.split(b"\n")
        for i, line in enumerate(lines[:-1]):
            raw = line[:-1] if line.endswith(b"\r") else line
            verb, _ = self.split_command(raw)
            if verb == "ABOR":
                del lines[i]
                self.inbuf = b"\n".join(lines)
                self.server.log_line(raw)
                self.server.count("ABOR")
                raise Aborted()

    # ----- main loop -----

    def run(self):
        config = self.config
        nth = self.server.count("GREETING")
        self.current_verb, self.current_nth = "GREETING", nth
        stalled, seconds = self.server.find(config.stall, "GREETING", nth)
        if stalled:
            self.sleep(seconds)
        override = self.server.lookup(config.replies, "GREETING", nth)
        if override is not None:
            self.send_raw(override)
        elif not self.server.matches(config.close_after, "GREETING", nth):
            self.reply(220, config.greeting)
        if self.server.matches(config.close_after, "GREETING", nth):
            return

        while True:
            raw = self.read_line()
            self.server.log_line(raw)
            verb, arg = self.split_command(raw)
            nth = self.server.count(verb)
            self.current_verb, self.current_nth = verb, nth

            stalled, seconds = self.server.find(config.stall, verb, nth)
            if stalled:
                self.sleep(seconds)

            override = self.server.lookup(config.replies, verb, nth)
            closing = self.server.matches(config.close_after, verb, nth)
            if override is not None:
                self.send_raw(override)
                if verb in ("USER", "PASS") and b"".join(
                        p for p in override if isinstance(p, bytes)).startswith(b"230"):
                    self.logged_in = True
                if closing:
                    return
                continue
            if closing:
                return

            handler = getattr(self, "ftp_" + verb, None) if verb.isalpha() else None
            if handler is None:
                self.reply(500, "'%s': command not understood." % verb)
                continue
            if not self.logged_in and verb not in PRE_LOGIN:
                self.reply(530, "Please log in with USER and PASS first.")
                continue
            if verb not in ("RETR", "STOR", "APPE", "REST", "PASV", "EPSV",
                            "PORT", "EPRT", "TYPE"):
                self.rest = 0
            if handler(arg) == "quit":
                return

    @staticmethod
    def sleep(seconds):
        if seconds is None:
            while True:
                time.sleep(3600)
        time.sleep(seconds)

    def close(self):
        self.drop_data_setup()
        # Commands the client sent after the one that ended the session are
        # still unread; closing over them would send a reset, and the client
        # might then lose the replies already on their way. Hang up with a
        # FIN and wait briefly for the client to do the same.
        try:
            self.sock.shutdown(socket.SHUT_WR)
            deadline = time.monotonic() + 2
            while time.monotonic() < deadline:
                r, _, _ = select.select([self.sock], [], [], deadline - time.monotonic())
                if not r or not self.sock.recv(CHUNK):
                    break
        except OSError:
            pass
        try:
            self.sock.close()
        except OSError:
            pass

    # ----- paths -----

    def virtual(self, arg):
        return normalize_virtual(self.cwd, arg) if arg else self.cwd

    def real(self, vpath):
        if "\0" in vpath:
            return None
        return os.path.join(self.config.root, vpath.lstrip("/"))

    def stat_of(self, vpath, follow=True):
        real = self.real(vpath)
        if real is None:
            return None, None
        try:
            return real, (os.stat(real) if follow else os.lstat(real))
        except OSError:
            return real, None

    # ----- login and small commands -----

    def ftp_USER(self, arg):
        self.user = arg
        self.logged_in = False
        self.reply(331, "Password required for %s." % arg)

    def ftp_PASS(self, arg):
        if self.user is None:
            self.reply(503, "Login with USER first.")
            return
        wanted_user = self.config.user
        wanted_pw = self.config.password
        if (wanted_user is not None and self.user != wanted_user) or \
                (wanted_pw is not None and arg != wanted_pw):
            self.user = None
            self.reply(530, "Login incorrect.")
            return
        self.logged_in = True
        self.reply(230, "User logged in.")

    def ftp_QUIT(self, arg):
        self.reply(221, "Goodbye.")
        return "quit"

    def ftp_SYST(self, arg):
        self.reply(215, self.config.syst)

    def ftp_FEAT(self, arg):
        if not self.config.feat:
            self.reply(211, "No features.")
            return
        lines = ["Features:"] + [" " + f for f in self.config.feat] + ["End"]
        self.reply(211, lines)

    def ftp_OPTS(self, arg):
        name = arg.split(" ")[0].upper()
        if name == "UTF8":
            self.reply(200, "Always in UTF8 mode.")
        elif name == "MLST":
            self.reply(200, "MLST OPTS " + arg[5:])
        else:
            self.reply(501, "Option not understood.")

    def ftp_HELP(self, arg):
        names = sorted(n[4:] for n in dir(self) if n.startswith("ftp_"))
        self.reply(214, ["The following commands are recognized:",
                         " " + " ".join(names), "Help OK."])

    def ftp_NOOP(self, arg):
        self.reply(200, "NOOP ok.")

    def ftp_ABOR(self, arg):
        self.drop_data_setup()
        self.reply(225, "No transfer to abort.")

    def ftp_PWD(self, arg):
        self.reply(257, '"%s" is the current directory.' % quote_path(self.cwd))

    ftp_XPWD = ftp_PWD

    def ftp_CWD(self, arg):
        vpath = self.virtual(arg)
        _, st = self.stat_of(vpath)
        if st is None or not stat.S_ISDIR(st.st_mode):
            self.reply(550, "%s: No such directory." % arg)
            return
        self.cwd = vpath
        self.reply(250, "CWD command successful.")

    def ftp_CDUP(self, arg):
        self.cwd = normalize_virtual(self.cwd, "..")
        self.reply(250, "CDUP command successful.")

    def ftp_TYPE(self, arg):
        t = arg.upper().split()
        if t in (["A"], ["A", "N"]):
            self.binary = False
            self.reply(200, "Type set to A.")
        elif t in (["I"], ["L", "8"]):
            self.binary = True
            self.reply(200, "Type set to I.")
        else:
            self.reply(504, "Type not supported.")

    def ftp_MODE(self, arg):
        if arg.upper() == "S":
            self.reply(200, "Mode set to S.")
        else:
            self.reply(504, "Mode not supported.")

    def ftp_STRU(self, arg):
        if arg.upper() == "F":
            self.reply(200, "Structure set to F.")
        else:
            self.reply(504, "Structure not supported.")

    def ftp_ALLO(self, arg):
        self.reply(202, "No storage allocation necessary.")

    def ftp_REST(self, arg):
        if self.config.no_rest:
            self.reply(502, "REST not implemented.")
            return
        if not arg.isdigit():
            self.reply(501, "REST wants a byte offset.")
            return
        self.rest = int(arg)
        self.reply(350, "Restarting at %d. Send STORE or RETRIEVE." % self.rest)

    def ftp_SIZE(self, arg):
        _, st = self.stat_of(self.virtual(arg))
        if st is None or not stat.S_ISREG(st.st_mode):
            self.reply(550, "%s: not a plain file." % arg)
            return
        self.reply(213, str(st.st_size))

    def ftp_MDTM(self, arg):
        _, st = self.stat_of(self.virtual(arg))
        if st is None or not stat.S_ISREG(st.st_mode):
            self.reply(550, "%s: not a plain file." % arg)
            return
        self.reply(213, utc_fact(st.st_mtime))

    def ftp_MLST(self, arg):
        vpath = self.virtual(arg)
        _, st = self.stat_of(vpath)
        if st is None:
            self.reply(550, "%s: No such file or directory." % arg)
            return
        self.reply(250, ["Listing " + vpath, " " + mlsx_facts(st) + " " + vpath, "End."])

    def ftp_DELE(self, arg):
        real, st = self.stat_of(self.virtual(arg), follow=False)
        if st is None or stat.S_ISDIR(st.st_mode):
            self.reply(550, "%s: No such file." % arg)
            return
        try:
            os.unlink(real)
        except OSError as e:
            self.reply(550, "%s: %s." % (arg, e.strerror))
            return
        self.reply(250, "DELE command successful.")

    def ftp_MKD(self, arg):
        vpath = self.virtual(arg)
        real = self.real(vpath)
        try:
            if real is None:
                raise FileNotFoundError(2, "Invalid name")
            os.mkdir(real)
        except OSError as e:
            self.reply(550, "%s: %s." % (arg, e.strerror))
            return
        self.reply(257, '"%s" directory created.' % quote_path(vpath))

    def ftp_RMD(self, arg):
        vpath = self.virtual(arg)
        real = self.real(vpath)
        if vpath == "/" or real is None:
            self.reply(550, "%s: Permission denied." % arg)
            return
        try:
            os.rmdir(real)
        except OSError as e:
            self.reply(550, "%s: %s." % (arg, e.strerror))
            return
        self.reply(250, "RMD command successful.")

    def ftp_RNFR(self, arg):
        vpath = self.virtual(arg)
        _, st = self.stat_of(vpath, follow=False)
        if st is None or vpath == "/":
            self.reply(550, "%s: No such file or directory." % arg)
            return
        self.rename_from = vpath
        self.reply(350, "File exists, ready for destination name.")

    def ftp_RNTO(self, arg):
        source, self.rename_from = self.rename_from, None
        if source is None:
            self.reply(503, "Bad sequence of commands: RNFR first.")
            return
        target = self.real(self.virtual(arg))
        try:
            if target is None:
                raise FileNotFoundError(2, "Invalid name")
            os.rename(self.real(source), target)
        except OSError as e:
            self.reply(550, "%s: %s." % (arg, e.strerror))
            return
        self.reply(250, "Rename successful.")

    def ftp_SITE(self, arg):
        sub, _, rest = arg.partition(" ")
        sub = sub.upper()
        if sub == "HELP":
            self.reply(214, ["The following SITE commands are recognized:",
                             " CHMOD HELP", "Help OK."])
            return
        if sub == "CHMOD":
            mode, _, name = rest.partition(" ")
            real, st = self.stat_of(self.virtual(name))
            if not re.fullmatch(r"[0-7]{1,4}", mode) or not name:
                self.reply(501, "Usage: SITE CHMOD mode file.")
                return
            if st is None:
                self.reply(550, "%s: No such file or directory." % name)
                return
            try:
                os.chmod(real, int(mode, 8))
            except OSError as e:
                self.reply(550, "%s: %s." % (name, e.strerror))
                return
            self.reply(200, "SITE CHMOD command successful.")
            return
        if sub == "UTIME":
            # ProFTPD's form: SITE UTIME YYYYMMDDhhmmss path, in UTC.
            stamp, _, name = rest.partition(" ")
            real, st = self.stat_of(self.virtual(name))
            if not re.fullmatch(r"[0-9]{14}", stamp) or not name:
                self.reply(501, "Usage: SITE UTIME YYYYMMDDhhmmss path.")
                return
            if st is None:
                self.reply(550, "%s: No such file or directory." % name)
                return
            when = time.strptime(stamp, "%Y%m%d%H%M%S")
            seconds = calendar.timegm(when)
            os.utime(real, (seconds, seconds))
            self.reply(200, "SITE UTIME command successful.")
            return
        self.reply(500, "'SITE %s': command not understood." % sub)

    # ----- data connection setup -----

    def drop_data_setup(self):
        if self.pasv_listener is not None:
            try:
                self.pasv_listener.close()
            except OSError:
                pass
        self.pasv_listener = None
        self.active_target = None

    def listen_passive(self):
        self.drop_data_setup()
        family = socket.AF_INET6 if ":" in self.local_ip else socket.AF_INET
        listener = socket.socket(family, socket.SOCK_STREAM)
        listener.bind((self.local_ip, 0))
        listener.listen(1)
        self.pasv_listener = listener
        return listener.getsockname()[1]

    def ftp_PASV(self, arg):
        if ":" in self.local_ip:
            self.reply(425, "PASV needs IPv4; use EPSV.")
            return
        port = self.listen_passive()
        address = self.config.pasv_address or self.local_ip
        self.reply(227, "Entering Passive Mode (%s,%d,%d)." % (
            address.replace(".", ","), port >> 8, port & 0xFF))

    def ftp_EPSV(self, arg):
        if self.config.no_epsv:
            self.reply(500, "EPSV not understood.")
            return
        if arg.upper() == "ALL":
            self.reply(200, "EPSV ALL ok.")
            return
        if arg and arg not in ("1", "2"):
            self.reply(522, "Network protocol not supported, use (1,2).")
            return
        port = self.listen_passive()
        self.reply(229, "Entering Extended Passive Mode (|||%d|)." % port)

    def set_active(self, host, port):
        try:
            addr = ipaddress.ip_address(host)
        except ValueError:
            self.reply(501, "Bad address.")
            return
        if not addr.is_loopback:
            self.reply(501, "Refusing to connect to %s: loopback addresses only." % host)
            return
        if not 0 < port < 65536:
            self.reply(501, "Bad port.")
            return
        self.drop_data_setup()
        self.active_target = (str(addr), port, addr.version)

    def ftp_PORT(self, arg):
        fields = arg.split(",")
        if len(fields) != 6 or not all(f.strip().isdigit() and int(f) < 256 for f in fields):
            self.reply(501, "Syntax error in PORT address.")
            return
        nums = [int(f) for f in fields]
        self.set_active("%d.%d.%d.%d" % tuple(nums[:4]), nums[4] * 256 + nums[5])
        if self.active_target is not None:
            self.reply(200, "PORT command successful.")

    def ftp_EPRT(self, arg):
        if len(arg) < 2:
            self.reply(501, "Syntax error in EPRT address.")
            return
        parts = arg.split(arg[0])
        if len(parts) != 5 or parts[4] != "" or not parts[3].isdigit():
            self.reply(501, "Syntax error in EPRT address.")
            return
        if parts[1] not in ("1", "2"):
            self.reply(522, "Network protocol not supported, use (1,2).")
            return
        self.set_active(parts[2], int(parts[3]))
        if self.active_target is not None:
            self.reply(200, "EPRT command successful.")

    def open_data(self):
        """Returns the data socket, or None after replying 425."""
        timeout = self.config.data_timeout
        try:
            if self.pasv_listener is not None:
                listener = self.pasv_listener
                self.pasv_listener = None
                try:
                    listener.settimeout(timeout)
                    conn, _ = listener.accept()
                finally:
                    listener.close()
            elif self.active_target is not None:
                host, port, version = self.active_target
                self.active_target = None
                family = socket.AF_INET6 if version == 6 else socket.AF_INET
                conn = socket.socket(family, socket.SOCK_STREAM)
                conn.settimeout(timeout)
                try:
                    conn.connect((host, port))
                except OSError:
                    conn.close()
                    raise
            else:
                self.reply(425, "Use PORT, PASV or EPSV first.")
                return None
        except OSError:
            self.reply(425, "Cannot open data connection.")
            return None
        conn.settimeout(None)
        return conn

    @staticmethod
    def close_data(conn):
        try:
            conn.close()
        except OSError:
            pass

    # ----- sending and receiving data -----

    def transfer_limits(self):
        verb, nth = self.current_verb, self.current_nth
        return (self.server.lookup(self.config.drop_after, verb, nth),
                self.server.lookup(self.config.data_stall_after, verb, nth),
                self.server.lookup(self.config.rate, verb, nth))

    def wait_writable(self, conn):
        """Waits until conn takes data, watching for ABOR meanwhile."""
        while True:
            self.check_abort()
            _, w, _ = select.select([self.sock], [conn], [])
            if w:
                return

    def stall_data(self, conn):
        while True:
            self.check_abort()
            r, _, _ = select.select([self.sock, conn], [], [])
            if conn in r:
                try:
                    if not conn.recv(4096):
                        return
                except BlockingIOError:
                    pass
                except OSError:
                    return

    def send_stream(self, conn, chunks):
        """Returns "ok" or "dropped"; raises Aborted."""
        drop, stall_at, rate = self.transfer_limits()
        # A blocking send of a whole chunk to a client that stopped reading
        # would leave an ABOR unanswered.
        conn.setblocking(False)
        start = time.monotonic()
        sent = 0
        for chunk in chunks:
            view = memoryview(chunk)
            while view:
                n = len(view)
                if drop is not None:
                    n = min(n, drop - sent)
                    if n == 0:
                        return "dropped"
                if stall_at is not None:
                    n = min(n, stall_at - sent)
                    if n == 0:
                        self.stall_data(conn)
                        return "dropped"
                if rate is not None:
                    n = min(n, max(1, rate // 20))
                    due = start + sent / rate
                    while time.monotonic() < due:
                        self.check_abort()
                        select.select([self.sock], [], [], due - time.monotonic())
                self.wait_writable(conn)
                try:
                    written = conn.send(view[:n])
                except BlockingIOError:
                    written = 0
                sent += written
                view = view[written:]
        if drop is not None and sent >= drop:
            return "dropped"
        if stall_at is not None and sent >= stall_at:
            self.stall_data(conn)
            return "dropped"
        return "ok"

    def run_transfer(self, start_text, body):
        """Opens the data connection, says 150, runs body(conn), then ends
        the transfer with 226, 426 or the ABOR replies."""
        conn = self.open_data()
        if conn is None:
            return
        self.reply(150, start_text)
        try:
            try:
                outcome = body(conn)
            finally:
                self.close_data(conn)
        except Aborted:
            self.reply(426, "Connection closed; transfer aborted.")
            self.reply(226, "ABOR command successful.")
            return
        except (BrokenPipeError, ConnectionResetError):
            outcome = "dropped"
        if outcome == "ok":
            self.reply(226, "Transfer complete.")
        else:
            self.reply(426, "Connection closed; transfer aborted.")

    def file_chunks(self, real, offset):
        ascii_out = None if self.binary else AsciiSender()
        with open(real, "rb") as f:
            f.seek(offset)
            while True:
                data = f.read(CHUNK)
                if not data:
                    return
                yield data if ascii_out is None else ascii_out.convert(data)

    def ftp_RETR(self, arg):
        offset, self.rest = self.rest, 0
        real, st = self.stat_of(self.virtual(arg))
        if st is None or not stat.S_ISREG(st.st_mode):
            self.drop_data_setup()
            self.reply(550, "%s: No such file." % arg)
            return
        if offset > st.st_size:
            self.drop_data_setup()
            self.reply(554, "Invalid REST offset %d." % offset)
            return
        mode = "BINARY" if self.binary else "ASCII"
        self.run_transfer(
            "Opening %s mode data connection for %s (%d bytes)." % (mode, arg, st.st_size),
            lambda conn: self.send_stream(conn, self.file_chunks(real, offset)))

    def receive_into(self, conn, f):
        # The file must be complete on disk before the final reply goes out:
        # a test reads it as soon as it sees 226.
        try:
            return self.receive_loop(conn, f)
        finally:
            f.flush()

    def receive_loop(self, conn, f):
        drop, stall_at, _ = self.transfer_limits()
        ascii_in = None if self.binary else AsciiReceiver()
        received = 0
        while True:
            self.check_abort()
            if stall_at is not None and received >= stall_at:
                # What came so far is on disk; then nothing more is read, so
                # the client's sends block until it gives up or dies.
                f.flush()
                while True:
                    self.check_abort()
                    r, _, _ = select.select([self.sock], [], [], 0.2)
                    if r and not self.sock.recv(1, socket.MSG_PEEK):
                        return "dropped"
            r, _, _ = select.select([self.sock, conn], [], [])
            if conn not in r:
                continue
            want = CHUNK if drop is None else min(CHUNK, drop - received)
            if stall_at is not None:
                want = min(want, stall_at - received)
            if want == 0:
                return "dropped"
            data = conn.recv(want)
            if not data:
                if ascii_in is not None:
                    f.write(ascii_in.convert(b"", final=True))
                return "ok"
            received += len(data)
            f.write(data if ascii_in is None else ascii_in.convert(data))

    def store(self, arg, append):
        offset, self.rest = self.rest, 0
        vpath = self.virtual(arg)
        real, st = self.stat_of(vpath)
        if real is None or vpath == "/" or (st is not None and not stat.S_ISREG(st.st_mode)):
            self.drop_data_setup()
            self.reply(550, "%s: Cannot store here." % arg)
            return
        try:
            if append:
                f = open(real, "ab")
            elif offset:
                f = open(real, "r+b" if st is not None else "w+b")
                f.truncate(offset)
                f.seek(offset)
            else:
                f = open(real, "wb")
        except OSError as e:
            self.drop_data_setup()
            self.reply(550, "%s: %s." % (arg, e.strerror))
            return
        with f:
            self.run_transfer("Opening %s mode data connection for %s." % (
                "BINARY" if self.binary else "ASCII", arg),
                lambda conn: self.receive_into(conn, f))

    def ftp_STOR(self, arg):
        self.store(arg, append=False)

    def ftp_APPE(self, arg):
        self.store(arg, append=True)

    # ----- listings -----

    def listing_override(self, verb, vfolder):
        table = self.config.listing_files[verb]
        path = table.get(vfolder, table.get("*"))
        if path is None:
            return None
        with open(path, "rb") as f:
            return f.read()

    def entries(self, vpath):
        """[(name, stat)] of a folder, or of a single file; None when missing."""
        real, st = self.stat_of(vpath)
        if st is None:
            return None
        if not stat.S_ISDIR(st.st_mode):
            return [(posixpath.basename(vpath), st)]
        result = []
        try:
            names = sorted(os.listdir(real))
        except OSError:
            return None
        for name in names:
            try:
                result.append((name, os.lstat(os.path.join(real, name))))
            except OSError:
                pass
        return result

    def send_listing(self, verb, arg, make_lines):
        # "LIST -la folder": leading options are ls switches, not names.
        words = arg.split(" ")
        while words and words[0].startswith("-"):
            words.pop(0)
        vpath = self.virtual(" ".join(words))
        data = self.listing_override(verb, vpath)
        if data is None:
            entries = self.entries(vpath)
            if entries is None:
                self.drop_data_setup()
                self.reply(550, "%s: No such file or directory." % (arg or vpath))
                return
            lines = make_lines(vpath, entries)
            if lines is None:
                return
            data = "".join(l + "\r\n" for l in lines).encode("utf-8", "surrogateescape")
        self.run_transfer("Here comes the directory listing.",
                          lambda conn: self.send_stream(conn, [data]))

    def ftp_LIST(self, arg):
        now = time.time()
        if self.config.list_format == "dos":
            make = lambda vpath, entries: [dos_line(n, st) for n, st in entries]
        else:
            make = lambda vpath, entries: [unix_line(n, st, now) for n, st in entries]
        self.send_listing("LIST", arg, make)

    def ftp_NLST(self, arg):
        self.send_listing("NLST", arg, lambda vpath, entries: [n for n, _ in entries])

    def ftp_MLSD(self, arg):
        def make(vpath, entries):
            _, st = self.stat_of(vpath)
            if not stat.S_ISDIR(st.st_mode):
                self.drop_data_setup()
                self.reply(501, "%s: not a directory." % arg)
                return None
            return [mlsx_facts(st) + " " + name for name, st in entries]
        self.send_listing("MLSD", arg, make)


def serve_client(server, sock):
    session = Session(server, sock)
    try:
        session.run()
    except (ControlClosed, ConnectionError):
        pass
    except OSError as e:
        sys.stderr.write("scripted_ftpd: connection error: %s\n" % e)
    except Exception:
        sys.stderr.write("scripted_ftpd: session failed:\n" + traceback.format_exc())
    finally:
        session.close()


def accept_loop(server, listener):
    while True:
        try:
            sock, _ = listener.accept()
        except OSError:
            # Out of descriptors, most likely; spinning would not free any.
            time.sleep(0.1)
            continue
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        # An ABOR sent with "urgent" data must reach the line reader.
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_OOBINLINE, 1)
        threading.Thread(target=serve_client, args=(server, sock), daemon=True).start()


def shutdown(*_ignored):
    # Stalled sessions sleep forever by design, so waiting for threads to end
    # is not an option: leave at once and let the kernel close the sockets.
    # Holding the lock keeps a half-written line out of the command log.
    LOG_LOCK.acquire(timeout=1)
    os._exit(0)


def watch_stdin():
    try:
        while os.read(0, 4096):
            pass
    except OSError:
        pass
    shutdown()


def main():
    try:
        config = parse_settings(sys.argv[1:])
    except (ConfigError, OSError, ValueError) as e:
        sys.stderr.write("scripted_ftpd: %s\n" % e)
        sys.exit(2)
    server = Server(config)

    family = socket.AF_INET6 if config.ipv6 else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind(("::1" if config.ipv6 else "127.0.0.1", 0))
    listener.listen(16)

    signal.signal(signal.SIGTERM, shutdown)
    signal.signal(signal.SIGINT, shutdown)
    threading.Thread(target=watch_stdin, daemon=True).start()
    threading.Thread(target=accept_loop, args=(server, listener), daemon=True).start()

    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
