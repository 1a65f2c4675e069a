#!/usr/bin/env python3
"""Clients of the LAN slide-information server for bench/http-attack.sh: attackers and one real
client. Every mode runs for a bounded time and prints one line of figures.

  http_attack.py hold HOST PORT --idle N --slow M --seconds S
      keeps N connections open that send nothing and M that send a request head a byte every 1.5 s
      (a connection the server closes is opened again after a pause)
  http_attack.py endless HOST PORT --connections N --seconds S
      N connections that send a request line and then header fields without end, as fast as they can
  http_attack.py client HOST PORT --seconds S --interval I
      one GET at a time on a new connection, I seconds apart; prints latency percentiles
  http_attack.py fetch HOST PORT --connections N --seconds S --interval I --read-rate R
      N kept-open connections, each asking for the document every I seconds and reading it whole at R
      bytes a second (0: as fast as it can), as phones on a shared radio link would: the same bytes at
      the same pace from any server; prints answers and latency percentiles
"""
import argparse
import asyncio
import resource
import socket
import time

REQUEST = b"GET /slide HTTP/1.1\r\nHost: computer\r\nConnection: close\r\n\r\n"
SLOW_HEADER_PAUSE = 1.5  # seconds between two bytes of a slow-header client


def raise_descriptor_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


async def hold(host, port, idle, slow, seconds):
    end = time.monotonic() + seconds
    stats = {"opened": 0, "closed_by_server": 0, "failed": 0, "open": 0, "max_open": 0}

    async def one(slow_headers):
        while time.monotonic() < end:
            try:
                reader, writer = await asyncio.wait_for(asyncio.open_connection(host, port), 5)
            except (OSError, asyncio.TimeoutError):
                stats["failed"] += 1
                await asyncio.sleep(1)
                continue
            stats["opened"] += 1
            stats["open"] += 1
            stats["max_open"] = max(stats["max_open"], stats["open"])
            try:
                if slow_headers:
                    writer.write(b"GET / HTTP/1.1\r\n")
                    n = 0
                    while time.monotonic() < end and not reader.at_eof():
                        writer.write(b"X-Slow-%d: 1\r\n" % n if n % 12 == 0 else b"x")
                        n += 1
                        await writer.drain()
                        try:
                            if await asyncio.wait_for(reader.read(4096), SLOW_HEADER_PAUSE) == b"":
                                break
                        except asyncio.TimeoutError:
                            pass
                else:
                    while time.monotonic() < end:
                        try:
                            if await asyncio.wait_for(reader.read(4096), 1.0) == b"":
                                break
                        except asyncio.TimeoutError:
                            pass
                if time.monotonic() < end:
                    stats["closed_by_server"] += 1
            except OSError:
                stats["closed_by_server"] += 1
            finally:
                stats["open"] -= 1
                writer.close()
            await asyncio.sleep(0.5)  # then open it again

    tasks = []
    for i in range(idle + slow):
        tasks.append(asyncio.create_task(one(i >= idle)))
        if i % 200 == 199:
            await asyncio.sleep(0.05)  # connects in waves the listen queue can take
    await asyncio.gather(*tasks, return_exceptions=True)
    print(f"hold: idle {idle}, slow-header {slow}: connections opened {stats['opened']}, "
          f"most open at once {stats['max_open']}, closed by the server {stats['closed_by_server']}, "
          f"failed to connect {stats['failed']}")


async def endless(host, port, connections, seconds):
    end = time.monotonic() + seconds
    sent = [0]
    cut = [0]

    async def one(index):
        while time.monotonic() < end:
            try:
                reader, writer = await asyncio.open_connection(host, port)
                writer.write(b"GET / HTTP/1.1\r\n")
                field = b"X-Endless-%d: " % index + b"v" * 8000 + b"\r\n"
                while time.monotonic() < end:
                    writer.write(field)
                    sent[0] += len(field)
                    await writer.drain()
                    if reader.at_eof():
                        break
                cut[0] += time.monotonic() < end
                writer.close()
            except OSError:
                cut[0] += 1
                await asyncio.sleep(0.01)

    await asyncio.gather(*(one(i) for i in range(connections)), return_exceptions=True)
    print(f"endless headers: {connections} connections sent {sent[0] / 1e6:.1f} MB of header fields; "
          f"the server cut them {cut[0]} times")


