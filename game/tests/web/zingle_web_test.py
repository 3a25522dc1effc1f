#!/usr/bin/env python3
"""Zingle! in the browser, end to end: the page built by scripts/web-build.sh is served by
zingle-scores --web on loopback and played in headless Chromium, driven through the
DevTools protocol (Python's standard library only).

Checks that the title screen draws the logo, that a key press starts a game that scores,
that the high score is still there after the page is reloaded, and that the score exchange
with the service stores the row. With --bench it reports the frame time of the play
screen and the download size instead of failing on it.

  zingle_web_test.py --page BUILD-WEB/play --scores ZINGLE-SCORES [--examples BUILD-WEB/examples]
                    [--bench]

Exits 77 (skipped) when Chromium is missing, unless CI=true.
"""
import argparse
import base64
import functools
import gzip
import http.server
import json
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import urllib.request
import zlib

SKIP = 77


def skip_or_fail(message):
    if os.environ.get("CI") == "true":
        print("FAIL (CI): " + message)
        sys.exit(1)
    print("SKIPPED: " + message)
    sys.exit(SKIP)


# --- a minimal WebSocket client (RFC 6455), enough for the DevTools protocol -------------

class WebSocket:
    def __init__(self, url):
        m = re.match(r"ws://([^/:]+):(\d+)(/.*)", url)
        self.sock = socket.create_connection((m.group(1), int(m.group(2))), timeout=60)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET {m.group(3)} HTTP/1.1\r\nHost: {m.group(1)}:{m.group(2)}\r\n"
                           f"Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        head = b""
        while b"\r\n\r\n" not in head:
            chunk = self.sock.recv(1)
            if not chunk:
                raise RuntimeError("DevTools closed the connection during the handshake")
            head += chunk
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise RuntimeError("DevTools refused the WebSocket: " + head.decode(errors="replace"))
        self.buffer = b""

    def send(self, text):
        data = text.encode()
        header = bytes([0x81])
        n = len(data)
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", n)
        mask = os.urandom(4)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(1 << 16)
            if not chunk:
                raise RuntimeError("DevTools closed the connection")
            self.buffer += chunk
        out, self.buffer = self.buffer[:n], self.buffer[n:]
        return out

    def receive(self):
        message = b""
        while True:
            b0, b1 = self._read(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._read(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(n)
            opcode = b0 & 0x0F
            if opcode == 8:
                raise RuntimeError("DevTools closed the WebSocket")
            if opcode in (9, 10):
                continue  # ping / pong
            message += payload
            if b0 & 0x80:
                return message.decode()


class DevTools:
    """One page of a headless Chromium, with its console lines collected."""

    def __init__(self, ws_url):
        self.ws = WebSocket(ws_url)
        self.next_id = 0
        self.console = []

    def _event(self, message):
        if message.get("method") == "Runtime.consoleAPICalled":
            args = message["params"]["args"]
            self.console.append(" ".join(str(a.get("value", a.get("description", ""))) for a in args))
        elif message.get("method") == "Runtime.exceptionThrown":
            details = message["params"]["exceptionDetails"]
            self.console.append("exception: " + details.get("exception", {}).get("description", details.get("text", "")))

    def call(self, method, **params):
        self.next_id += 1
        my_id = self.next_id
        self.ws.send(json.dumps({"id": my_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.receive())
            if message.get("id") == my_id:
                if "error" in message:
                    raise RuntimeError(f"{method}: {message['error']}")
                return message.get("result", {})
            self._event(message)

    def pump(self, seconds):
        """Collects events for a while."""
        self.ws.sock.settimeout(0.2)
        end = time.time() + seconds
        try:
            while time.time() < end:
                try:
                    self._event(json.loads(self.ws.receive()))
                except (socket.timeout, TimeoutError):
                    pass
        finally:
            self.ws.sock.settimeout(60)

    def evaluate(self, expression):
        r = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return r.get("result", {}).get("value")

    def wait_console(self, pattern, timeout, since=0):
        """Waits for a console line matching pattern (after the first `since` lines)."""
        regex = re.compile(pattern)
        end = time.time() + timeout
        while True:
            for line in self.console[since:]:
                if regex.search(line):
                    return line
            if time.time() > end:
                raise AssertionError(f"no console line /{pattern}/ within {timeout} s; the page said:\n" +
                                     "\n".join(self.console[-40:]))
            self.pump(0.2)

    def key(self, code, key, keycode, down=True, up=True):
        """A key press; held for a few frames, as a hand does, when both down and up."""
        for kind, wanted in (("keyDown", down), ("keyUp", up)):
            if wanted:
                self.call("Input.dispatchKeyEvent", type=kind, code=code, key=key,
                          windowsVirtualKeyCode=keycode, nativeVirtualKeyCode=keycode)
                if kind == "keyDown" and up:
                    self.pump(0.1)

    def click(self, x, y, button):
        for kind in ("mouseMoved", "mousePressed", "mouseReleased"):
            self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button=button,
                      buttons=0 if kind == "mouseMoved" else (2 if button == "right" else 1), clickCount=1)
            self.pump(0.15)

    def screenshot(self):
        return decode_png(base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"]))


# --- PNG decoding (8-bit, not interlaced) for the screenshot and the logo ----------------

def decode_png(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, idat = 8, b""
    width = height = colour = 0
    palette = None
    trns = None
    while pos < len(data):
        n, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + n]
        pos += 12 + n
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and interlace == 0, "only 8-bit, non-interlaced PNG"
        elif kind == b"PLTE":
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body), 3)]
        elif kind == b"tRNS":
            trns = body
        elif kind == b"IDAT":
            idat += body
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}[colour]
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind = raw[at]
        line = bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        previous = line

    def pixel(x, y):
        v = rows[y][x * channels:(x + 1) * channels]
        if colour == 3:
            r, g, b = palette[v[0]]
            alpha = trns[v[0]] if trns and v[0] < len(trns) else 255
            return (r, g, b, alpha)
        if colour == 0:
            return (v[0], v[0], v[0], 255)
        if colour == 4:
            return (v[0], v[0], v[0], v[1])
        return (v[0], v[1], v[2], v[3] if channels == 4 else 255)

    return width, height, pixel


