#!/usr/bin/env python3
"""Local stand-ins for the vendor's update catalogue and download servers, for the demo and the
end-to-end tests. Loopback only, on ports the system picks.

The catalogue answers the POST to CATALOGUE_PATH over HTTPS (plain HTTP with --plain-catalogue, for
trying things out without certificates) with the lines of a template file in which "{http}" stands
for the download server's base address. It checks the form field "system_password".

The download server answers GET /files/NAME with the file NAME from --files (404 when there is no
such file) and GET /slow/NAME with the same file sent slowly, so a progress dialog stays on screen
long enough to be seen and cancelled. GET /held/NAME sends the file's first half and then nothing more
until the client goes away (at most HELD_SECONDS): a download that is under way whenever it is cancelled,
however slowly the client got there. GET /cut/NAME sends the file's first half in chunks and then
closes the connection without the last chunk: a transfer cut short that announced no length.

With --mode-file, the catalogue looks at that file on each request: when it exists and says "trickle",
the answer's body comes one byte a second; "silent", no answer at all until the client goes
(at most HELD_SECONDS). Answers without end: "gzip-bomb", a gzip body of 1 MB that inflates to
1 GiB; "endless-body", valid lines without a length until the client goes; "endless-header", a
header line that never ends. A test writes the file before it presses Check and removes it after.

When both listen, the addresses go to --ports-file as "key=value" lines:
    catalogue_port, catalogue_url, http_port, http_url
Every request is logged to --log as one line: "<server> <method> <path> <status> <details>".

--daemon detaches (for a CTest fixture or a shell script) and returns once the ports file exists;
--stop PIDFILE ends a detached server.
"""
import argparse
import http.server
import os
import signal
import socket
import ssl
import sys
import threading
import time
import traceback
import urllib.parse
import zlib
import select

CATALOGUE_PATH = "/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates"
HELD_SECONDS = 120


class Log:
    def __init__(self, path):
        self.path = path
        self.lock = threading.Lock()

    def write(self, line):
        if not self.path:
            return
        with self.lock, open(self.path, "a", encoding="utf-8") as f:
            f.write(line + "\n")


