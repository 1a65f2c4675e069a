"""A cloud service that misbehaves in the head of its answers, for tests and load runs. Listens on a free
loopback port, prints it, and answers every request by the first segment of its path:
  /ok/...       a normal answer: a heartbeat's, or after 2 s an empty one to a command poll
  /endless/...  "HTTP/1.1 200 OK" and then header lines of 1,000 bytes without end
  /block/...    200 MB of header lines, then the end of the head and a heartbeat answer
  /line/...     a single header line of 10 MB, then the end of the head
  /trickle/...  a head that comes one byte a second
One thread a connection; a client that goes away ends its thread. Runs until killed, or until the
process that started it ends. With a log file, each
connection adds a line when it ends: its mode, the path asked for and the seconds from its acceptance.
  python3 hostile_cloud.py [log file]"""
import ctypes
import signal
import socket
import sys
import threading
import time

LOG = open(sys.argv[1], "a", buffering=1) if len(sys.argv) > 1 else None

OK_BODY = b'"heartBeat|OK"'


def ok_answer(body=OK_BODY):
    return (b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %d\r\n"
            b"Connection: close\r\n\r\n%s" % (len(body), body))


def serve(client):
    accepted = time.monotonic()
    mode, path = answer(client)
    if LOG:
        LOG.write("%s %s %.3f\n" % (mode.decode(errors="replace"), path.decode(errors="replace"),
                                    time.monotonic() - accepted))


def answer(client):
    mode = path = b""
    with client:
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = client.recv(65536)
            if not chunk:
                return mode, path
            request += chunk
        path = request.split(b" ", 2)[1]
        mode = path.split(b"/")[1] if path.count(b"/") >= 1 else b""
        try:
            if mode == b"ok" and b"/api/Command" in path:
                time.sleep(2)
                client.sendall(ok_answer(b""))
            elif mode == b"ok":
                client.sendall(ok_answer())
            elif mode == b"endless":
                client.sendall(b"HTTP/1.1 200 OK\r\n")
                line = 0
                while True:
                    block = b"".join(b"X-Junk-%d: %s\r\n" % (line + i, b"j" * 1000) for i in range(64))
                    line += 64
                    client.sendall(block)
            elif mode == b"block":
                client.sendall(b"HTTP/1.1 200 OK\r\n")
                block = b"".join(b"X-Junk-%d: %s\r\n" % (i, b"b" * 1000) for i in range(1024))
                for _ in range(200):  # about 200 MB
                    client.sendall(block)
                client.sendall(ok_answer()[len(b"HTTP/1.1 200 OK\r\n"):])
            elif mode == b"line":
                client.sendall(b"HTTP/1.1 200 OK\r\nX-Long: " + b"l" * (10 << 20) + b"\r\n\r\n" + OK_BODY)
            elif mode == b"trickle":
                for byte in ok_answer():
                    client.sendall(bytes([byte]))
                    time.sleep(1)
        except OSError:
            pass  # the client went away
    return mode, path


def main():
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG: go with the starter
    server = socket.socket()
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(64)
    print(server.getsockname()[1], flush=True)
    while True:
        client, _ = server.accept()
        threading.Thread(target=serve, args=(client,), daemon=True).start()


if __name__ == "__main__":
    main()