# --- the run -----------------------------------------------------------------------------

def start_service(scores, page, folder):
    log = open(os.path.join(folder, "scores.log"), "w+")
    proc = subprocess.Popen([scores, "--listen", "127.0.0.1:0", "--db", "sqlite:" + os.path.join(folder, "scores.db"),
                             "--web", page], stderr=log)
    end = time.time() + 20
    while time.time() < end:
        log.seek(0)
        m = re.search(r"listening on [^ ]*:(\d+)", log.read())
        if m:
            return proc, int(m.group(1))
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    log.seek(0)
    raise RuntimeError("zingle-scores did not start:\n" + log.read())


def start_chromium(folder):
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    if not browser:
        skip_or_fail("chromium is not installed (apt-get install chromium)")
    log = open(os.path.join(folder, "chromium.log"), "w+")
    proc = subprocess.Popen([browser, "--headless=new", "--no-sandbox", "--remote-debugging-port=0",
                             "--user-data-dir=" + os.path.join(folder, "profile"), "--window-size=1000,800",
                             "--autoplay-policy=user-gesture-required", "--no-first-run", "about:blank"],
                            stdout=log, stderr=log)
    end = time.time() + 60
    while time.time() < end:
        log.seek(0)
        m = re.search(r"DevTools listening on (ws://\S+)", log.read())
        if m:
            port = int(re.match(r"ws://[^:]+:(\d+)/", m.group(1)).group(1))
            pages = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
            page = next(p for p in pages if p["type"] == "page")
            return proc, page["webSocketDebuggerUrl"]
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    log.seek(0)
    raise RuntimeError("chromium did not start:\n" + log.read()[-3000:])


def canvas_origin(dev):
    box = dev.evaluate("(() => { const r = document.getElementById('canvas').getBoundingClientRect();"
                       " return [r.left, r.top]; })()")
    return int(round(box[0])), int(round(box[1]))