class QuietServer(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def handle_error(self, request, client_address):
        # A client that goes away mid-transfer (a cancelled download) is not an error here.
        pass


class V6QuietServer(QuietServer):
    address_family = socket.AF_INET6


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "MemolineDemo/1.0"
    config = None  # set on the subclass per server

    def log_message(self, fmt, *args):
        pass

    def record(self, status, details=""):
        self.config["log"].write(f"{self.config['name']} {self.command} {self.path} {status} {details}".rstrip())

    def reply(self, status, body, content_type="text/plain; charset=utf-8"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.close_connection = True


GZIP_BOMB = []  # made once, when first asked for: 1 GiB of zeros as one gzip member


def gzip_bomb():
    if not GZIP_BOMB:
        packer = zlib.compressobj(9, zlib.DEFLATED, 31)
        zeros = bytes(1 << 20)
        GZIP_BOMB.append(b"".join(packer.compress(zeros) for _ in range(1024)) + packer.flush())
    return GZIP_BOMB[0]


def send_gzip_bomb(handler):
    body = gzip_bomb()
    handler.send_response(200)
    handler.send_header("Content-Type", "text/plain; charset=utf-8")
    handler.send_header("Content-Encoding", "gzip")
    handler.send_header("Content-Length", str(len(body)))
    handler.end_headers()
    handler.wfile.write(body)


def send_endless_body(handler):
    handler.send_response(200)
    handler.send_header("Content-Type", "text/plain; charset=utf-8")
    handler.send_header("Connection", "close")
    handler.end_headers()
    lines = b"Memoline Server 9;9.0.0;2026-04-01;http://127.0.0.1/Setup.exe;x\r\n" * 1000
    end = time.time() + HELD_SECONDS
    while time.time() < end:
        handler.wfile.write(lines)


def send_endless_header(handler):
    handler.wfile.write(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Filler: ")
    end = time.time() + HELD_SECONDS
    while time.time() < end:
        handler.wfile.write(b"a" * 65536)


ENDLESS_ANSWERS = {"gzip-bomb": send_gzip_bomb, "endless-body": send_endless_body,
                   "endless-header": send_endless_header}


class CatalogueHandler(Handler):
    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        if self.path != CATALOGUE_PATH:
            self.record(404)
            self.reply(404, b"Not Found")
            return
        ctype = (self.headers.get("Content-Type") or "").lower()
        form = urllib.parse.parse_qs(body.decode("utf-8", "replace"), keep_blank_values=True)
        given = form.get("system_password", [""])[0]
        if given != self.config["password"]:
            self.record(403, f"password=wrong type={ctype}")
            self.reply(403, b"Access denied")
            return
        self.record(200, f"password=ok type={ctype}")
        # A real catalogue takes a moment: the updater shows that it is checking meanwhile.
        time.sleep(self.config["catalogue_delay"])
        mode = self.mode()
        if mode == "silent":
            select.select([self.connection], [], [], HELD_SECONDS)
            self.close_connection = True
            return
        if mode == "trickle":
            self.trickle(self.config["catalogue"]())
            return
        if mode in ENDLESS_ANSWERS:
            try:
                ENDLESS_ANSWERS[mode](self)
            except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
                self.config["log"].write(f"catalogue POST {self.path} {mode}-aborted-by-client")
            self.close_connection = True
            return
        self.reply(200, self.config["catalogue"]())

    def mode(self):
        path = self.config["mode_file"]
        try:
            with open(path, encoding="utf-8") as f:
                return f.read().strip()
        except (OSError, TypeError):
            return ""

    def trickle(self, body):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        try:
            for at in range(len(body)):
                self.wfile.write(body[at:at + 1])
                self.wfile.flush()
                time.sleep(1.0)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            self.config["log"].write(f"catalogue POST {self.path} trickle-aborted-by-client")

    def do_GET(self):
        self.record(405)
        self.reply(405, b"Method Not Allowed")


class FilesHandler(Handler):
    def do_GET(self):
        agent = self.headers.get("User-Agent", "")
        parts = urllib.parse.urlsplit(self.path).path.split("/")
        # Only /files/NAME, /slow/NAME, /held/NAME and /cut/NAME, NAME a plain name inside the served folder.
        if len(parts) != 3 or parts[1] not in ("files", "slow", "held", "cut"):
            self.record(404, f"agent={agent}")
            self.reply(404, b"Not Found")
            return
        name = urllib.parse.unquote(parts[2])
        path = os.path.join(self.config["files"], name)
        if not name or name in (".", "..") or "/" in name or "\\" in name or not os.path.isfile(path):
            self.record(404, f"agent={agent}")
            self.reply(404, b"Not Found")
            return
        with open(path, "rb") as f:
            data = f.read()
        self.record(200, f"agent={agent} bytes={len(data)}")
        if parts[1] == "cut":
            self.send_cut_short(data)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        try:
            if parts[1] == "files":
                self.wfile.write(data)
                return
            if parts[1] == "held":
                self.send_half_and_hold(data)
                return
            self.send_slowly(data)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError, OSError):
            self.config["log"].write(f"files GET {self.path} aborted-by-client")

    def send_cut_short(self, data):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        self.close_connection = True
        half = data[:len(data) // 2]
        try:
            for at in range(0, len(half), 4096):
                piece = half[at:at + 4096]
                self.wfile.write(b"%x\r\n" % len(piece) + piece + b"\r\n")
            self.wfile.flush()
        except (BrokenPipeError, ConnectionResetError, OSError):
            pass

    def send_half_and_hold(self, data):
        self.wfile.write(data[:len(data) // 2])
        self.wfile.flush()
        # The client's close makes the socket readable (end of stream); nothing else is sent to us.
        select.select([self.connection], [], [], HELD_SECONDS)
        self.config["log"].write(f"files GET {self.path} held-until-client-went")

    def send_slowly(self, data):
        seconds = self.config["slow_seconds"]
        pieces = 60
        step = max(1, (len(data) + pieces - 1) // pieces)
        for at in range(0, len(data), step):
            self.wfile.write(data[at:at + step])
            self.wfile.flush()
            time.sleep(seconds / pieces)


def make_handler(base, **config):
    return type(base.__name__ + "Bound", (base,), {"config": config})


def serve(server):
    t = threading.Thread(target=server.serve_forever, daemon=True)
    t.start()
    return t


def write_ports(path, values):
    tmp = path + ".tmp"
    with open(tmp, "w", encoding="utf-8") as f:
        for k, v in values.items():
            f.write(f"{k}={v}\n")
    os.replace(tmp, path)  # readers never see half a file


def run(args):
    log = Log(args.log)
    files_handler = make_handler(FilesHandler, name="files", log=log, files=args.files,
                                 slow_seconds=args.slow_seconds)
    files_server = QuietServer(("127.0.0.1", 0), files_handler)
    http_port = files_server.server_address[1]
    http_url = f"http://127.0.0.1:{http_port}"

    def catalogue_text():
        with open(args.catalogue, encoding="utf-8") as f:
            lines = f.read().splitlines()
        return "".join(line.replace("{http}", http_url) + "\r\n" for line in lines).encode("utf-8")

    cat_handler = make_handler(CatalogueHandler, name="catalogue", log=log, password=args.password,
                               catalogue=catalogue_text,
                               catalogue_delay=args.catalogue_delay, mode_file=args.mode_file)
    cat_servers = [QuietServer(("127.0.0.1", 0), cat_handler)]
    cat_port = cat_servers[0].server_address[1]
    # "localhost" may resolve to ::1 first: listen there too, on the same port, when the system allows.
    try:
        cat_servers.append(V6QuietServer(("::1", cat_port), cat_handler))
    except OSError:
        pass
    scheme = "http"
    if not args.plain_catalogue:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.minimum_version = ssl.TLSVersion.TLSv1_2
        context.load_cert_chain(args.cert, args.key)
        for s in cat_servers:
            s.socket = context.wrap_socket(s.socket, server_side=True)
        scheme = "https"
    for s in cat_servers + [files_server]:
        serve(s)
    write_ports(args.ports_file, {
        "catalogue_port": cat_port,
        "catalogue_url": f"{scheme}://localhost:{cat_port}{CATALOGUE_PATH}",
        "http_port": http_port,
        "http_url": http_url,
    })
    log.write(f"started catalogue={scheme}://localhost:{cat_port} files={http_url}")
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    while not stop.wait(0.5):
        pass
    log.write("stopped")


def daemonize(args):
    for stale in (args.ports_file, args.pid_file):
        try:
            if stale:
                os.unlink(stale)
        except FileNotFoundError:
            pass
    pid = os.fork()
    if pid > 0:
        # The first child only forks the server and ends; the server itself writes the ports file.
        os.waitpid(pid, 0)
        deadline = time.time() + 20
        while time.time() < deadline:
            if os.path.exists(args.ports_file):
                return 0
            if args.pid_file and os.path.exists(args.pid_file) and not alive(args.pid_file):
                print("servers.py: the server ended before it listened", file=sys.stderr)
                return 1
            time.sleep(0.05)
        print("servers.py: the server did not start in time", file=sys.stderr)
        return 1
    os.setsid()
    if os.fork() > 0:
        os._exit(0)
    # Detached: let go of the caller's output (a CTest pipe would otherwise stay open).
    null = os.open(os.devnull, os.O_RDWR)
    err = os.open(args.log, os.O_WRONLY | os.O_CREAT | os.O_APPEND) if args.log else null
    os.dup2(null, 0)
    os.dup2(null, 1)
    os.dup2(err, 2)
    if args.pid_file:
        # Written whole or not at all: the waiting parent reads it while this runs, and took an empty
        # file for a server that had ended.
        tmp = args.pid_file + ".tmp"
        with open(tmp, "w") as f:
            f.write(str(os.getpid()))
        os.replace(tmp, args.pid_file)
    try:
        run(args)
    except BaseException:
        traceback.print_exc()
        sys.stderr.flush()
        os._exit(1)
    os._exit(0)


def alive(pid_file):
    try:
        with open(pid_file) as f:
            os.kill(int(f.read().strip()), 0)
        return True
    except (OSError, ValueError):
        return False


def stop(pid_file):
    try:
        with open(pid_file) as f:
            pid = int(f.read().strip())
    except (FileNotFoundError, ValueError):
        return 0
    try:
        os.kill(pid, signal.SIGTERM)
        for _ in range(100):
            os.kill(pid, 0)
            time.sleep(0.05)
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    os.unlink(pid_file)
    return 0


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--catalogue", help="catalogue template; {http} stands for the download server")
    p.add_argument("--files", help="folder of the setup programs served under /files and /slow")
    p.add_argument("--password", default="", help="the expected system_password")
    p.add_argument("--cert", help="PEM certificate chain of localhost (leaf first)")
    p.add_argument("--key", help="PEM private key of the certificate")
    p.add_argument("--plain-catalogue", action="store_true", help="serve the catalogue over plain HTTP")
    p.add_argument("--ports-file", help="where the addresses are written")
    p.add_argument("--log", help="request log")
    p.add_argument("--slow-seconds", type=float, default=8.0, help="duration of one /slow/ download")
    p.add_argument("--mode-file", help="file whose word (trickle, silent) changes how the catalogue answers")
    p.add_argument("--catalogue-delay", type=float, default=0.0, help="seconds before the catalogue answers")
    p.add_argument("--daemon", action="store_true", help="detach; return once listening")
    p.add_argument("--pid-file", help="with --daemon: where the server's process id goes")
    p.add_argument("--stop", metavar="PIDFILE", help="end a detached server and exit")
    args = p.parse_args()
    if args.stop:
        return stop(args.stop)
    missing = [n for n in ("catalogue", "files", "ports_file") if not getattr(args, n)]
    if not args.plain_catalogue and (not args.cert or not args.key):
        missing.append("cert/key (or --plain-catalogue)")
    if missing:
        p.error("missing: " + ", ".join(missing))
    args.files = os.path.abspath(args.files)
    if args.daemon:
        return daemonize(args)
    run(args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
