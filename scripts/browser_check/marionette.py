"""Firefox under Marionette: a headless firefox-esr on a profile folder, and privileged scripts in it."""
import json
import os
import socket
import subprocess
import time

USER_JS = """
user_pref("marionette.port", {port});
user_pref("browser.shell.checkDefaultBrowser", false);
user_pref("browser.startup.homepage_override.mstone", "ignore");
user_pref("browser.startup.page", 0);
user_pref("browser.aboutwelcome.enabled", false);
user_pref("datareporting.policy.dataSubmissionEnabled", false);
user_pref("datareporting.healthreport.uploadEnabled", false);
user_pref("toolkit.telemetry.reportingpolicy.firstRun", false);
user_pref("toolkit.telemetry.enabled", false);
user_pref("app.update.enabled", false);
user_pref("app.update.auto", false);
user_pref("app.normandy.enabled", false);
user_pref("browser.safebrowsing.malware.enabled", false);
user_pref("browser.safebrowsing.phishing.enabled", false);
user_pref("browser.safebrowsing.downloads.enabled", false);
user_pref("browser.safebrowsing.update.enabled", false);
user_pref("extensions.update.enabled", false);
user_pref("network.captive-portal-service.enabled", false);
user_pref("network.connectivity-service.enabled", false);
user_pref("browser.newtabpage.activity-stream.feeds.system.topstories", false);
user_pref("browser.newtabpage.activity-stream.feeds.topsites", false);
"""

# Wraps a script body so that it runs as an async function; its return value (or its error) comes back
# as JSON text through Marionette's async callback.
ASYNC_WRAPPER = """
const __done = arguments[arguments.length - 1];
const __args = Array.from(arguments).slice(0, -1);
(async (...args) => {
  const { PlacesUtils } = ChromeUtils.importESModule("resource://gre/modules/PlacesUtils.sys.mjs");
%s
})(...__args).then(v => __done(JSON.stringify({ ok: true, value: v })),
                 e => __done(JSON.stringify({ ok: false, error: String(e) + "\\n" + (e && e.stack) })));
"""


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class FirefoxError(RuntimeError):
    pass


class Firefox:
    """One headless Firefox on `profile` (created when missing; a places.sqlite put there first is used)."""

    def __init__(self, profile, home):
        self.profile = profile
        self.home = home
        self.port = free_port()
        self.proc = None
        self.sock = None
        self.stream = None
        self.next_id = 0

    def __enter__(self):
        os.makedirs(self.profile, exist_ok=True)
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            f.write(USER_JS.replace("{port}", str(self.port)))
        env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME=self.home + "/.config",
                   XDG_CACHE_HOME=self.home + "/.cache", XDG_DATA_HOME=self.home + "/.local/share",
                   MOZ_HEADLESS="1", MOZ_CRASHREPORTER_DISABLE="1")
        os.makedirs(self.home, exist_ok=True)
        self.log = open(os.path.join(self.home, "firefox.log"), "wb")
        self.proc = subprocess.Popen(
            ["firefox-esr", "--headless", "--marionette", "-remote-allow-system-access", "--profile", self.profile,
             "-no-remote"], env=env, stdout=self.log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        deadline = time.time() + 120
        while True:
            if self.proc.poll() is not None:
                raise FirefoxError("firefox-esr ended at start (code %s)" % self.proc.returncode)
            try:
                self.sock = socket.create_connection(("127.0.0.1", self.port), timeout=5)
                break
            except OSError:
                if time.time() > deadline:
                    raise FirefoxError("no Marionette connection within 120 s")
                time.sleep(0.3)
        self.sock.settimeout(600)
        self.stream = self.sock.makefile("rb")
        self._receive()  # the server's greeting
        self.command("WebDriver:NewSession", {"capabilities": {}})
        self.command("Marionette:SetContext", {"value": "chrome"})
        return self

    def _receive(self):
        length = b""
        while True:
            c = self.stream.read(1)
            if not c:
                raise FirefoxError("Marionette connection closed")
            if c == b":":
                break
            length += c
        return json.loads(self.stream.read(int(length)))

    def command(self, name, params):
        self.next_id += 1
        data = json.dumps([0, self.next_id, name, params]).encode()
        self.sock.sendall(str(len(data)).encode() + b":" + data)
        while True:
            reply = self._receive()
            if reply[0] == 1 and reply[1] == self.next_id:
                break
        if reply[2]:
            raise FirefoxError("%s: %s" % (name, reply[2].get("message")))
        return reply[3]

    def run(self, body, *args, timeout_ms=300000):
        """Runs `body` (an async function body with PlacesUtils and `args` in scope); returns its value."""
        reply = self.command("WebDriver:ExecuteAsyncScript",
                             {"script": ASYNC_WRAPPER % body, "args": list(args), "scriptTimeout": timeout_ms})
        result = json.loads(reply["value"])
        if not result["ok"]:
            raise FirefoxError(result["error"])
        return result["value"]

    def __exit__(self, *exc):
        try:
            if self.sock:
                try:
                    self.command("Marionette:Quit", {})
                except (OSError, FirefoxError):
                    pass
                self.sock.close()
            try:
                self.proc.wait(120)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        finally:
            self.log.close()
        return False