def check_logo(dev, logo_path):
    """The title screen shows the logo at (100, 40): most of its opaque pixels match. The
    title draws it in the colour its panel left set, yellow, and the colour tints images
    (on every renderer), so the logo's blue is gone on screen."""
    tint = (255, 255, 0)
    lw, lh, logo = decode_png(open(logo_path, "rb").read())
    ox, oy = canvas_origin(dev)
    _, _, shot = dev.screenshot()
    compared = matched = 0
    for y in range(0, lh, 3):
        for x in range(0, lw, 3):
            r, g, b, a = logo(x, y)
            if a < 255 or (r, g, b) == (255, 0, 255):
                continue  # see-through, or the mask colour
            r, g, b = (c * t // 255 for c, t in zip((r, g, b), tint))
            compared += 1
            sr, sg, sb, _ = shot(ox + 100 + x, oy + 40 + y)
            if abs(sr - r) <= 24 and abs(sg - g) <= 24 and abs(sb - b) <= 24:
                matched += 1
    assert compared > 100, "the logo has too few opaque pixels to compare"
    share = matched / compared
    if share < 0.9 and os.environ.get("ZINGLE_WEB_SHOT"):
        # The page as Chromium drew it, to see what the title screen showed instead.
        png = dev.call("Page.captureScreenshot", format="png")["data"]
        open(os.environ["ZINGLE_WEB_SHOT"], "wb").write(base64.b64decode(png))
    assert share >= 0.9, f"the title screen does not show the logo: {matched} of {compared} pixels match"
    return share


def check_examples(dev, examples):
    """Each example built for the browser loads, runs without an error and draws."""
    names = sorted(n for n in os.listdir(examples) if os.path.exists(os.path.join(examples, n, n + ".html")))
    assert names, f"no example pages in {examples}"

    class Quiet(http.server.SimpleHTTPRequestHandler):
        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), functools.partial(Quiet, directory=examples))
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        for name in names:
            since = len(dev.console)
            dev.call("Page.navigate", url=f"http://127.0.0.1:{server.server_address[1]}/{name}/{name}.html")
            dev.pump(4.0)
            box = dev.evaluate("(() => { const r = document.getElementById('canvas').getBoundingClientRect();"
                               " return [r.left, r.top, r.width, r.height]; })()")
            _, _, shot = dev.screenshot()
            colours = {shot(int(box[0] + box[2] * i / 16), int(box[1] + box[3] * j / 16))[:3]
                       for i in range(1, 16) for j in range(1, 16)}
            errors = [l for l in dev.console[since:] if l.startswith("exception:") or "Aborted" in l]
            assert not errors, f"the example {name} failed in the page:\n" + "\n".join(errors)
            assert len(colours) >= 3, f"the example {name} drew nothing ({len(colours)} colours on its canvas)"
            print(f"example {name}: runs, {len(colours)} colours on its canvas")
    finally:
        server.shutdown()


def play_until_over(dev, since, timeout):
    """Jumps now and then, as a player would, until the ball falls: resting on its row the
    ball never falls by itself."""
    end = time.time() + timeout
    pattern = r"^\d+ gameover score=(\d+)$"
    while time.time() < end:
        # Once the ball has fallen, no more keys: the title would take them for a new game.
        if any(re.search(r"^\d+ fell score=", line) for line in dev.console[since:]):
            break
        dev.key("Space", " ", 32, up=False)
        dev.pump(0.35)
        dev.key("Space", " ", 32, down=False)
        dev.pump(0.4)
    return dev.wait_console(pattern, max(end - time.time(), 5), since)


