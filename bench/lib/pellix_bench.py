"""What the soak and crowd benchmarks share: the host program as a child process with its
resources sampled from /proc, and a plain RTSP client that plays the media over TCP
(interleaved) and counts what it receives without decoding it.

Run as a program it is one such client ("raw RTP reader" of the soak), printing a JSON summary:
    python3 pellix_bench.py raw URL --lifetime S --leave teardown|close|stall
"""
import argparse
import json
import os
import re
import select
import signal
import socket
import subprocess
import sys
import time


class HostServer:
    """pellix-server on loopback; its output goes to files in a work folder."""

    def __init__(self, program, work, args):
        self.out_path = os.path.join(work, "server.out")
        self.err_path = os.path.join(work, "server.err")
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen([program, "--interface", "lo"] + args, stdout=out, stderr=err,
                                            stdin=subprocess.DEVNULL)
        self.pid = self.process.pid
        self.url = ""

    def wait_url(self, timeout=120):
        end = time.time() + timeout
        while time.time() < end and self.process.poll() is None:
            match = re.search(r"^pellix-server: streaming at (\S+)$", self.output(), re.M)
            if match:
                self.url = match.group(1)
                return self.url
            time.sleep(0.2)
        raise RuntimeError("the server did not start:\n" + self.output() + open(self.err_path).read())

    def output(self):
        with open(self.out_path, errors="replace") as out:
            return out.read()

    def sample(self):
        """Resident memory (kB), threads, descriptors and CPU time (s) of the server."""
        status = open("/proc/%d/status" % self.pid).read()
        rss = int(re.search(r"^VmRSS:\s+(\d+)", status, re.M).group(1))
        threads = int(re.search(r"^Threads:\s+(\d+)", status, re.M).group(1))
        fds = len(os.listdir("/proc/%d/fd" % self.pid))
        return {"rss": rss, "threads": threads, "fds": fds, "cpu": self.cpu_seconds()}

    def cpu_seconds(self):
        fields = open("/proc/%d/stat" % self.pid).read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

    def streaming_seconds(self):
        """The host's once-a-second IsStreaming lines: (yes, no)."""
        text = self.output()
        return len(re.findall(r"^pellix-server: \d+s streaming=yes$", text, re.M)), \
            len(re.findall(r"^pellix-server: \d+s streaming=no$", text, re.M))

    def stop(self, timeout=60):
        """SIGINT as Ctrl-C; the exit code and the seconds the stop took (None: killed)."""
        start = time.time()
        self.process.send_signal(signal.SIGINT)
        try:
            code = self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None, None
        return code, time.time() - start


