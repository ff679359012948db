#!/usr/bin/env python3
"""A local update catalogue: Debian's nginx on 127.0.0.1, over HTTPS with the test CA's certificate,
gzip on and HTTP/1.1 keep-alive, answering the catalogue POST with five-field lines.

  nginx_catalogue.py start DIR CERTDIR   write DIR/nginx.conf, start nginx, write DIR/ports.txt
  nginx_catalogue.py stop DIR            stop it

ports.txt holds "https PORT" and "http PORT". CERTDIR holds localhost-chain.pem and localhost.key.
"""
import os
import socket
import subprocess
import sys
import time

CATALOGUE_PATH = "/vodazodezo_dezeru/index.php/ServerUpdates/GetServerUpdates"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def catalogue_lines(https_port):
    # Two updates newer than 5.9.0 (names with spaces are quoted; one holds a doubled quote), one
    # older, one line that does not split into five fields.
    return [
        f"\"Memoline Server 5.9.1\";5.9.1;2026-01-15;https://localhost:{https_port}/setup/MemolineServer591.exe;a",
        f"\"Memoline Server 5.10 \"\"Spring\"\"\";5.10.0;2026-04-01;"
        f"https://localhost:{https_port}/setup/MemolineServer5100.exe;b",
        "Memoline Server 5.8;5.8.0;2025-06-01;https://localhost/old.exe;c",
        "not an update line",
    ]


def nginx_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n") + '"'


def config(directory, certdir, https_port, http_port):
    body = "\n".join(catalogue_lines(https_port)) + "\n"
    # Bigger than one TLS record and than the client's batch, so gzip and chunking both matter.
    os.makedirs(os.path.join(directory, "www"), exist_ok=True)
    with open(os.path.join(directory, "www", "big.txt"), "w") as f:
        f.write("".join(f"line {i};{i}.0;x;y;z\n" for i in range(4000)))
    return f"""
daemon on;
worker_processes 1;
user root root;
pid {directory}/nginx.pid;
error_log {directory}/error.log;
events {{ worker_connections 256; }}
http {{
    access_log {directory}/access.log;
    client_body_temp_path {directory}/tmp/body;
    proxy_temp_path {directory}/tmp/proxy;
    fastcgi_temp_path {directory}/tmp/fastcgi;
    uwsgi_temp_path {directory}/tmp/uwsgi;
    scgi_temp_path {directory}/tmp/scgi;
    default_type text/plain;
    charset utf-8;
    gzip on;
    gzip_types text/plain;
    gzip_min_length 0;
    keepalive_timeout 60;
    keepalive_requests 10000;
    server {{
        listen 127.0.0.1:{https_port} ssl;
        ssl_certificate {certdir}/localhost-chain.pem;
        ssl_certificate_key {certdir}/localhost.key;
        ssl_protocols TLSv1.2;
        location = {CATALOGUE_PATH} {{ return 200 {nginx_string(body)}; }}
        location = /connection {{ return 200 "$connection_requests"; }}
        location /big {{ root {directory}/www; try_files /big.txt =404; error_page 405 =200 $uri; }}
        location = /to-http {{ return 301 http://127.0.0.1:{http_port}/plain; }}
        location = /missing {{ return 404; }}
    }}
    server {{
        listen 127.0.0.1:{http_port};
        location / {{ return 200 "plain\\n"; }}
    }}
}}
"""


def wait_for(port):
    for _ in range(100):
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.2):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def start(directory, certdir):
    directory = os.path.abspath(directory)
    os.makedirs(os.path.join(directory, "tmp"), exist_ok=True)
    stop(directory)
    for attempt in range(5):
        https_port, http_port = free_port(), free_port()
        conf = os.path.join(directory, "nginx.conf")
        with open(conf, "w") as f:
            f.write(config(directory, os.path.abspath(certdir), https_port, http_port))
        result = subprocess.run(["nginx", "-p", directory, "-c", conf], capture_output=True, text=True)
        if result.returncode == 0 and wait_for(https_port) and wait_for(http_port):
            with open(os.path.join(directory, "ports.txt"), "w") as f:
                f.write(f"https {https_port}\nhttp {http_port}\n")
            return 0
        stop(directory)
        sys.stderr.write(result.stderr)
    return 1


def stop(directory):
    directory = os.path.abspath(directory)
    conf = os.path.join(directory, "nginx.conf")
    pid_file = os.path.join(directory, "nginx.pid")
    if os.path.exists(pid_file) and os.path.exists(conf):
        subprocess.run(["nginx", "-p", directory, "-c", conf, "-s", "stop"], capture_output=True)
        for _ in range(50):
            if not os.path.exists(pid_file):
                break
            time.sleep(0.05)
    return 0


if __name__ == "__main__":
    if len(sys.argv) >= 4 and sys.argv[1] == "start":
        sys.exit(start(sys.argv[2], sys.argv[3]))
    if len(sys.argv) >= 3 and sys.argv[1] == "stop":
        sys.exit(stop(sys.argv[2]))
    sys.stderr.write(__doc__)
    sys.exit(2)
