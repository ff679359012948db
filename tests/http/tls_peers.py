#!/usr/bin/env python3
"""TLS peers for the secure-channel tests, each on 127.0.0.1 with a port the system picks.

  tls_peers.py start DIR MAKE_CERTS [SIGNER SETUP]
                                      make certificates in DIR, serve in the background, write DIR/ports.txt
                                      (with SIGNER and SETUP also DIR/setup-revoked.exe, setup-crl-offline.exe)
  tls_peers.py stop DIR               stop the background server

Each line of ports.txt is "MODE PORT". The peers "revoked" and "crl-offline" send leaves made at each
start (tools/certs/make_revocation_certs.sh) that name a CRL: the first one served here over plain
HTTP, which lists that leaf as revoked; the second one on a port where nobody listens. After every connection a server appends
"MODE received N" (application bytes received) or "MODE handshake-failed REASON" to DIR/peers.log.
"""
import http.server
import os
import select
import signal
import socket
import ssl
import subprocess
import sys
import threading
import time

LOCK = threading.Lock()


def log(directory, line):
    with LOCK, open(os.path.join(directory, "peers.log"), "a") as f:
        f.write(line + "\n")


def context(directory, chain, key, version=None, request_client_cert=False):
    ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    ctx.load_cert_chain(os.path.join(directory, chain), os.path.join(directory, key))
    if version is not None:
        # Old protocol versions need the lowest security level in OpenSSL 3.
        ctx.set_ciphers("DEFAULT:@SECLEVEL=0")
        ctx.minimum_version = version
        ctx.maximum_version = version
    if request_client_cert:
        ctx.load_verify_locations(os.path.join(directory, "ca.pem"))
        ctx.verify_mode = ssl.CERT_OPTIONAL  # asks for a certificate, goes on without one
    return ctx


def receive_until_eof(conn):
    total = 0
    try:
        while True:
            data = conn.recv(65536)
            if not data:
                break
            total += len(data)
    except (OSError, ssl.SSLError):
        pass
    return total


def serve_refused(directory, mode, conn):
    """Completes the handshake and counts what the client sends before it goes away."""
    log(directory, f"{mode} received {receive_until_eof(conn)}")


def serve_echo(directory, mode, conn):
    """Echoes; the log line also tells whether the client ended with a close notice. The socket
    reports a bare TCP close as an error (see handle), so an empty read is the notice alone."""
    total, ending = 0, "notice"
    try:
        while True:
            data = conn.recv(65536)
            if not data:
                break
            total += len(data)
            conn.sendall(data)
    except (OSError, ssl.SSLError):
        ending = "no-notice"
    log(directory, f"{mode} received {total} {ending}")


