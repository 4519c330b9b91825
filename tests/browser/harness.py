"""What the browser tests stand on: the inventory service started on
loopback, an administrator, headless Chromium through Selenium, and
tallowin.exe under Wine with programs written into its registry."""

import os
import select
import subprocess
import time
import urllib.request
from xml.sax.saxutils import escape

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SERVICE = os.path.join(ROOT, "service", "tallowin-service")
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


class RunningService:
    """service/tallowin-service serve on 127.0.0.1, port 0; it stops by
    itself after max_seconds, and at stop()."""

    def __init__(self, db_url, log_path, max_seconds=900):
        self.log = open(log_path, "w")
        self.process = subprocess.Popen(
            [SERVICE, "serve", "--db", db_url, "--listen", "127.0.0.1:0", "--workers", "2",
             "--max-seconds", str(max_seconds), "--quiet"],
            stdout=subprocess.PIPE, stderr=self.log, text=True)
        self.port = self._wait_ready(60)
        self.base = "http://127.0.0.1:%d" % self.port

    def _wait_ready(self, seconds):
        deadline = time.monotonic() + seconds
        line = ""
        while time.monotonic() < deadline:
            ready, _, _ = select.select([self.process.stdout], [], [], 0.5)
            if ready:
                line = self.process.stdout.readline()
                if line.startswith("READY "):
                    return int(line.split()[1])
                if not line and self.process.poll() is not None:
                    break
        self.stop()
        raise RuntimeError("the service did not say READY (last line %r); see %s" % (line, self.log.name))

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(20)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.log.close()


def add_admin(db_url, name, password):
    subprocess.run([SERVICE, "add-admin", name, "--db", db_url], input=password + "\n", text=True,
                   check=True, capture_output=True, timeout=60)


def post_record(base, user, address, programs, network, processor):
    """A record as the control sends it, for PCs the test has no Wine for."""
    fields = (("UserName", user), ("AdapterAddress", address), ("ProgramsText", programs),
              ("NetworkText", network), ("ProcessorText", processor))
    body = ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s='
            '"http://schemas.xmlsoap.org/soap/envelope/"><s:Body><setSaveSoftwareInformation'
            ' xmlns="urn:tallowin:inventory">%s</setSaveSoftwareInformation></s:Body></s:Envelope>'
            % "".join("<%s>%s</%s>" % (t, escape(v), t) for t, v in fields)).encode("utf-8")
    request = urllib.request.Request(
        base + "/Zelt/pcInventoryD.nsf/savesoftware", data=body,
        headers={"Content-Type": "text/xml; charset=utf-8", "SOAPAction": '"setSaveSoftwareInformation"'})
    with urllib.request.urlopen(request, timeout=30) as answer:
        assert answer.status == 200


def chromium(download_dir):
    """Headless Chromium (as root it needs --no-sandbox) that saves downloads
    into download_dir without asking."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,1000", "--lang=en-US", "--hide-scrollbars"):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"download.default_directory": download_dir,
                                              "download.prompt_for_download": False})
    driver = webdriver.Chrome(service=DriverService("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                           {"behavior": "allow", "downloadPath": download_dir})
    driver.set_page_load_timeout(60)
    return driver


def wait_for_file(path, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if os.path.exists(path) and not os.path.exists(path + ".crdownload"):
            return path
        time.sleep(0.2)
    raise AssertionError("no download at " + path)


class Wine:
    """tallowin.exe (TALLOWIN_EXE) in the Wine prefix of the environment
    (scripts/test-pages sets both up)."""

    def __init__(self):
        self.exe = os.environ["TALLOWIN_EXE"]

    def run(self, *args, timeout=300):
        result = subprocess.run(["wine", self.exe] + list(args), capture_output=True, timeout=timeout)
        return result.returncode, result.stdout.decode("utf-8", "replace")

    def lines(self, *args):
        code, out = self.run(*args)
        assert code == 0, out
        return [line for line in out.replace("\r\n", "\n").split("\n") if line]

    @staticmethod
    def reg(*args):
        result = subprocess.run(["wine", "reg"] + list(args), capture_output=True, timeout=120)
        return result.returncode

    def add_program(self, subkey, name):
        code = self.reg("add", UNINSTALL + "\\" + subkey, "/v", "DisplayName", "/t", "REG_SZ",
                        "/d", name, "/f")
        assert code == 0, "wine reg add %s failed" % subkey

    def remove_program(self, subkey):
        self.reg("delete", UNINSTALL + "\\" + subkey, "/f")