def download_size(page):
    total = gz = 0
    sizes = {}
    for name in sorted(os.listdir(page)):
        if name.endswith((".wasm", ".data", ".js", ".html")):
            data = open(os.path.join(page, name), "rb").read()
            packed = len(gzip.compress(data, 9))
            sizes[name] = (len(data), packed)
            total += len(data)
            gz += packed
    return total, gz, sizes


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--page", required=True, help="the built page (build-web/play)")
    parser.add_argument("--scores", required=True, help="the zingle-scores executable")
    parser.add_argument("--logo", help="logo.png of the game's assets")
    parser.add_argument("--examples", help="the examples' web builds (build-web/examples)")
    parser.add_argument("--bench", action="store_true", help="report frame times and the download size")
    opts = parser.parse_args()
    if not os.path.exists(os.path.join(opts.page, "zingle.wasm")):
        skip_or_fail(f"no web build in {opts.page} (scripts/web-build.sh)")
    logo = opts.logo or os.path.join(os.path.dirname(os.path.abspath(opts.page)), "bin", "system", "173", "logo.png")

    folder = tempfile.mkdtemp(prefix="zingle-web-")
    procs = []
    try:
        service, port = start_service(opts.scores, opts.page, folder)
        procs.append(service)
        browser, ws_url = start_chromium(folder)
        procs.append(browser)
        dev = DevTools(ws_url)
        dev.call("Runtime.enable")
        dev.call("Page.enable")
        dev.call("Emulation.setDeviceMetricsOverride", width=1000, height=800, deviceScaleFactor=1, mobile=False)
        url = f"http://127.0.0.1:{port}/play/?trace"

        # 1. The title screen.
        dev.call("Page.navigate", url=url)
        dev.wait_console(r"^\d+ title$", 120)
        dev.pump(1.0)
        share = check_logo(dev, logo)
        status = dev.evaluate("document.getElementById('status').textContent")
        assert status == "", f"the page still says {status!r} under the game"
        print(f"title screen: {share:.0%} of the logo's pixels on screen")

        # 2. Z starts a game; its first frame scores; the ball falls and the score is kept.
        since = len(dev.console)
        dev.evaluate("Module._ormix_frame_stats(3)")
        counting_since = time.time()
        dev.key("KeyZ", "z", 90)
        dev.wait_console(r"^\d+ play$", 20, since)
        # The key press let the page's sound start: SDL's Web Audio output runs.
        audio = dev.evaluate("Module.SDL2 && Module.SDL2.audioContext ? Module.SDL2.audioContext.state : 'none'")
        assert audio == "running", f"the page's sound is {audio} after a key press"
        hit = dev.wait_console(r"^\d+ hit .*score=(\d+)", 20, since)
        over = play_until_over(dev, since, 90)
        frames = dev.evaluate("[0, 1, 2].map(i => Module._ormix_frame_stats(i))")
        counted_for = time.time() - counting_since
        score = int(re.search(r"score=(\d+)", over).group(1))
        assert score > 0, over
        dev.wait_console(r"^\d+ highscore %d$" % score, 10, since)
        dev.wait_console(r"^\d+ saved$", 10, since)
        print(f"played: {hit}; {over}")
        dev.pump(1.5)  # the page's storage is written after the save

        # 3. After a reload the high score is read back from the page's storage.
        since = len(dev.console)
        dev.call("Page.navigate", url=url)
        loaded = dev.wait_console(r"^\d+ settings loaded best=(\d+)$", 120, since)
        assert int(re.search(r"best=(\d+)", loaded).group(1)) == score, loaded
        dev.wait_console(r"^\d+ title$", 30, since)
        print(f"reloaded: {loaded}")

        # 4. A game, then a right click on the title exchanges the score with the service.
        since = len(dev.console)
        dev.key("KeyX", "x", 88)
        second = play_until_over(dev, since, 90)
        best = max(score, int(re.search(r"score=(\d+)", second).group(1)))
        dev.wait_console(r"^\d+ title$", 30, since)
        dev.pump(0.5)
        ox, oy = canvas_origin(dev)
        exchange = None
        for _ in range(3):  # a click the page was not ready for is clicked again
            dev.click(ox + 400, oy + 300, "right")
            try:
                exchange = dev.wait_console(r"^\d+ exchange (ok|failed)$", 15, since)
                break
            except AssertionError:
                pass
        assert exchange, "no exchange after three right clicks:\n" + "\n".join(dev.console[-20:])
        assert exchange.endswith("ok"), exchange
        # The exchange sends the high score: the better of the two games.
        table = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/api/scores?gameid=20"))
        assert any(row["score"] == best for row in table["scores"]), (best, table)
        print(f"exchanged: {exchange}; the service's table: {table['scores']}")

        # 5. The examples built for the browser by the same script.
        if opts.examples:
            check_examples(dev, opts.examples)

        if opts.bench:
            count, total, longest = frames
            raw, packed, sizes = download_size(opts.page)
            print("benchmark: play screen in headless Chromium (software WebGL)")
            print(f"  frames {int(count)} in {counted_for:.1f} s ({count / counted_for:.1f} a second), time in the"
                  f" frame function: mean {total / max(count, 1):.2f} ms, longest {longest:.2f} ms")
            for name, (n, z) in sizes.items():
                print(f"  {name:14} {n / 1e6:6.2f} MB, gzipped {z / 1e6:6.2f} MB")
            print(f"  download {raw / 1e6:.2f} MB, gzipped {packed / 1e6:.2f} MB (wasm + data + js + html)")
        print("PASS")
    except (AssertionError, RuntimeError) as e:
        print("FAIL: " + str(e))
        return 1
    finally:
        for p in procs:
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
        shutil.rmtree(folder, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