async def client(host, port, seconds, interval):
    end = time.monotonic() + seconds
    latencies, errors, size = [], 0, 0
    while time.monotonic() < end:
        start = time.monotonic()
        try:
            reader, writer = await asyncio.wait_for(asyncio.open_connection(host, port), 10)
            writer.write(REQUEST)
            answer = await asyncio.wait_for(reader.read(-1), 10)
            writer.close()
            if not answer.startswith(b"HTTP/1.1 200"):
                raise OSError("answer " + answer[:20].decode("latin-1"))
            size = len(answer)
            latencies.append((time.monotonic() - start) * 1000)
        except (OSError, asyncio.TimeoutError):
            errors += 1
        await asyncio.sleep(interval)
    print(f"client GET (new connection each, {size} bytes): {len(latencies)} answered, {errors} failed; "
          + percentiles(latencies))


def percentiles(latencies):
    latencies = sorted(latencies)

    def pct(p):
        return latencies[min(len(latencies) - 1, int(p / 100 * len(latencies)))] if latencies else float("nan")

    return (f"p50 {pct(50):.1f} ms, p90 {pct(90):.1f} ms, p99 {pct(99):.1f} ms, "
            f"max {latencies[-1] if latencies else float('nan'):.1f} ms")


async def fetch(host, port, connections, seconds, interval, read_rate):
    end = time.monotonic() + seconds
    latencies, stats = [], {"failed": 0, "bytes": 0}

    async def one(index):
        await asyncio.sleep(interval * index / connections)  # the connections start spread over one interval
        loop = asyncio.get_running_loop()
        # A plain socket read a piece at a time: what is not read yet waits in the kernel, not here.
        sock = socket.socket()
        sock.setblocking(False)
        try:
            await asyncio.wait_for(loop.sock_connect(sock, (host, port)), 10)
        except (OSError, asyncio.TimeoutError):
            stats["failed"] += 1
            sock.close()
            return
        try:
            pending = b""
            while time.monotonic() < end:
                start = time.monotonic()
                await loop.sock_sendall(sock, b"GET / HTTP/1.1\r\nHost: computer\r\n\r\n")
                while b"\r\n\r\n" not in pending:
                    piece = await asyncio.wait_for(loop.sock_recv(sock, 4096), 10)
                    if not piece:
                        raise ConnectionError("closed")
                    pending += piece
                head, pending = pending.split(b"\r\n\r\n", 1)
                length = next((int(line.split(b":")[1]) for line in head.split(b"\r\n")
                               if line.lower().startswith(b"content-length:")), None)
                if not head.startswith(b"HTTP/1.1 200") or length is None:
                    raise ValueError(head[:40])
                left = length - len(pending)
                pending = b""
                while left > 0:
                    piece = await asyncio.wait_for(loop.sock_recv(sock, min(left, 8192)), 10)
                    if not piece:
                        raise ConnectionError("closed")
                    left -= len(piece)
                    if read_rate > 0:
                        await asyncio.sleep(len(piece) / read_rate)
                latencies.append((time.monotonic() - start) * 1000)
                stats["bytes"] += len(head) + 4 + length
                await asyncio.sleep(max(0.0, interval - (time.monotonic() - start)))
        except (OSError, asyncio.TimeoutError, ValueError):
            stats["failed"] += 1
        finally:
            sock.close()

    await asyncio.gather(*(one(i) for i in range(connections)), return_exceptions=True)
    rate = f"read at {read_rate / 1e6:g} MB/s" if read_rate > 0 else "read at once"
    print(f"fetch: {connections} connections, a GET every {interval:g} s each, {rate}: {len(latencies)} answered "
          f"({stats['bytes'] / seconds / 1e6:.0f} MB/s), {stats['failed']} connections failed; "
          + percentiles(latencies))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["hold", "endless", "client", "fetch"])
    parser.add_argument("host")
    parser.add_argument("port", type=int)
    parser.add_argument("--idle", type=int, default=10000)
    parser.add_argument("--slow", type=int, default=1000)
    parser.add_argument("--connections", type=int, default=8)
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--interval", type=float, default=None)
    parser.add_argument("--read-rate", type=float, default=0)
    a = parser.parse_args()
    a.seconds = min(max(a.seconds, 1), 300)
    raise_descriptor_limit()
    if a.mode == "hold":
        asyncio.run(hold(a.host, a.port, a.idle, a.slow, a.seconds))
    elif a.mode == "endless":
        asyncio.run(endless(a.host, a.port, a.connections, a.seconds))
    elif a.mode == "fetch":
        asyncio.run(fetch(a.host, a.port, a.connections, a.seconds, a.interval or 2.0, a.read_rate))
    else:
        asyncio.run(client(a.host, a.port, a.seconds, a.interval or 0.02))


if __name__ == "__main__":
    main()
