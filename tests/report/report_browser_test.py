#!/usr/bin/env python3
"""The library report in a real browser: headless Debian chromium, driven
through the DevTools protocol (a small websocket client below, standard
library only), loads a report of a small library from a file URL.

Usage: report_browser_test.py VARNDEL VARNDEL_INSPECT SOURCE_DIR SCRATCH [--screenshot PNG [PATH...]]
With --screenshot, writes a picture of the page (a row's detail open) of a
report over PATH... (default: the test's library) and runs no checks.
"""
import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

HOSTILE = "<img src=x onerror=document.title='pwned'>.staticbin"
QUOTED = "a&b \"quoted\" 'name'.staticbin"
NOT_UTF8 = b"bad\xff\xfename.staticbin"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


class WebSocket:
    """Just enough of RFC 6455 for the DevTools protocol: text frames, masked
    from the client, fragments and large frames from the browser."""

    def __init__(self, url):
        parts = urllib.parse.urlparse(url)
        self.sock = socket.create_connection((parts.hostname, parts.port), timeout=60)
        key = base64.b64encode(os.urandom(16)).decode()
        request = (f"GET {parts.path} HTTP/1.1\r\nHost: {parts.hostname}:{parts.port}\r\nUpgrade: websocket\r\n"
                   f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
        self.sock.sendall(request.encode())
        response = b""
        while b"\r\n\r\n" not in response:
            chunk = self.sock.recv(4096)
            check(chunk, "the browser closed the DevTools connection")
            response += chunk
        head, self.buffer = response.split(b"\r\n\r\n", 1)
        check(head.startswith(b"HTTP/1.1 101"), f"no websocket upgrade: {head[:80]!r}")

    def _read(self, n):
        while len(self.buffer) < n:
            chunk = self.sock.recv(1 << 20)
            check(chunk, "the browser closed the DevTools connection")
            self.buffer += chunk
        data, self.buffer = self.buffer[:n], self.buffer[n:]
        return data

    def send(self, text):
        payload = text.encode()
        header = bytes([0x81])
        if len(payload) < 126:
            header += bytes([0x80 | len(payload)])
        elif len(payload) < 1 << 16:
            header += bytes([0x80 | 126]) + struct.pack(">H", len(payload))
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", len(payload))
        mask = os.urandom(4)
        self.sock.sendall(header + mask + bytes(b ^ mask[i % 4] for i, b in enumerate(payload)))

    def receive(self):
        message = b""
        while True:
            first, second = self._read(2)
            length = second & 0x7F
            if length == 126:
                length = struct.unpack(">H", self._read(2))[0]
            elif length == 127:
                length = struct.unpack(">Q", self._read(8))[0]
            payload = self._read(length)
            opcode = first & 0x0F
            if opcode == 8:
                raise Failure("the browser closed the DevTools connection")
            if opcode in (0, 1, 2):
                message += payload
                if first & 0x80:
                    return message.decode()


class Browser:
    def __init__(self, scratch):
        self.profile = tempfile.mkdtemp(dir=scratch, prefix="chromium-profile-")
        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-extensions", "--window-size=1600,1000", f"--user-data-dir={self.profile}",
             "--remote-debugging-port=0", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        deadline = time.monotonic() + 60
        while not (os.path.exists(port_file) and open(port_file).read().count("\n") >= 1):
            check(self.process.poll() is None, "chromium exited at start")
            check(time.monotonic() < deadline, "chromium did not open its DevTools port")
            time.sleep(0.1)
        port = int(open(port_file).read().split("\n")[0])
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list"))
        page = next(t for t in targets if t["type"] == "page")
        self.ws = WebSocket(page["webSocketDebuggerUrl"])
        self.next_id = 0
        self.events = []
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.call(f"{domain}.enable")

    def call(self, method, **params):
        self.next_id += 1
        self.ws.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.receive())
            if message.get("id") == self.next_id:
                check("error" not in message, f"{method}: {message.get('error')}")
                return message["result"]
            self.events.append(message)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        check("exceptionDetails" not in result, f"{expression[:60]}: {result.get('exceptionDetails')}")
        return result["result"].get("value")

    def open(self, url):
        self.events.clear()
        self.call("Page.navigate", url=url)
        deadline = time.monotonic() + 60
        while not self.evaluate("!!document.documentElement && document.readyState === 'complete' && "
                                "document.documentElement.getAttribute('data-ready') === '1'"):
            check(time.monotonic() < deadline, "the page did not finish loading")
            time.sleep(0.1)
        # Let images finish decoding and any late event arrive.
        self.evaluate("Promise.all([...document.images].map((i) => i.decode().catch(() => null)))")

    def close(self):
        try:
            self.call("Browser.close")
        except Exception:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


