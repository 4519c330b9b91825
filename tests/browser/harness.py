"""What the browser tests stand on: headless Chromium through Selenium, a
click that waits for the next page, and tallowin.exe under Wine with
programs written into its registry. The service on loopback is the service
tests' (service/tests/conftest.py)."""

import os
import subprocess
import sys

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException, WebDriverException
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "service", "tests"))   # the tests' service: conftest

UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
# What chromedriver says, instead of "stale element", when it is asked about a
# node while the browser is replacing that node's document.
REPLACED_DOCUMENT = ("does not belong to the document", "No node with given id",
                     "Cannot find context with specified id")


def chromium():
    """Headless Chromium (as root it needs --no-sandbox)."""
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=1280,1000", "--lang=en-US", "--hide-scrollbars"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=DriverService("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(60)
    return driver


def replaced(page):
    """True once the element's document has been replaced by the next page."""
    try:
        page.is_enabled()
        return False
    except StaleElementReferenceException:
        return True
    except WebDriverException as e:
        if any(m in (e.msg or "") for m in REPLACED_DOCUMENT):
            return True
        raise


def follow(browser, element):
    """Clicks a link or a form's button and waits for the next page: the click
    may return before the answer arrives, and a slow password check on a busy
    machine left the test reading the old page."""
    page = browser.find_element(By.TAG_NAME, "html")
    element.click()
    WebDriverWait(browser, 60).until(lambda _: replaced(page))


def wine(*args, timeout=300):
    """tallowin.exe (TALLOWIN_EXE, in the environment's Wine prefix: scripts/test-pages sets both up):
    its output's lines; it must succeed."""
    result = subprocess.run(["wine", os.environ["TALLOWIN_EXE"], *args], capture_output=True, timeout=timeout)
    out = result.stdout.decode("utf-8", "replace")
    assert result.returncode == 0, out
    return [line for line in out.replace("\r\n", "\n").split("\n") if line]


def set_program(subkey, name=None):
    """Adds a program to the Uninstall key, or removes it (name None)."""
    command = ["add", UNINSTALL + "\\" + subkey, "/v", "DisplayName", "/t", "REG_SZ", "/d", name, "/f"] \
        if name else ["delete", UNINSTALL + "\\" + subkey, "/f"]
    code = subprocess.run(["wine", "reg", *command], capture_output=True, timeout=120).returncode
    assert code == 0 or not name, "wine reg add %s failed" % subkey
