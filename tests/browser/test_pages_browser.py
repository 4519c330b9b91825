"""The inventory pages in headless Chromium against the service on loopback
(service/tests/conftest.py's): what only a browser shows (signing in, the
keyboard, phone widths, markup that must not run) and, once, a record that
tallowin.exe sends under Wine. What the pages say is
service/tests/test_pages.py's; what the upload sends, the Windows tests'.

Run by scripts/test-pages (which builds tallowin.exe and sets up Wine); the
tests run in file order and build on each other's records."""

import os
import subprocess
import sys
import tempfile
import urllib.parse

import pytest
from selenium import webdriver
from selenium.common.exceptions import NoAlertPresentException, WebDriverException
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "service", "tests"))
from conftest import envelope, http_post, running_service  # noqa: E402


def follow(browser, element):
    """Clicks a link or a form's button and waits for the next page: the click
    may return before the answer arrives, and a slow password check on a busy
    machine left the test reading the old page. A new document has a new
    html element (until it has, chromedriver may answer with any error)."""
    old = browser.find_element(By.TAG_NAME, "html").id
    element.click()
    WebDriverWait(browser, 60, ignored_exceptions=[WebDriverException]).until(
        lambda b: b.find_element(By.TAG_NAME, "html").id != old)


def wine(*args, timeout=300):
    """tallowin.exe (TALLOWIN_EXE, in the environment's Wine prefix: scripts/test-pages sets both up):
    its output's lines; it must succeed."""
    result = subprocess.run(["wine", os.environ["TALLOWIN_EXE"], *args], capture_output=True, timeout=timeout)
    out = result.stdout.decode("utf-8", "replace")
    assert result.returncode == 0, out
    return [line for line in out.replace("\r\n", "\n").split("\n") if line]


ADMIN, PASSWORD = "pat", "correct horse 7"
MARKUP = ("<script>alert(1)</script>", "<img src=x onerror=alert(1)>")
CLOCK_LABEL = "Approximate CPU Clock Rate: "


@pytest.fixture(scope="module")
def world():
    from tallowin_service import auth, db
    w = type("World", (), {})()
    w.db = "sqlite:///" + os.path.join(tempfile.mkdtemp(prefix="tallowin-pages-", dir=os.environ.get(
        "TALLOWIN_BUILD_DIR")), "inventory.sqlite")
    with running_service(w.db, max_seconds=900) as w.service:
        w.base = "http://127.0.0.1:%d" % w.service.port
        engine = db.create_engine(w.db)   # the service made the tables
        auth.set_admin(engine, ADMIN, PASSWORD)
        engine.dispose()
        options = webdriver.ChromeOptions()   # headless; as root it needs --no-sandbox
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--window-size=1280,1000", "--lang=en-US", "--hide-scrollbars"):
            options.add_argument(argument)
        w.browser = webdriver.Chrome(service=DriverService("/usr/bin/chromedriver"), options=options)
        w.browser.set_page_load_timeout(60)
        yield w
        w.browser.quit()


def go(w, path):
    w.browser.get(w.base + path)


def test_sign_in_leads_back(world):
    go(world, "/programs?q=x")
    world.browser.find_element(By.ID, "name").send_keys(ADMIN)
    world.browser.find_element(By.ID, "password").send_keys(PASSWORD)
    follow(world.browser, world.browser.find_element(By.CSS_SELECTOR, "form button[type=submit]"))
    assert world.browser.current_url == world.base + "/programs?q=x"


def test_an_upload_from_wine_shows_the_pcs_own_lines(world):
    processor = wine("show", "CPU")
    wine("upload", "--server", "127.0.0.1:%d" % world.service.port)
    go(world, "/machines")
    follow(world.browser, world.browser.find_element(By.CSS_SELECTOR, "table.list tbody td a"))
    world.pc_path = urllib.parse.urlsplit(world.browser.current_url).path
    # The clock rate is read afresh by each run; every other line is the same.
    same = lambda lines: [l if not l.startswith(CLOCK_LABEL) else CLOCK_LABEL for l in lines]  # noqa: E731
    shown = [e.text for e in world.browser.find_elements(By.CSS_SELECTOR, "#processor ul.lines li")]
    assert same(shown) == same(processor) and len(shown) >= 8
    assert world.browser.find_elements(By.CSS_SELECTOR, "#network ul.lines li") != []
    shot = os.environ.get("TALLOWIN_PAGES_SCREENSHOT")
    if shot:   # the PC's page at a desktop's width and, beside it (-phone.png), at a phone's
        for width, name in ((1280, shot), (390, shot[:-len(".png")] + "-phone.png")):
            world.browser.set_window_size(width, 1000)
            height = world.browser.execute_script("return document.documentElement.scrollHeight")
            # The window's frame takes some of its height: room for the whole page.
            world.browser.set_window_size(width, min(max(height, 800) + 160, 2400 if width > 400 else 3200))
            world.browser.save_screenshot(name)
        world.browser.set_window_size(1280, 1000)


def test_keyboard_alone_reaches_the_first_pc(world):
    go(world, "/machines")
    world.browser.find_element(By.TAG_NAME, "body").send_keys(Keys.TAB)
    skip = world.browser.switch_to.active_element
    assert skip.text == "Skip to the content" and skip.is_displayed()
    skip.send_keys(Keys.ENTER)
    first_pc = world.browser.find_element(By.CSS_SELECTOR, "table.list tbody td a")
    for _ in range(30):
        world.browser.switch_to.active_element.send_keys(Keys.TAB)
        if world.browser.switch_to.active_element == first_pc:
            break
    assert world.browser.switch_to.active_element == first_pc
    assert first_pc.value_of_css_property("outline-style") != "none"


def test_every_page_fits_a_phone_and_runs_no_markup(world):
    for version in ("7.1", "7.2"):   # an update, for the changes, from a PC of markup names
        body = envelope(user="<i>u</i>", address="00-0C-29-00-00-01", name="<b>PC</b>",
                        programs=("Pages Zeta " + version, "Pages \u00c4rger \u65e5\u672c") + MARKUP)
        assert http_post(world.service.port, body)[0] == 200
    pages = ["/", "/machines", "/machines?silent=0", "/programs", "/programs?q=pages", "/programs?q=alert",
             "/program?name=Pages%20Zeta%207.2", "/programs/machines?q=pages", "/machines/00-0C-29-00-00-01",
             "/changes", "/search?q=pc", "/search?q=nothing-like-it", "/nothing", "/machines?silent=x", world.pc_path,
             "/program?name=" + urllib.parse.quote(MARKUP[0]), "/program?name=" + urllib.parse.quote(MARKUP[1])]
    world.browser.set_window_size(390, 844)
    try:
        for page in pages:
            go(world, page)
            try:
                world.browser.switch_to.alert.dismiss()
                raise AssertionError("a dialog opened on " + page)
            except NoAlertPresentException:
                pass
            assert world.browser.find_elements(By.XPATH, "//script | //img | //b[.='PC'] | //i[.='u']") == [], page
            if page == "/machines":   # the names as text
                assert "<b>PC</b>" in world.browser.find_element(By.TAG_NAME, "main").text
            widths = world.browser.execute_script("return [document.documentElement.scrollWidth, window.innerWidth]")
            assert widths[0] <= widths[1] == 390, (page, widths)
    finally:
        world.browser.set_window_size(1280, 1000)
    assert world.browser.find_element(By.TAG_NAME, "h1").text == MARKUP[1]