def run(command, **kwargs):
    return subprocess.run(command, capture_output=True, **kwargs)


def build_library(varndel, source, scratch):
    """A small library: static and animated files, a LOD level, a file with
    missing textures, a damaged file and hostile names."""
    models = os.path.join(scratch, "models")
    library = os.path.join(scratch, "library")
    for directory in (models, library):
        shutil.rmtree(directory, ignore_errors=True)
        os.makedirs(directory)
    for name in ("tri.obj", "tri.mtl", "quad.obj", "quad.mtl", "character.gltf"):
        shutil.copy(os.path.join(source, "tests", "fixtures", name), models)
    for name in ("crate.obj", "crate.mtl", "walker.gltf"):
        shutil.copy(os.path.join(source, "examples", name), models)
    shutil.copy(os.path.join(source, "examples", "assets", "characters", "walker.bin"), models)
    for animated, model in ((0, "tri.obj"), (0, "quad.obj"), (0, "crate.obj"), (1, "walker.gltf"),
                            (1, "character.gltf")):
        done = run([varndel, str(animated), "0", model], cwd=models)
        check(done.returncode == 0, f"Varndel {model}: {done.stdout.decode()} {done.stderr.decode()}")
    os.makedirs(os.path.join(library, "props"))
    os.makedirs(os.path.join(library, "characters"))
    shutil.copy(os.path.join(models, "crate.staticbin"), os.path.join(library, "props"))
    shutil.copy(os.path.join(models, "quad.staticbin"), os.path.join(library, "props"))
    shutil.copy(os.path.join(models, "tri.staticbin"), os.path.join(library, "props"))
    shutil.copy(os.path.join(models, "tri.staticbin"), os.path.join(library, "props", "tri.lod1.staticbin"))
    shutil.copy(os.path.join(models, "walker.animbin"), os.path.join(library, "characters"))
    shutil.copy(os.path.join(models, "character.animbin"), os.path.join(library, "characters"))
    # A take file, listed in its record as varndel-edge --animation lists it.
    shutil.copy(os.path.join(models, "walker.animbin"), os.path.join(library, "characters", "walker.walk.animbin"))
    with open(os.path.join(library, "characters", "walker.takes.txt"), "w") as record:
        record.write("# take files of walker.gltf\nwalker.walk.animbin\t0\t'walk'\tmodel\n")
    shutil.copy(os.path.join(models, "tri.staticbin"), os.path.join(library, HOSTILE))
    shutil.copy(os.path.join(models, "quad.staticbin"), os.path.join(library, QUOTED))
    shutil.copy(os.path.join(models, "tri.staticbin"), os.path.join(os.fsencode(library), NOT_UTF8))
    data = open(os.path.join(models, "crate.staticbin"), "rb").read()
    open(os.path.join(library, "damaged.staticbin"), "wb").write(data[: len(data) // 2])
    open(os.path.join(library, "notes.txt"), "w").write("not a compiled file\n")
    return models, library


def json_figures(inspect, path):
    done = run([inspect, "json", path])
    check(done.returncode == 0, f"varndel-inspect json {path}: {done.stderr.decode()}")
    doc = json.loads(done.stdout)
    animation = doc.get("animation", {})
    return {
        "kind": doc["kind"],
        "meshes": len(doc["meshes"]),
        "vertices": sum(m["vertices"] for m in doc["meshes"]),
        "triangles": sum(m["indices"] for m in doc["meshes"]) // 3,
        "bytes": doc["bytes"],
        "keys": animation.get("keys", 0),
        "nodes": animation.get("nodes", 0),
        "bones": len(animation.get("boneInfo", [])),
    }


def has_findings(inspect, path):
    done = run([inspect, "check", path])
    return done.returncode != 0 or b"warning: " in done.stdout


ROWS = """[...document.querySelectorAll('#files tbody tr')].filter((tr) => !tr.hidden).map((tr) => {
  const cells = {};
  for (const td of tr.cells) cells[td.dataset.col] = td.hasAttribute('data-v') ? Number(td.dataset.v) : td.textContent;
  return { key: tr.dataset.key, cells };
})"""


def visible_keys(browser):
    return [row["key"] for row in browser.evaluate(ROWS)]


def test_page(browser, inspect, library, page):
    browser.open("file://" + urllib.parse.quote(page))
    title = browser.evaluate("document.title")
    check(title == "Varndel library report", f"the title changed to {title!r}: a name ran as script")

    # No console error, no exception, no request that leaves the page.
    problems = []
    for event in browser.events:
        method, params = event.get("method"), event.get("params", {})
        if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            problems.append(f"console {params['type']}: {params.get('args')}")
        elif method == "Runtime.exceptionThrown":
            problems.append(f"exception: {params.get('exceptionDetails')}")
        elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
            problems.append(f"log: {params['entry'].get('text')}")
        elif method == "Network.requestWillBeSent":
            url = params["request"]["url"]
            if not (url.startswith("file:") or url.startswith("data:")):
                problems.append(f"request: {url}")
    check(not problems, "the page is not clean:\n  " + "\n  ".join(problems))

    # Every picture decodes.
    images = browser.evaluate("[...document.querySelectorAll('img.thumb')].map((i) => [i.complete, i.naturalWidth])")
    check(len(images) >= 8, f"only {len(images)} thumbnails")
    check(all(done and width > 0 for done, width in images), f"a thumbnail does not decode: {images}")

    # One row per compiled file (the text file is not one), each with json's figures.
    rows = {row["key"]: row["cells"] for row in browser.evaluate(ROWS)}
    files = []
    for directory, _, names in os.walk(os.fsencode(library)):
        files += [os.path.join(directory, n) for n in names if n.endswith((b".staticbin", b".animbin"))]
    check(len(rows) == len(files), f"{len(rows)} rows for {len(files)} files: {sorted(rows)}")
    for path in files:
        key = os.path.relpath(path, os.fsencode(library))
        if key == NOT_UTF8:
            check(any("\ufffd" in k and k.startswith("bad") for k in rows), f"no row for the non-UTF-8 name: {sorted(rows)}")
            continue
        key = key.decode()
        check(key in rows, f"no row for {key}")
        cells = rows[key]
        check(cells["file"] == key, f"{key}: the file cell shows {cells['file']!r}")
        if key == "damaged.staticbin":
            check("error" in cells and "unreadable" in cells["error"], f"the damaged file's row: {cells}")
            message = cells["error"].split("unreadable: ", 1)[1]
            checked = run([inspect, "check", path]).stdout.decode()
            check(message in checked, f"the row's error {message!r} is not the reader's: {checked!r}")
            continue
        expected = json_figures(inspect, path)
        shown = {k: cells[k] for k in expected if k != "bytes"}
        shown["bytes"] = cells["bytes"]
        check(shown == expected, f"{key}: the page shows {shown}, json says {expected}")

    take = rows["characters/walker.walk.animbin"]["take"]
    info = run([inspect, "info", os.path.join(library, "characters", "walker.walk.animbin")]).stdout.decode()
    check(take == "0 'walk'" and f"take      {take} (listed in" in info, f"the take shown: {take!r}, info: {info!r}")

    # The hostile name is text, in its cell, and made no element.
    check(HOSTILE in rows, "the hostile name is not shown as it is")
    check(browser.evaluate("document.querySelectorAll('img[src=\"x\"], img:not([src^=\"data:\"])').length") == 0,
          "the hostile name made an image element")
    check(QUOTED in rows, "the name with quotes and & is not shown as it is")

    # Sorting by triangles: the largest first, rows without figures last; then the smallest first.
    before = visible_keys(browser)
    browser.evaluate("document.querySelector('th[data-col=\"triangles\"]').click()")
    order = [(r["key"], r["cells"].get("triangles")) for r in browser.evaluate(ROWS)]
    numbers = [t for _, t in order if isinstance(t, (int, float))]
    check(numbers == sorted(numbers, reverse=True), f"not sorted by triangles, largest first: {order}")
    check(all(isinstance(t, (int, float)) for _, t in order[: len(numbers)]), f"a row without figures sorts first: {order}")
    check([k for k, _ in order] != before, "sorting by triangles did not change the order")
    browser.evaluate("document.querySelector('th[data-col=\"triangles\"]').click()")
    numbers = [r["cells"]["triangles"] for r in browser.evaluate(ROWS) if isinstance(r["cells"].get("triangles"), (int, float))]
    check(numbers == sorted(numbers), f"not sorted by triangles, smallest first: {numbers}")

    # The filter hides rows; the totals follow what is shown.
    def set_filter(text, problems_only):
        browser.evaluate(f"""(() => {{
          const f = document.getElementById('filter'); f.value = {json.dumps(text)};
          f.dispatchEvent(new Event('input'));
          const p = document.getElementById('problems');
          if (p.checked !== {json.dumps(problems_only)}) p.click();
        }})()""")
    set_filter("characters/", False)
    shown = visible_keys(browser)
    check(sorted(shown) == ["characters/character.animbin", "characters/walker.animbin", "characters/walker.walk.animbin"],
          f"filter: {shown}")
    totals = browser.evaluate("Number(document.querySelector('#totals td[data-col=\"triangles\"]').dataset.v)")
    check(totals == sum(rows[k]["triangles"] for k in shown), f"the totals row does not add up: {totals}")

    # "Problems only" leaves exactly the files check finds something in.
    set_filter("", True)
    shown = set(visible_keys(browser))
    expected = set()
    for path in files:
        key = os.path.relpath(path, os.fsencode(library))
        if key != NOT_UTF8 and has_findings(inspect, path):
            expected.add(key.decode())
    check("damaged.staticbin" in expected and "props/crate.staticbin" in expected and
          "characters/walker.animbin" not in expected, f"the library lacks the cases it should have: {expected}")
    shown.discard(next((k for k in shown if k.startswith("bad")), None))
    check(shown == expected, f"problems only shows {sorted(shown)}, check finds {sorted(expected)}")
    set_filter("", False)

    # The detail panel: a larger picture and the findings.
    browser.evaluate("document.querySelector('tr[data-key=\"props/crate.staticbin\"]').click()")
    detail = browser.evaluate("""(() => { const d = document.getElementById('detail');
      return { hidden: d.hidden, text: d.textContent,
               sizes: [...d.querySelectorAll('.frames img')].map((i) => i.naturalWidth) }; })()""")
    check(not detail["hidden"] and detail["sizes"] and all(w == 288 for w in detail["sizes"]),
          f"the detail panel has no larger picture: {detail['sizes']}")
    check("crate_diffuse.png" in detail["text"] and "warning" in detail["text"], "the detail panel lacks the findings")
    browser.evaluate("document.querySelector('tr[data-key=\"characters/walker.animbin\"]').click()")
    frames = browser.evaluate("[...document.querySelectorAll('#detail .frames img')].map((i) => i.naturalWidth)")
    check(len(frames) == 4 and all(w > 0 for w in frames), f"the animated file's frames: {frames}")
    check(browser.evaluate("document.title") == "Varndel library report", "a script ran from a name")


def test_compare(browser, inspect, library, scratch, models):
    old_json = os.path.join(scratch, "old.json")
    page = os.path.join(scratch, "compare.html")
    done = run([inspect, "report", library, "-o", page, "--json", old_json, "-j", "2"])
    check(done.returncode == 0, f"report --json: {done.stderr.decode()}")
    os.remove(os.path.join(library, "props", "quad.staticbin"))
    shutil.copy(os.path.join(models, "quad.staticbin"), os.path.join(library, "props", "tri.staticbin"))
    shutil.copy(os.path.join(models, "tri.staticbin"), os.path.join(library, "props", "new.staticbin"))
    done = run([inspect, "report", library, "-o", page, "--compare", old_json])
    check(done.returncode == 0, f"report --compare: {done.stderr.decode()}")
    browser.open("file://" + urllib.parse.quote(page))
    rows = {r["key"]: r["cells"] for r in browser.evaluate(ROWS)}
    tri, quad = os.path.getsize(os.path.join(models, "tri.staticbin")), os.path.getsize(os.path.join(models, "quad.staticbin"))
    expected = {"props/quad.staticbin": ("removed", -quad), "props/tri.staticbin": ("changed", quad - tri),
                "props/new.staticbin": ("added", tri), "props/crate.staticbin": ("same", 0)}
    for key, (status, delta) in expected.items():
        check(rows.get(key, {}).get("change") == status and rows[key].get("delta") == delta,
              f"{key}: {rows.get(key)} (expected {status}, {delta})")
    bad = run([inspect, "report", library, "-o", page, "--compare", os.path.join(library, "notes.txt")])
    check(bad.returncode == 2 and b"notes.txt" in bad.stderr, f"a --compare file that is no report: {bad.stderr!r}")


def main():
    varndel, inspect, source, scratch = (os.path.abspath(a) for a in sys.argv[1:5])
    check(shutil.which("chromium"), "chromium is not installed (tools/build.sh --packages installs it)")
    os.makedirs(scratch, exist_ok=True)
    models, library = build_library(varndel, source, scratch)
    browser = Browser(scratch)
    try:
        if len(sys.argv) > 5 and sys.argv[5] == "--screenshot":
            paths = sys.argv[7:] or [library]
            page = os.path.join(scratch, "screenshot.html")
            done = run([inspect, "report", *paths, "-o", page])
            check(done.returncode == 0, done.stderr.decode())
            browser.call("Emulation.setDeviceMetricsOverride", width=2300, height=1000, deviceScaleFactor=1, mobile=False)
            browser.open("file://" + urllib.parse.quote(page))
            browser.evaluate("document.querySelectorAll('#files tbody tr:not(.unreadable)')[4].click()")
            browser.evaluate("Promise.all([...document.images].map((i) => i.decode().catch(() => null)))")
            shot = browser.call("Page.captureScreenshot", format="png")
            open(sys.argv[6], "wb").write(base64.b64decode(shot["data"]))
            return 0
        page = os.path.join(scratch, "report.html")
        done = run([inspect, "report", library, "-o", page, "-j", "2", "--max-triangles", "100000"])
        check(done.returncode == 0, f"report: exit {done.returncode}: {done.stderr.decode()}")
        check(b"damaged.staticbin" in done.stderr, "no warning names the damaged file")
        test_page(browser, inspect, library, page)
        # A budget below the walker's triangles: a placeholder that says so.
        done = run([inspect, "report", os.path.join(library, "characters"), "-o", page, "--max-triangles", "1"])
        check(done.returncode == 0, done.stderr.decode())
        browser.open("file://" + urllib.parse.quote(page))
        notes = browser.evaluate("[...document.querySelectorAll('.placeholder')].map((p) => p.textContent)")
        check(len(notes) == 3 and all("more than the report draws" in n for n in notes), f"placeholders: {notes}")
        test_compare(browser, inspect, library, scratch, models)
    finally:
        browser.close()
    print("report browser test: passed")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        sys.exit(1)
