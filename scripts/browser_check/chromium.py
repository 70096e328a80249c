"""Chromium under the DevTools protocol over a pipe, with an unpacked extension that may use chrome.bookmarks."""
import fcntl
import json
import os
import select
import subprocess
import threading
import time

# Pipes and forks of sessions started from several threads must not interleave.
_START = threading.Lock()

MANIFEST = {"manifest_version": 3, "name": "bookmark probe", "version": "1.0", "permissions": ["bookmarks"],
            "background": {"service_worker": "worker.js"}}


class ChromiumError(RuntimeError):
    pass


def write_extension(folder):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "manifest.json"), "w") as f:
        json.dump(MANIFEST, f)
    with open(os.path.join(folder, "worker.js"), "w") as f:
        f.write("self.probeReady = true;\n")


class Chromium:
    """One headless Chromium on `user_data_dir`; a Default/Bookmarks put there first is what it loads."""

    def __init__(self, user_data_dir, home, extension_dir):
        self.udd = user_data_dir
        self.home = home
        self.extension = extension_dir
        self.proc = None
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def __enter__(self):
        os.makedirs(self.home, exist_ok=True)
        write_extension(self.extension)
        env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=self.home + "/.config",
                   XDG_CACHE_HOME=self.home + "/.cache", XDG_DATA_HOME=self.home + "/.local/share")

        def fds():
            # Chromium reads commands from fd 3 and writes answers to fd 4; either pipe end may itself sit
            # on 3 or 4, so both are moved out of the way first.
            reader = fcntl.fcntl(to_chrome_r, fcntl.F_DUPFD_CLOEXEC, 10)
            writer = fcntl.fcntl(from_chrome_w, fcntl.F_DUPFD_CLOEXEC, 10)
            os.dup2(reader, 3)
            os.dup2(writer, 4)

        self.log = open(os.path.join(self.home, "chromium.log"), "wb")
        _START.acquire()
        to_chrome_r, self.to_chrome = os.pipe()
        self.from_chrome, from_chrome_w = os.pipe()
        try:
            self.proc = subprocess.Popen(
                ["chromium", "--headless=new", "--user-data-dir=" + self.udd, "--no-first-run",
                 "--no-default-browser-check", "--remote-debugging-pipe", "--enable-unsafe-extension-debugging",
                 "--load-extension=" + self.extension, "--disable-gpu", "--no-sandbox",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-features=Translate,OptimizationHints,MediaRouter", "--safebrowsing-disable-auto-update",
                 "--password-store=basic", "--use-mock-keychain", "about:blank"],
                env=env, preexec_fn=fds, close_fds=False, stdout=self.log, stderr=subprocess.STDOUT,
                stdin=subprocess.DEVNULL)
        finally:
            os.close(to_chrome_r)
            os.close(from_chrome_w)
            _START.release()
        self.call("Target.setDiscoverTargets", {"discover": True})
        deadline = time.time() + 60
        worker = None
        while worker is None:
            targets = self.call("Target.getTargets")["targetInfos"]
            worker = next((t for t in targets if t["type"] == "service_worker"
                           and t["url"].startswith("chrome-extension://")), None)
            if worker is None:
                if time.time() > deadline:
                    raise ChromiumError("the probe extension's service worker never started")
                time.sleep(0.3)
        self.session = self.call("Target.attachToTarget", {"targetId": worker["targetId"], "flatten": True})["sessionId"]
        self.call("Runtime.enable", {}, self.session)
        while self.evaluate("typeof chrome === 'object' && !!chrome.bookmarks") is not True:
            if time.time() > deadline:
                raise ChromiumError("chrome.bookmarks is not available in the extension")
            time.sleep(0.3)
        return self

    def call(self, method, params=None, session=None, timeout=300):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        data = json.dumps(message).encode() + b"\0"
        while data:
            data = data[os.write(self.to_chrome, data):]
        deadline = time.time() + timeout
        while True:
            while b"\0" in self.buffer:
                raw, self.buffer = self.buffer.split(b"\0", 1)
                reply = json.loads(raw)
                if reply.get("id") == self.next_id:
                    if "error" in reply:
                        raise ChromiumError("%s: %s" % (method, reply["error"]))
                    return reply.get("result", {})
            if time.time() > deadline:
                raise ChromiumError("%s: no answer" % method)
            ready, _, _ = select.select([self.from_chrome], [], [], 1)
            if ready:
                chunk = os.read(self.from_chrome, 1 << 20)
                if not chunk:
                    raise ChromiumError("Chromium closed the pipe")
                self.buffer += chunk

    def evaluate(self, expression):
        """Evaluates in the extension's worker (promises awaited); returns the value, raises on an exception."""
        result = self.call("Runtime.evaluate", {"expression": expression, "awaitPromise": True,
                                                "returnByValue": True}, self.session)
        if "exceptionDetails" in result:
            raise ChromiumError(result["exceptionDetails"].get("exception", {}).get("description", "exception"))
        return result["result"].get("value")

    def run(self, body, arg=None):
        """Runs an async function body with `arg` in scope; its value travels back as JSON."""
        return json.loads(self.evaluate("(async (arg) => JSON.stringify(await (async () => {%s})()))(%s)"
                                        % (body, json.dumps(arg))))

    def __exit__(self, *exc):
        try:
            try:
                self.call("Browser.close", timeout=30)
            except (OSError, ChromiumError):
                pass
            try:
                self.proc.wait(60)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        finally:
            os.close(self.to_chrome)
            os.close(self.from_chrome)
            self.log.close()
        return False