def pattern(size):
    unit = bytes(range(256)) * 4
    return (unit * (size // len(unit) + 1))[:size]


def read_line(conn):
    line = b""
    while not line.endswith(b"\n"):
        data = conn.recv(1)
        if not data:
            break
        line += data
    return line


def serve_big(directory, mode, conn):
    """"SIZE\\n" asks for SIZE pattern bytes: first as one large write (full records), then the
    same again as many small writes (many small records per read), then the close notice."""
    line = read_line(conn)
    size = int(line.strip() or b"0")
    body = pattern(size)
    conn.sendall(body)
    offset, step = 0, 1
    while offset < size:
        conn.sendall(body[offset:offset + step])
        offset += step
        step = step % 997 + 13
    log(directory, f"{mode} received {len(line)}")
    try:
        conn.unwrap()
    except (OSError, ssl.SSLError):
        pass  # the client closes after the notice without answering it


def serve_close_notice(directory, mode, conn):
    """Sends a line and the close notice, then keeps the TCP connection open until the client
    closes it: only the notice can end the client's read."""
    conn.sendall(b"last line before the notice\n")
    try:
        # Sends the notice, then waits for the client's answer or its closing of the connection.
        conn.unwrap()
        log(directory, f"{mode} received 0 answered")
    except (OSError, ssl.SSLError):
        log(directory, f"{mode} received 0 closed")


def serve_answer_then_close(directory, mode, conn):
    """Reads one request and answers it with two lines, then closes TCP without the close notice
    ("bare-close") or after it ("notice-close"). The path /close-delimited sends no length, so only the
    close tells where the body ends; /with-length sends a Content-Length."""
    path = read_request(conn)
    if path is None:
        return
    lines = b"first line\r\nsecond line\r\n"
    framing = b"Content-Length: %d\r\n" % len(lines) if path.endswith("/with-length") else b""
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n" + framing + b"Connection: close\r\n\r\n" + lines)
    if mode == "notice-close":
        try:
            conn.unwrap()
        except (OSError, ssl.SSLError):
            pass
    log(directory, f"{mode} answered {path}")
    # "bare-close": the socket closes in handle() without a notice.


def serve_greeting_with_finished(directory, mode, raw, ctx):
    """Runs the handshake through memory buffers so the server's last handshake message and the
    first application data leave in one send."""
    incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
    tls = ctx.wrap_bio(incoming, outgoing, server_side=True)
    raw.settimeout(20)
    while True:
        try:
            tls.do_handshake()
            break
        except ssl.SSLWantReadError:
            pending = outgoing.read()
            if pending:
                raw.sendall(pending)
            data = raw.recv(65536)
            if not data:
                log(directory, f"{mode} handshake-failed eof")
                return
            incoming.write(data)
    tls.write(b"greeting sent with the handshake\n")
    raw.sendall(outgoing.read())  # Finished and the greeting together
    total = 0
    while True:
        try:
            data = raw.recv(65536)
        except OSError:
            break
        if not data:
            break
        incoming.write(data)
        try:
            while True:
                plain = tls.read(65536)
                if not plain:
                    break
                total += len(plain)
                tls.write(plain)
        except (ssl.SSLWantReadError, ssl.SSLZeroReturnError):
            pass
        pending = outgoing.read()
        if pending:
            raw.sendall(pending)
    log(directory, f"{mode} received {total}")


RENEGOTIATION_LINES = b"".join(b"line %d of the answer\r\n" % i for i in range(1, 41))


def read_request(conn):
    """One HTTP request (header and Content-Length body), or None when the client went away."""
    request = b""
    while b"\r\n\r\n" not in request:
        data = conn.recv(65536)
        if not data:
            return None
        request += data
    head, _, body = request.partition(b"\r\n\r\n")
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    while len(body) < length:
        body += conn.recv(65536)
    return head.split(b" ")[1].decode()


def run_renegotiation(conn, raw):
    """Asks for a new handshake and drives it to its end; the client sends no data meanwhile."""
    from OpenSSL import SSL
    conn.renegotiate()
    conn.do_handshake()  # sends the request
    raw.setblocking(False)
    deadline = time.time() + 20
    try:
        while conn.renegotiate_pending() and time.time() < deadline:
            try:
                conn.recv(65536)
            except SSL.WantReadError:
                select.select([raw], [], [], 0.2)
    finally:
        raw.setblocking(True)
    return not conn.renegotiate_pending()


def serve_renegotiating(directory, mode, raw, certs):
    """Answers each request on a kept-alive connection with RENEGOTIATION_LINES. A path ending in
    /before, /header, /between or /body asks for a new handshake before the first byte, inside the
    header, between header and body, or inside the body; any other path answers plainly. Mode
    "renegotiate-cert" asks for a client certificate in the new handshake (and goes on without one)."""
    from OpenSSL import SSL
    ctx = SSL.Context(SSL.TLS_SERVER_METHOD)
    ctx.set_min_proto_version(SSL.TLS1_2_VERSION)
    ctx.set_max_proto_version(SSL.TLS1_2_VERSION)
    ctx.use_certificate_chain_file(os.path.join(directory, certs[0]))
    ctx.use_privatekey_file(os.path.join(directory, certs[1]))
    conn = SSL.Connection(ctx, raw)
    conn.set_accept_state()
    try:
        conn.do_handshake()
    except SSL.Error as e:
        log(directory, f"{mode} handshake-failed {e!r}")
        return
    while True:
        try:
            path = read_request(conn)
        except (SSL.ZeroReturnError, SSL.SysCallError):
            return
        if path is None:
            return
        header = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: %d\r\n\r\n" % len(
            RENEGOTIATION_LINES)
        answer = header + RENEGOTIATION_LINES
        point = path.rsplit("/", 1)[-1]
        cuts = {"before": 0, "header": 12, "between": len(header), "body": len(header) + 100}
        if point not in cuts:
            conn.sendall(answer)
            log(directory, f"{mode} answered {path} renegotiations {conn.total_renegotiations()}")
            continue
        conn.sendall(answer[:cuts[point]])
        if mode == "renegotiate-cert":
            conn.set_verify(SSL.VERIFY_PEER, lambda *args: True)
        done = run_renegotiation(conn, raw)
        conn.sendall(answer[cuts[point]:])
        log(directory, f"{mode} answered {path} renegotiations {conn.total_renegotiations()}"
                       f"{'' if done else ' unfinished'}")


def run_server(directory, mode, listener, ctx, handler):
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=handle, args=(directory, mode, raw, ctx, handler), daemon=True).start()


