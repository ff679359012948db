#!/usr/bin/env python3
"""A loopback HTTP proxy for the tests: CONNECT tunnels and absolute-URI requests, on 127.0.0.1 with
ports the system picks, forwarding only to 127.0.0.1 and localhost.

  loopback_proxy.py start DIR USER PASSWORD   serve in the background, write DIR/ports.txt
  loopback_proxy.py stop DIR                  stop it

Two proxies run: "open" (no sign-in) and "auth" (Basic USER:PASSWORD; anything else gets a 407).
"open" also serves a configuration script at /proxy.pac: DIRECT for localhost, itself for other hosts.
ports.txt holds "open PORT" and "auth PORT". Each request head a proxy gets is logged to DIR/proxy.log
as "NAME METHOD TARGET auth=none|good|bad"; every byte a client sends (tunnelled bytes too) is appended
to DIR/client-bytes.bin, so a test can show what the proxy could read.
"""
import base64
import os
import select
import signal
import socket
import sys
import threading

LOCK = threading.Lock()
ALLOWED_HOSTS = {"127.0.0.1", "localhost"}


def log(directory, line):
    with LOCK, open(os.path.join(directory, "proxy.log"), "a") as f:
        f.write(line + "\n")


def record(directory, data):
    with LOCK, open(os.path.join(directory, "client-bytes.bin"), "ab") as f:
        f.write(data)


def read_head(conn, directory):
    data = b""
    while b"\r\n\r\n" not in data:
        chunk = conn.recv(65536)
        if not chunk:
            return None, b""
        record(directory, chunk)
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    return head.decode("latin-1"), rest


def header(head, name):
    for line in head.split("\r\n")[1:]:
        key, _, value = line.partition(":")
        if key.strip().lower() == name.lower():
            return value.strip()
    return None


def split_host_port(text, default_port):
    host, _, port = text.rpartition(":")
    if not host or not port.isdigit():
        return text, default_port
    return host, int(port)


def relay(client, upstream, directory):
    sockets = [client, upstream]
    while True:
        readable, _, _ = select.select(sockets, [], [], 30)
        if not readable:
            return
        for s in readable:
            data = s.recv(65536)
            if not data:
                return
            if s is client:
                record(directory, data)
                upstream.sendall(data)
            else:
                client.sendall(data)


def send_407(conn):
    body = b"<html>Proxy Authentication Required</html>"
    conn.sendall(b"HTTP/1.1 407 Proxy Authentication Required\r\n"
                 b"Proxy-Authenticate: Basic realm=\"loopback\"\r\n"
                 b"Content-Type: text/html\r\nContent-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)


def send_script(conn):
    port = conn.getsockname()[1]
    body = ("function FindProxyForURL(url, host) {\n"
            "    if (host == \"localhost\") return \"DIRECT\";\n"
            f"    return \"PROXY 127.0.0.1:{port}\";\n"
            "}\n").encode()
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: application/x-ns-proxy-autoconfig\r\nConnection: close\r\n"
                 b"Content-Length: " + str(len(body)).encode() + b"\r\n\r\n" + body)


def serve(conn, name, directory, credentials):
    try:
        while True:
            head, rest = read_head(conn, directory)
            if head is None:
                return
            method, target = head.split(" ")[:2]
            given = header(head, "Proxy-Authorization")
            auth = "none" if given is None else ("good" if given == credentials else "bad")
            log(directory, f"{name} {method} {target} auth={auth}")
            length = int(header(head, "Content-Length") or 0)
            while len(rest) < length:
                chunk = conn.recv(65536)
                if not chunk:
                    return
                record(directory, chunk)
                rest += chunk
            if credentials is not None and auth != "good":
                send_407(conn)
                continue
            if method == "CONNECT":
                host, port = split_host_port(target, 443)
                if host not in ALLOWED_HOSTS:
                    conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
                    return
                upstream = socket.create_connection(("127.0.0.1", port))
                conn.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
                if rest:
                    upstream.sendall(rest)
                relay(conn, upstream, directory)
                upstream.close()
                return
            if target == "/proxy.pac" and credentials is None:
                send_script(conn)
                return
            if not target.startswith("http://"):
                conn.sendall(b"HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            authority, _, path = target[len("http://"):].partition("/")
            host, port = split_host_port(authority, 80)
            if host not in ALLOWED_HOSTS:
                conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
                return
            # Forwarded as origin-form on a connection of its own, which the answer's end closes.
            lines = head.split("\r\n")
            forwarded = [f"{method} /{path} {lines[0].split(' ')[2]}"]
            for line in lines[1:]:
                key = line.partition(":")[0].strip().lower()
                if key not in ("proxy-authorization", "proxy-connection", "connection"):
                    forwarded.append(line)
            forwarded.append("Connection: close")
            upstream = socket.create_connection(("127.0.0.1", port))
            upstream.sendall(("\r\n".join(forwarded) + "\r\n\r\n").encode("latin-1") + rest[:length])
            while True:
                data = upstream.recv(65536)
                if not data:
                    break
                conn.sendall(data)
            upstream.close()
            return
    except OSError:
        pass
    finally:
        conn.close()


def listen():
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("127.0.0.1", 0))
    s.listen(32)
    return s


def accept_loop(listener, name, directory, credentials):
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, name, directory, credentials), daemon=True).start()


def start(directory, user, password):
    directory = os.path.abspath(directory)
    os.makedirs(directory, exist_ok=True)
    stop(directory)
    for name in ("proxy.log", "client-bytes.bin"):
        open(os.path.join(directory, name), "wb").close()
    listeners = {"open": listen(), "auth": listen()}
    child = os.fork()
    if child != 0:
        with open(os.path.join(directory, "proxy.pid"), "w") as f:
            f.write(str(child))
        with open(os.path.join(directory, "ports.txt"), "w") as f:
            for name, s in listeners.items():
                f.write(f"{name} {s.getsockname()[1]}\n")
        return 0
    os.setsid()
    with open(os.devnull, "rb") as null_in, open(os.devnull, "wb") as null_out:
        os.dup2(null_in.fileno(), 0)
        os.dup2(null_out.fileno(), 1)
        os.dup2(null_out.fileno(), 2)
    credentials = "Basic " + base64.b64encode(f"{user}:{password}".encode()).decode()
    threading.Thread(target=accept_loop, args=(listeners["open"], "open", directory, None), daemon=True).start()
    accept_loop(listeners["auth"], "auth", directory, credentials)
    return 0


def stop(directory):
    pid_file = os.path.join(os.path.abspath(directory), "proxy.pid")
    if os.path.exists(pid_file):
        try:
            os.kill(int(open(pid_file).read()), signal.SIGTERM)
        except (OSError, ValueError):
            pass
        os.remove(pid_file)
    return 0


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[1] == "start":
        sys.exit(start(sys.argv[2], sys.argv[3], sys.argv[4]))
    if len(sys.argv) == 3 and sys.argv[1] == "stop":
        sys.exit(stop(sys.argv[2]))
    sys.stderr.write(__doc__)
    sys.exit(2)
