"""What headless Chromium's <video> element makes of a media file.

The page and the file come from a server on 127.0.0.1 in a thread; the page
posts what it saw back to it. Chromium is killed at the end of every call."""

import http.server
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import unittest

CHROMIUM = shutil.which("chromium")

# Metadata, then a seek to `back` seconds before the end; the frame shown
# there is drawn to a canvas: a decoded test pattern is not one colour.
PAGE = """<!doctype html><video muted preload=auto></video><canvas></canvas><script>
const v = document.querySelector('video'), seen = {}, back = %f;
let sent = false;
function send() {
  if (sent) return;
  sent = true;
  fetch('/result', {method: 'POST', body: JSON.stringify(seen)});
}
function paint() {
  seen.currentTime = v.currentTime;
  const c = document.querySelector('canvas'), g = c.getContext('2d');
  c.width = v.videoWidth; c.height = v.videoHeight;
  g.drawImage(v, 0, 0);
  const px = g.getImageData(0, 0, c.width, c.height).data, colours = new Set();
  for (let i = 0; i < px.length && colours.size < 2; i += 4 * 97) colours.add(px[i] << 16 | px[i + 1] << 8 | px[i + 2]);
  seen.painted = px[3] === 255 && colours.size > 1;
  send();
}
v.onerror = () => { seen.error = v.error.message || 'media error ' + v.error.code; send(); };
v.onloadedmetadata = () => {
  Object.assign(seen, {videoWidth: v.videoWidth, videoHeight: v.videoHeight, duration: v.duration});
  v.currentTime = Math.max(0, v.duration - back);
};
v.onseeked = () => {
  seen.seeked = true;
  v.requestVideoFrameCallback(paint);
  setTimeout(paint, 5000);
};
v.src = '/media';
</script>"""

TYPES = {".mp4": "video/mp4", ".flv": "video/x-flv", ".avi": "video/x-msvideo"}


def play(path, back=0.05, timeout=60):
    """Loads `path` in a <video>; returns what the page saw: `error`, or
    `videoWidth`, `videoHeight`, `duration`, `seeked`, `currentTime` and
    `painted` (the frame after the seek drawn and not blank)."""
    with open(path, "rb") as f:
        media = f.read()
    page = (PAGE % back).encode()
    result, done = {}, threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            if self.path == "/":
                return self.reply(200, page, "text/html")
            if self.path != "/media":
                return self.reply(404, b"", "text/plain")
            ranged = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
            if not ranged:
                return self.reply(200, media, TYPES.get(os.path.splitext(path)[1], "application/octet-stream"))
            first = int(ranged[1])
            last = min(int(ranged[2]) if ranged[2] else len(media) - 1, len(media) - 1)
            if first >= len(media):
                return self.reply(416, b"", "text/plain", {"Content-Range": f"bytes */{len(media)}"})
            self.reply(206, media[first:last + 1], TYPES.get(os.path.splitext(path)[1], "application/octet-stream"),
                       {"Content-Range": f"bytes {first}-{last}/{len(media)}"})

        def do_POST(self):
            result.update(json.loads(self.rfile.read(int(self.headers["Content-Length"]))))
            self.reply(204, b"", "text/plain")
            done.set()

        def reply(self, status, body, kind, headers=None):
            self.send_response(status)
            for name, value in {"Content-Type": kind, "Content-Length": str(len(body)), "Accept-Ranges": "bytes",
                                **(headers or {})}.items():
                self.send_header(name, value)
            self.end_headers()
            try:
                self.wfile.write(body)
            except (BrokenPipeError, ConnectionResetError):
                pass  # the player cancels reads it no longer needs

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    profile = tempfile.mkdtemp(prefix="avdconv-chromium-")
    browser = subprocess.Popen(
        [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-dev-shm-usage", "--user-data-dir=" + profile, f"http://127.0.0.1:{server.server_port}/"],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        if not done.wait(timeout):
            raise TimeoutError(f"Chromium reported nothing on {path} within {timeout} s")
        return result
    finally:
        # The browser and every helper it started share its process group.
        try:
            os.killpg(browser.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        browser.wait(timeout=30)
        server.shutdown()
        server.server_close()
        shutil.rmtree(profile, ignore_errors=True)


def needed(test):
    """Decorator: without Chromium a test skips, except where the run requires
    every judge (CI, AVD_REQUIRE_MEDIA=1): there a missing install fails."""
    if CHROMIUM:
        return test
    if not os.environ.get("CI") and os.environ.get("AVD_REQUIRE_MEDIA") != "1":
        return unittest.skip("headless Chromium (Debian's chromium package) is needed")(test)

    def missing(*_args):
        raise RuntimeError("chromium is not on PATH but CI or AVD_REQUIRE_MEDIA=1 requires it")

    return missing
