"""The crowd: for each number N of clients, a fresh host program at 1080p60 and 8 Mbit/s with N
clients playing over TCP at once (see run.sh). Prints the frames per second each client received,
the data rate, lost packets and the server's CPU, and the largest N at which every client
received at least 59.5 frames/s."""
import argparse
import os
import select
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from pellix_bench import HostServer, RawRtspClient  # noqa: E402

TARGET = 59.5


def measure(program, work, count, seconds, warmup):
    server = HostServer(program, work, ["--bitrate", "8000000", "--max-clients", str(max(count, 16))])
    url = server.wait_url()
    clients = []
    try:
        for _ in range(count):
            client = RawRtspClient(url, keep_times=True)
            client.play()
            client.sock.setblocking(False)
            clients.append(client)
        start = time.time()
        window = (start + warmup, start + warmup + seconds)
        cpu_start = None
        while time.time() < window[1]:
            if cpu_start is None and time.time() >= window[0]:
                cpu_start = server.cpu_seconds()
                bytes_start = [c.stream("video")["bytes"] for c in clients]
                gaps_start = [c.stream("video")["gaps"] for c in clients]
            ready, _, _ = select.select(clients, [], [], 0.1)
            for client in ready:
                if not client.read():
                    raise RuntimeError("the server closed a client's connection")
        cpu = (server.cpu_seconds() - cpu_start) / seconds * 100
        rates, kbits, gaps = [], [], 0
        for index, client in enumerate(clients):
            video = client.stream("video")
            rates.append(sum(1 for t in video["times"] if window[0] <= t < window[1]) / seconds)
            kbits.append((video["bytes"] - bytes_start[index]) * 8 / seconds / 1000)
            gaps += video["gaps"] - gaps_start[index]
        for client in clients:
            client.close()
    finally:
        code, stop_seconds = server.stop()
    return rates, kbits, gaps, cpu, stop_seconds


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--seconds", type=int, default=30)
    parser.add_argument("--warmup", type=int, default=5)
    parser.add_argument("counts", type=int, nargs="+")
    options = parser.parse_args()
    print("clients  frames/s per client (min / mean / max)  kbit/s per client  lost packets  server CPU (one core)  stop")
    largest, passed = 0, True
    for count in options.counts:
        rates, kbits, gaps, cpu, stop_seconds = measure(options.server, options.work, count, options.seconds,
                                                        options.warmup)
        print("%7d  %12.2f / %5.2f / %5.2f %20.0f %14d %16.0f%% %10s" % (
            count, min(rates), sum(rates) / count, max(rates), sum(kbits) / count, gaps, cpu,
            "%.1f s" % stop_seconds if stop_seconds is not None else "hung"), flush=True)
        passed = passed and min(rates) >= TARGET
        if passed:
            largest = count
    print("largest number of clients at which every client received at least %.1f frames/s: %s"
          % (TARGET, largest if largest else "none"))


if __name__ == "__main__":
    main()