class RawRtspClient:
    """Plays every stream of the media over TCP. read() takes what has arrived; the counts are
    per stream: RTP packets, access units (the RTP marker bit ends one) with their arrival times
    when asked, and packets lost or out of order (sequence gaps)."""

    def __init__(self, url, keep_times=False):
        match = re.match(r"rtsp://([^:/]+):(\d+)", url)
        self.url = url
        self.sock = socket.create_connection((match.group(1), int(match.group(2))), timeout=10)
        self.cseq = 0
        self.session = None
        self.buffer = b""
        self.keep_times = keep_times
        self.streams = []  # per channel pair: name, packets, frames, gaps, bytes, last seq, times

    def request(self, method, url, headers=""):
        self.cseq += 1
        text = "%s %s RTSP/1.0\r\nCSeq: %d\r\n%s" % (method, url, self.cseq, headers)
        if self.session:
            text += "Session: %s\r\n" % self.session
        self.sock.sendall((text + "\r\n").encode())
        end = time.time() + 10
        while time.time() < end:
            response = self._take_response()
            if response is not None:
                return response
            self._fill()
        raise RuntimeError("no answer to " + method)

    def play(self):
        sdp = self.request("DESCRIBE", self.url, "Accept: application/sdp\r\n")[1]
        media = re.split(r"^m=", sdp, flags=re.M)[1:]
        for index, section in enumerate(media):
            control = re.search(r"^a=control:(\S+)", section, re.M).group(1)
            name = "video" if "H264" in section else "audio"
            target = control if control.startswith("rtsp://") else self.url.rstrip("/") + "/" + control
            head, _ = self.request("SETUP", target, "Transport: RTP/AVP/TCP;unicast;interleaved=%d-%d\r\n"
                                   % (2 * index, 2 * index + 1))
            if not head.startswith("RTSP/1.0 200"):
                raise RuntimeError("SETUP refused: " + head.splitlines()[0])
            self.session = re.search(r"^Session: ([^;\r\n]+)", head, re.M).group(1)
            self.streams.append({"name": name, "packets": 0, "frames": 0, "gaps": 0, "bytes": 0, "seq": None,
                                 "times": []})
        head, _ = self.request("PLAY", self.url, "Range: npt=0-\r\n")
        if not head.startswith("RTSP/1.0 200"):
            raise RuntimeError("PLAY refused: " + head.splitlines()[0])

    def stream(self, name):
        return next((s for s in self.streams if s["name"] == name), None)

    def fileno(self):
        return self.sock.fileno()

    def read(self):
        """Takes what is there; False once the server has closed the connection."""
        try:
            data = self.sock.recv(262144)
        except BlockingIOError:
            return True
        if not data:
            return False
        self.buffer += data
        self._parse_frames()
        return True

    def teardown(self):
        self.sock.setblocking(True)
        self.sock.settimeout(5)
        try:
            return self.request("TEARDOWN", self.url)[0].splitlines()[0]
        except (OSError, RuntimeError) as error:
            return "no answer (%s)" % error

    def close(self):
        self.sock.close()

    def _fill(self):
        data = self.sock.recv(262144)
        if not data:
            raise RuntimeError("connection closed")
        self.buffer += data

    def _take_response(self):
        self._parse_frames()
        if not self.buffer.startswith(b"RTSP/"):
            return None
        end = self.buffer.find(b"\r\n\r\n")
        if end < 0:
            return None
        head = self.buffer[:end].decode(errors="replace")
        length = re.search(r"^Content-Length:\s*(\d+)", head, re.M | re.I)
        body_end = end + 4 + (int(length.group(1)) if length else 0)
        if len(self.buffer) < body_end:
            return None
        body = self.buffer[end + 4:body_end].decode(errors="replace")
        self.buffer = self.buffer[body_end:]
        return head, body

    def _parse_frames(self):
        now = time.time()
        offset = 0
        buffer = self.buffer
        while len(buffer) - offset >= 4 and buffer[offset] == 0x24:
            channel = buffer[offset + 1]
            length = (buffer[offset + 2] << 8) | buffer[offset + 3]
            if len(buffer) - offset < 4 + length:
                break
            if channel % 2 == 0 and channel // 2 < len(self.streams) and length >= 12:
                stream = self.streams[channel // 2]
                packet = buffer[offset + 4:offset + 4 + length]
                seq = (packet[2] << 8) | packet[3]
                if packet[0] >> 6 != 2 or (stream["seq"] is not None and seq != (stream["seq"] + 1) & 0xFFFF):
                    stream["gaps"] += 1
                stream["seq"] = seq
                stream["packets"] += 1
                stream["bytes"] += length
                if packet[1] & 0x80:
                    stream["frames"] += 1
                    if self.keep_times:
                        stream["times"].append(now)
            offset += 4 + length
        self.buffer = buffer[offset:]


def run_raw_client(url, lifetime, leave):
    """The soak's raw reader: plays for lifetime seconds, stalls (stops reading) for the second
    half with leave=stall, and leaves with a TEARDOWN or by closing the connection."""
    result = {"frames": 0, "audio_frames": 0, "errors": 0, "leave": leave, "note": ""}
    start = time.time()
    end = [start + lifetime]

    def leave_now(_signal, _frame):  # SIGTERM: leave at once, the chosen way
        end[0] = time.time()
    signal.signal(signal.SIGTERM, leave_now)
    try:
        client = RawRtspClient(url)
        client.play()
        client.sock.setblocking(False)
        while time.time() < min(end[0], start + (lifetime / 2 if leave == "stall" else lifetime)):
            ready, _, _ = select.select([client], [], [], 0.2)
            if ready and not client.read():
                result["note"] = "closed by the server"
                break
        while time.time() < end[0]:
            time.sleep(0.1)
        video, audio = client.stream("video"), client.stream("audio")
        result["frames"] = video["frames"] if video else 0
        result["audio_frames"] = audio["frames"] if audio else 0
        result["errors"] = sum(s["gaps"] for s in client.streams)
        if leave == "teardown":
            result["note"] = client.teardown()
        client.close()
    except (OSError, RuntimeError) as error:
        result["errors"] += 1
        result["note"] = str(error)
    print(json.dumps(result))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["raw"])
    parser.add_argument("url")
    parser.add_argument("--lifetime", type=float, default=30)
    parser.add_argument("--leave", choices=["teardown", "close", "stall"], default="teardown")
    options = parser.parse_args()
    run_raw_client(options.url, options.lifetime, options.leave)
    sys.exit(0)
