"""The soak: the host program at 1080p60 with audio for a given time while clients join and leave
at random (see run.sh). Prints the server's samples, their growth between two quiet moments
without clients (after the first minute and at the end), each client's frames and errors, and
whether IsStreaming ever dropped."""
import argparse
import json
import os
import random
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib"))
from pellix_bench import HostServer  # noqa: E402

KINDS = ["ffmpeg-tcp", "ffmpeg-udp", "rtspsrc-tcp", "rtspsrc-udp", "raw-tcp"]
LEAVES = ["teardown", "close", "stall"]
MAX_CLIENTS_AT_ONCE = 5
SAMPLE_SECONDS = 10
QUIET_SECONDS = 20  # long enough for GLib's idle pool threads to end


class Client:
    """One client process; its output goes to files."""

    def __init__(self, number, kind, leave, lifetime, url, work):
        self.number, self.kind, self.leave, self.lifetime = number, kind, leave, lifetime
        self.out = os.path.join(work, "client%03d.out" % number)
        self.err = os.path.join(work, "client%03d.err" % number)
        transport = kind.rsplit("-", 1)[1]
        if kind.startswith("ffmpeg"):
            # Video first, then audio: the frame lines of the video begin with "0,". Warnings too,
            # each line with its level: the RTP packets a client missed are told as warnings.
            command = ["ffmpeg", "-nostdin", "-v", "level+warning", "-rtsp_transport", transport, "-i", url,
                       "-map", "0:v", "-map", "0:a", "-f", "framecrc", "-"]
        elif kind.startswith("rtspsrc"):
            # rtspsrc within playbin, which links each stream's pad by its caps (two branches that
            # gst-launch links to rtspsrc's pads in turn may take a pad for the wrong branch);
            # rtspt:// asks rtspsrc for TCP, rtspu:// for UDP.
            scheme = "rtspt://" if transport == "tcp" else "rtspu://"
            command = ["gst-launch-1.0", "-e", "-v", "playbin", "uri=" + url.replace("rtsp://", scheme, 1),
                       "video-sink=fakesink name=video silent=false", "audio-sink=fakesink name=audio"]
        else:
            command = [sys.executable, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lib",
                                                    "pellix_bench.py"), "raw", url, "--lifetime", str(lifetime),
                       "--leave", leave]
        with open(self.out, "wb") as out, open(self.err, "wb") as err:
            self.process = subprocess.Popen(command, stdout=out, stderr=err, stdin=subprocess.DEVNULL)
        self.start = time.time()
        self.left = None
        self.stalled = None  # when it stopped reading

    def step(self, now, force=False):
        """Advances the client's life; True once it has gone."""
        gone = self._step(now, force)
        if gone and self.left is None:
            self.left = time.time()
        return gone

    def _step(self, now, force):
        if self.process.poll() is not None:
            return True
        if self.kind.startswith("raw"):
            if force:
                self.process.terminate()  # it leaves at once, the chosen way
                self.process.wait(30)
            return self.process.poll() is not None
        age = now - self.start
        if self.leave == "stall" and self.stalled is None and age >= self.lifetime / 2:
            self.process.send_signal(signal.SIGSTOP)  # stops reading: the server's queue fills
            self.stalled = now
        if age < self.lifetime and not force:
            return False
        if self.leave == "teardown":
            self.process.send_signal(signal.SIGINT)  # both leave with a TEARDOWN
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
        else:
            self.process.kill()  # the socket just closes
        self.process.wait()
        return True

    def reading_seconds(self):
        """How long it read: until it stalled or left (the raw reader stalls half-way itself)."""
        life = self.left - self.start
        if self.kind.startswith("raw") and self.leave == "stall":
            return min(life, self.lifetime / 2)
        return (self.stalled or self.left) - self.start

    def result(self):
        out = open(self.out, errors="replace").read()
        err_lines = [line for line in open(self.err, errors="replace").read().splitlines() if line.strip()]
        if self.kind.startswith("ffmpeg"):
            frames = sum(1 for line in out.splitlines() if line.startswith("0,"))
            errors = [line for line in err_lines if not line.startswith("[warning]")]
            missed = sum(int(word) for line in err_lines if "RTP: missed" in line
                         for word in line.split() if word.isdigit())
            if missed:
                errors.insert(0, "missed %d RTP packets" % missed)
        elif self.kind.startswith("rtspsrc"):
            frames = out.count("GstFakeSink:video: last-message = chain")
            errors = [line for line in (out + "\n".join(err_lines)).splitlines()
                      if line.startswith("WARNING") or line.startswith("ERROR")]
            # Interrupted on purpose: the end it reports is no error.
            errors = [line for line in errors if "Interrupt" not in line]
        else:
            if not out.strip():
                return 0, ["ended before it reported"]
            summary = json.loads(out.strip().splitlines()[-1])
            frames = summary["frames"]
            errors = ["%d RTP sequence gaps or failures" % summary["errors"]] if summary["errors"] else []
            if summary["errors"] or summary.get("note", "").startswith("closed"):
                errors.append(summary["note"])
        return frames, errors