def handle(directory, mode, raw, ctx, handler):
    try:
        if handler is serve_renegotiating:
            raw.settimeout(None)  # pyOpenSSL reads a socket with a time-out as a non-blocking one
            handler(directory, mode, raw, ctx)
            return
        if handler is serve_greeting_with_finished:
            handler(directory, mode, raw, ctx)
            return
        raw.settimeout(20)
        try:
            # A TCP close without the notice raises instead of reading as an empty record, so
            # a peer can tell the two apart.
            conn = ctx.wrap_socket(raw, server_side=True, suppress_ragged_eofs=False)
        except (OSError, ssl.SSLError) as e:
            log(directory, f"{mode} handshake-failed {type(e).__name__}")
            return
        handler(directory, mode, conn)
    except Exception as e:  # a peer must never die on one bad connection
        log(directory, f"{mode} error {e!r}")
    finally:
        raw.close()


class CrlHandler(http.server.BaseHTTPRequestHandler):
    """Answers GET PATH with the CRL; anything else with 404."""
    directory = ""
    path_served = ""

    def do_GET(self):
        if self.path != self.path_served:
            self.send_error(404)
            return
        with open(os.path.join(self.directory, "ca.crl"), "rb") as f:
            body = f.read()
        log(self.directory, f"crl fetched {self.path}")
        self.send_response(200)
        self.send_header("Content-Type", "application/pkix-crl")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, fmt, *args):
        pass


