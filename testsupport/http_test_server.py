#!/usr/bin/python3
"""Loopback web server for the download tests.

Listens on 127.0.0.1 only, on ports the system picks, and prints them on one line:
"ports http=N stall=N" (and " https=N" when given a certificate). It ends when its standard input
closes (the test that started it is gone) or after LIFETIME seconds, whichever comes first.

Paths (also through the proxy form "GET http://host/path", which needs the proxy credentials):
  /files/NAME         a file of --root, with its length
  /chunked/NAME       the same file without a length (chunked)
  /status/CODE        that status with a small HTML page
  /redirect/N/NAME    N redirects, then /files/NAME
  /loop/a, /loop/b    redirects to each other
  /to-ftp             a redirect to an ftp:// address
  /endless            a body that does not end (up to ENDLESS_BYTES, then the connection closes)
  /huge-length        a length of a TiB, then a few bytes
  /stall-body         a length of 1000 and 10 bytes, then nothing
  /html               a web page
  /empty              an empty body
  /echo               the request line and headers as text
The stall port accepts connections, reads and never answers.
"""
import argparse
import base64
import http.server
import os
import socket
import ssl
import sys
import threading
import time
import urllib.parse

LIFETIME = 300
ENDLESS_BYTES = 64 << 20
HOLD_SECONDS = 30
CHUNK = 64 << 10

CONTENT_TYPES = {".png": "image/png", ".gif": "image/gif", ".jpg": "image/jpeg", ".tif": "image/tiff",
                 ".bmp": "image/bmp", ".ppm": "image/x-portable-pixmap"}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    root = "."
    proxy_credentials = ""

    def log_message(self, *args):
        pass

    def send_body(self, status, body, content_type="text/html", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def redirect(self, location):
        self.send_body(302, b"moved", headers=[("Location", location)])

    def hold(self):
        """Keeps the connection open without sending, until the client leaves or the time is up."""
        self.connection.settimeout(0.2)
        end = time.monotonic() + HOLD_SECONDS
        while time.monotonic() < end:
            try:
                if self.connection.recv(4096) == b"":
                    return
            except socket.timeout:
                continue
            except OSError:
                return

    def serve_file(self, name, chunked):
        path = os.path.join(self.root, os.path.basename(name))
        if not os.path.isfile(path):
            self.send_body(404, b"<h1>missing</h1>")
            return
        with open(path, "rb") as f:
            data = f.read()
        content_type = CONTENT_TYPES.get(os.path.splitext(path)[1].lower(), "application/octet-stream")
        if not chunked:
            self.send_body(200, data, content_type)
            return
        self.send_response(200)
        self.send_header("Content-Type", content_type)
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for i in range(0, len(data), 1000):
            part = data[i:i + 1000]
            self.wfile.write(b"%x\r\n%s\r\n" % (len(part), part))
        self.wfile.write(b"0\r\n\r\n")

    def do_GET(self):
        target = self.path
        if target.startswith("http://"):
            if self.headers.get("Proxy-Authorization", "") != "Basic " + self.proxy_credentials:
                self.send_body(407, b"credentials", headers=[("Proxy-Authenticate", 'Basic realm="test"')])
                return
            parts = urllib.parse.urlsplit(target)
            target = parts.path + ("?" + parts.query if parts.query else "")
        path = urllib.parse.urlsplit(target).path
        parts = path.strip("/").split("/")
        try:
            self.route(parts, target)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass

    def route(self, parts, target):
        head = parts[0]
        if head == "files" and len(parts) == 2:
            self.serve_file(urllib.parse.unquote(parts[1]), False)
        elif head == "chunked" and len(parts) == 2:
            self.serve_file(urllib.parse.unquote(parts[1]), True)
        elif head == "status" and len(parts) == 2 and parts[1].isdigit():
            self.send_body(int(parts[1]), b"<h1>status</h1>")
        elif head == "redirect" and len(parts) == 3 and parts[1].isdigit():
            left = int(parts[1])
            self.redirect("/redirect/%d/%s" % (left - 1, parts[2]) if left > 1 else "/files/" + parts[2])
        elif head == "loop" and len(parts) == 2:
            self.redirect("/loop/b" if parts[1] == "a" else "/loop/a")
        elif head == "to-ftp":
            self.redirect("ftp://127.0.0.1/image.png")
        elif head == "endless":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Connection", "close")
            self.end_headers()
            block = bytes(CHUNK)
            for _ in range(ENDLESS_BYTES // CHUNK):
                self.wfile.write(block)
            self.close_connection = True
        elif head == "huge-length":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", str(1 << 40))
            self.end_headers()
            self.wfile.write(bytes(1024))
            self.close_connection = True
        elif head == "stall-body":
            self.send_response(200)
            self.send_header("Content-Type", "image/png")
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"\x89PNG\r\n\x1a\n\0\0")
            self.wfile.flush()
            self.hold()
            self.close_connection = True
        elif head == "html":
            self.send_body(200, b"<!doctype html><title>An image</title><p>Not really.</p>", "text/html; charset=utf-8")
        elif head == "empty":
            self.send_body(200, b"", "image/png")
        elif head == "echo":
            text = self.requestline + "\n" + str(self.headers)
            self.send_body(200, text.encode("latin-1"), "text/plain")
        else:
            self.send_body(404, b"<h1>no such page</h1>")


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def handle_error(self, request, client_address):
        pass  # clients that leave mid-answer (or refuse the certificate) are what the tests do


def stall_listener():
    """Accepts, reads what comes, never answers."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    def hold(conn):
        conn.settimeout(0.2)
        end = time.monotonic() + HOLD_SECONDS
        with conn:
            while time.monotonic() < end:
                try:
                    if conn.recv(4096) == b"":
                        return
                except socket.timeout:
                    continue
                except OSError:
                    return

    def accept_loop():
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=hold, args=(conn,), daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    return listener.getsockname()[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--proxy-user", default="user")
    parser.add_argument("--proxy-password", default="secret")
    args = parser.parse_args()

    Handler.root = args.root
    Handler.proxy_credentials = base64.b64encode(
        ("%s:%s" % (args.proxy_user, args.proxy_password)).encode()).decode()

    plain = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=plain.serve_forever, daemon=True).start()
    line = "ports http=%d stall=%d" % (plain.server_address[1], stall_listener())
    if args.cert:
        secure = Server(("127.0.0.1", 0), Handler)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        secure.socket = context.wrap_socket(secure.socket, server_side=True, do_handshake_on_connect=False)
        threading.Thread(target=secure.serve_forever, daemon=True).start()
        line += " https=%d" % secure.server_address[1]
    print(line, flush=True)

    # The test holds our standard input open; when it ends, so do we.
    done = threading.Event()
    threading.Thread(target=lambda: (sys.stdin.read(), done.set()), daemon=True).start()
    done.wait(LIFETIME)


if __name__ == "__main__":
    main()