def udp_buffer_drops():
    """Datagrams the kernel dropped at full receive buffers, in this network namespace (the
    soak's own when it runs as root); None where it cannot be read."""
    try:
        lines = [line.split() for line in open("/proc/net/snmp") if line.startswith("Udp:")]
        return int(lines[1][lines[0].index("RcvbufErrors")])
    except (OSError, ValueError, IndexError):
        return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--duration", type=int, default=1800)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    options = parser.parse_args()
    random.seed(options.seed)
    duration = max(options.duration, 150)

    drops_before = udp_buffer_drops()
    server = HostServer(options.server, options.work, ["--audio"])
    url = server.wait_url()
    print("stream %s, soak of %d s, seed %d" % (url, duration, options.seed), flush=True)
    start = time.time()
    samples = []
    clients, done = [], []
    next_client, next_sample = start + 1, start
    quiet = [(start + 60, start + 60 + QUIET_SECONDS), (start + duration - QUIET_SECONDS, start + duration)]
    reference = final = None
    while True:
        now = time.time()
        elapsed = now - start
        if now >= next_sample:
            samples.append((elapsed, len(clients), server.sample()))
            next_sample += SAMPLE_SECONDS
        in_quiet = any(begin <= now < end for begin, end in quiet)
        for client in list(clients):
            if client.step(now, force=in_quiet):
                clients.remove(client)
                done.append(client)
        if reference is None and now >= quiet[0][1]:
            reference = (elapsed, server.sample())
        if now >= quiet[1][1]:
            final = (elapsed, server.sample())
            break
        if not in_quiet and now >= next_client and len(clients) < MAX_CLIENTS_AT_ONCE:
            if min(begin for begin, end in quiet if end > now) - now > 10:
                clients.append(Client(len(clients) + len(done) + 1, random.choice(KINDS), random.choice(LEAVES),
                                      random.uniform(5, 60), url, options.work))
            next_client = now + random.uniform(1, 8)
        time.sleep(0.1)

    code, stop_seconds = server.stop()
    yes, no = server.streaming_seconds()

    print("\nserver samples (every %d s): time, clients, resident memory, threads, descriptors" % SAMPLE_SECONDS)
    for elapsed, count, sample in samples:
        print("  %6.0f s  %2d clients  %8.1f MB  %3d threads  %4d descriptors"
              % (elapsed, count, sample["rss"] / 1024, sample["threads"], sample["fds"]))
    print("\nclients (%d): number, kind, leaves by, seconds (reading), video frames, frames/s, errors" % len(done))
    failed = 0
    for client in sorted(done, key=lambda c: c.number):
        frames, errors = client.result()
        failed += 1 if errors or frames == 0 else 0
        print("  %3d %-12s %-9s %5.1f s %6d frames %5.1f/s  %s" % (
            client.number, client.kind, client.leave, client.reading_seconds(), frames,
            frames / max(client.reading_seconds(), 0.1),
            "; ".join(errors[:3]) if errors else ("no frame" if frames == 0 else "no error")))
    ref_time, ref = reference
    end_time, end = final
    cpu = (end["cpu"] - samples[0][2]["cpu"]) / (end_time - samples[0][0]) * 100
    print("\ngrowth from %.0f s to %.0f s (both without clients):" % (ref_time, end_time))
    print("  resident memory %+.1f MB (%.1f -> %.1f MB)" % ((end["rss"] - ref["rss"]) / 1024, ref["rss"] / 1024,
                                                           end["rss"] / 1024))
    print("  threads         %+d (%d -> %d)" % (end["threads"] - ref["threads"], ref["threads"], end["threads"]))
    print("  descriptors     %+d (%d -> %d)" % (end["fds"] - ref["fds"], ref["fds"], end["fds"]))
    print("server CPU %.0f%% of one core on average; IsStreaming: %d s yes, %d s no (%s)"
          % (cpu, yes, no, "never dropped" if no == 0 else "DROPPED"))
    print("clients with an error or without a frame: %d of %d" % (failed, len(done)))
    drops_after = udp_buffer_drops()
    if drops_before is not None and drops_after is not None:
        print("UDP datagrams dropped at full receive buffers (stalled clients' too): %d"
              % (drops_after - drops_before))
    print("stop: %s" % ("exit code %d after %.1f s" % (code, stop_seconds) if code is not None
                        else "did not end within 60 s"))


if __name__ == "__main__":
    main()