def start_crl_server(directory, make_certs, signing):
    """Serves the CRL on a port of its own and makes the leaves that name it; returns the sockets
    that must stay open (the CRL server, and the bound port where nobody listens)."""
    run = f"run-{os.getpid()}-{int(time.time())}"  # a CRL URL of its own for every start
    handler = type("BoundCrlHandler", (CrlHandler,), {"directory": directory, "path_served": f"/{run}/ca.crl"})
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    server.daemon_threads = True
    nobody = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    nobody.bind(("127.0.0.1", 0))  # bound, never listening: a connection there is refused
    crl_url = f"http://127.0.0.1:{server.server_address[1]}/{run}/ca.crl"
    offline_url = f"http://127.0.0.1:{nobody.getsockname()[1]}/{run}/ca.crl"
    script = os.path.join(os.path.dirname(os.path.abspath(make_certs)), "make_revocation_certs.sh")
    subprocess.run([script, directory, crl_url, offline_url] + signing, check=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server, nobody


def serve(directory, make_certs, signing):
    kept = start_crl_server(directory, make_certs, signing)
    modes = {
        "echo": (context(directory, "localhost-chain.pem", "localhost.key"), serve_echo),
        "big": (context(directory, "localhost-chain.pem", "localhost.key"), serve_big),
        "close-notice": (context(directory, "localhost-chain.pem", "localhost.key"), serve_close_notice),
        "bare-close": (context(directory, "localhost-chain.pem", "localhost.key"), serve_answer_then_close),
        "notice-close": (context(directory, "localhost-chain.pem", "localhost.key"), serve_answer_then_close),
        "greeting": (context(directory, "localhost-chain.pem", "localhost.key"), serve_greeting_with_finished),
        # pyOpenSSL peers: Python's ssl module cannot ask for a new handshake.
        "renegotiate": (("localhost-chain.pem", "localhost.key"), serve_renegotiating),
        "renegotiate-cert": (("localhost-chain.pem", "localhost.key"), serve_renegotiating),
        "client-cert": (context(directory, "localhost-chain.pem", "localhost.key", request_client_cert=True),
                        serve_echo),
        "untrusted-chain": (context(directory, "untrusted-chain.pem", "untrusted.key"), serve_refused),
        "untrusted-leaf": (context(directory, "untrusted.pem", "untrusted.key"), serve_refused),
        "other-host": (context(directory, "otherhost-chain.pem", "otherhost.key"), serve_refused),
        "expired": (context(directory, "expired-chain.pem", "expired.key"), serve_refused),
        "client-only": (context(directory, "clientonly-chain.pem", "clientonly.key"), serve_refused),
        "tls10": (context(directory, "localhost-chain.pem", "localhost.key", version=ssl.TLSVersion.TLSv1),
                  serve_refused),
        "revoked": (context(directory, "revoked-chain.pem", "revoked.key"), serve_refused),
        "crl-offline": (context(directory, "crl-offline-chain.pem", "crl-offline.key"), serve_answer_then_close),
    }
    lines = []
    for mode, (ctx, handler) in modes.items():
        listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        listener.bind(("127.0.0.1", 0))
        listener.listen(16)
        lines.append(f"{mode} {listener.getsockname()[1]}")
        threading.Thread(target=run_server, args=(directory, mode, listener, ctx, handler), daemon=True).start()
    tmp = os.path.join(directory, "ports.tmp")
    with open(tmp, "w") as f:
        f.write("\n".join(lines) + "\n")
    os.replace(tmp, os.path.join(directory, "ports.txt"))
    # Stopped by "stop"; ends by itself too, so an interrupted test run leaves nothing behind for long.
    time.sleep(1800)
    del kept


def start(directory, make_certs, signing):
    os.makedirs(directory, exist_ok=True)
    subprocess.run([make_certs, directory], check=True)
    stop(directory)
    for name in ("ports.txt", "peers.log"):
        if os.path.exists(os.path.join(directory, name)):
            os.remove(os.path.join(directory, name))
    with open(os.path.join(directory, "server.out"), "w") as out:
        proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "serve", directory, make_certs] + signing,
                                stdin=subprocess.DEVNULL, stdout=out, stderr=out, start_new_session=True)
    with open(os.path.join(directory, "server.pid"), "w") as f:
        f.write(str(proc.pid))
    for _ in range(300):  # the revocation leaves are made first
        if os.path.exists(os.path.join(directory, "ports.txt")):
            return 0
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    print("TLS peers did not start; see", os.path.join(directory, "server.out"))
    return 1


def stop(directory):
    pid_file = os.path.join(directory, "server.pid")
    if os.path.exists(pid_file):
        with open(pid_file) as f:
            pid = int(f.read().strip() or 0)
        os.remove(pid_file)
        try:
            os.kill(pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
    return 0


if __name__ == "__main__":
    command, directory = sys.argv[1], sys.argv[2]
    if command == "start":
        sys.exit(start(directory, sys.argv[3], sys.argv[4:6]))
    elif command == "stop":
        sys.exit(stop(directory))
    elif command == "serve":
        serve(directory, sys.argv[3], sys.argv[4:6])
