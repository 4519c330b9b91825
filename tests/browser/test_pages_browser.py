"""The inventory pages in headless Chromium against the service on loopback,
with records sent by tallowin.exe under Wine from a registry fixture.

Run by scripts/test-pages (which builds tallowin.exe and sets up Wine); the
tests run in file order and build on each other's uploads."""

import csv
import datetime
import os
import tempfile
import time
import urllib.parse

import pytest
from selenium.common.exceptions import (NoAlertPresentException, StaleElementReferenceException,
                                        WebDriverException)
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

import harness

ADMIN, PASSWORD = "pat", "correct horse 7"
FIXTURE = {
    "TallowinPages-Alpha": "Tallowin Pages Alpha Editor 2.1",
    "TallowinPages-Beta": "Tallowin Pages Beta Viewer",
    "TallowinPages-Letters": "Tallowin Pages \u00c4rger \u65e5\u672c",
    "TallowinPages-Script": "<script>alert(1)</script>",
    "TallowinPages-Img": "<img src=x onerror=alert(1)>",
}
MARKUP = ("<script>alert(1)</script>", "<img src=x onerror=alert(1)>")
ADDED = ("TallowinPages-Gamma", "Tallowin Pages Gamma Tool")
REMOVED = "TallowinPages-Beta"
CLOCK_LABEL = "Approximate CPU Clock Rate: "
SIGNED_OUT_PAGES = ["/", "/machines", "/machines?q=x&sort=user", "/machines/00-11-22-33-44-55",
                    "/machines.csv", "/programs", "/programs?q=a", "/program?name=a",
                    "/program.csv?name=a", "/machines/00-11-22-33-44-55/records/1/network.txt"]


class World:
    pass


@pytest.fixture(scope="module")
def world():
    w = World()
    w.dir = tempfile.mkdtemp(prefix="tallowin-pages-", dir=os.environ.get("TALLOWIN_BUILD_DIR"))
    w.db = "sqlite:///" + os.path.join(w.dir, "inventory.sqlite")
    harness.add_admin(w.db, ADMIN, PASSWORD)
    w.service = harness.RunningService(w.db, os.path.join(w.dir, "service.log"))
    w.wine = harness.Wine()
    for subkey in list(FIXTURE) + [ADDED[0]]:
        w.wine.remove_program(subkey)
    w.downloads = os.path.join(w.dir, "downloads")
    os.makedirs(w.downloads)
    w.browser = harness.chromium(w.downloads)
    yield w
    w.browser.quit()
    w.service.stop()
    for subkey in list(FIXTURE) + [ADDED[0]]:
        w.wine.remove_program(subkey)


def go(w, path):
    w.browser.get(w.service.base + path)


# What chromedriver says, instead of "stale element", when it is asked about a
# node while the browser is replacing that node's document.
REPLACED_DOCUMENT = ("does not belong to the document", "No node with given id",
                     "Cannot find context with specified id")


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


def follow(w, element, submit=False):
    """Click a link or a form's button (or submit the form) and wait for the
    next page: the click may return before the answer arrives, and a slow
    password check on a busy machine left the test reading the old page."""
    page = w.browser.find_element(By.TAG_NAME, "html")
    if submit:
        element.submit()
    else:
        element.click()
    WebDriverWait(w.browser, 60).until(lambda _: replaced(page))


def path_of(w):
    parts = urllib.parse.urlsplit(w.browser.current_url)
    return parts.path, urllib.parse.parse_qs(parts.query)


def texts(w, selector):
    return [e.text for e in w.browser.find_elements(By.CSS_SELECTOR, selector)]


def no_dialog(w):
    try:
        alert = w.browser.switch_to.alert
    except NoAlertPresentException:
        return True
    alert.dismiss()
    return False


def sign_in(w, name, password):
    go(w, "/sign-in")
    w.browser.find_element(By.ID, "name").send_keys(name)
    w.browser.find_element(By.ID, "password").send_keys(password)
    follow(w, w.browser.find_element(By.CSS_SELECTOR, "form button[type=submit]"))


def open_the_wine_pc(w):
    go(w, "/machines?q=" + urllib.parse.quote(w.computer_name))
    follow(w, w.browser.find_element(By.LINK_TEXT, w.computer_name))
    assert w.browser.find_element(By.TAG_NAME, "h1").text == w.computer_name


def test_signed_out_every_page_leads_to_sign_in(world):
    for page in SIGNED_OUT_PAGES:
        go(world, page)
        path, query = path_of(world)
        assert path == "/sign-in", page
        assert query["next"] == [page], page
        assert world.browser.find_element(By.ID, "password")


def test_wrong_password_is_refused(world):
    for name, password in ((ADMIN, "wrong"), ("nobody", PASSWORD)):
        sign_in(world, name, password)
        assert path_of(world)[0] == "/sign-in"
        assert "do not match an administrator" in world.browser.find_element(By.CSS_SELECTOR, ".error").text
    go(world, "/machines")
    assert path_of(world)[0] == "/sign-in"


def test_sign_in_works_and_an_empty_fleet_says_how_to_report(world):
    go(world, "/programs?q=x")
    world.browser.find_element(By.ID, "name").send_keys(ADMIN)
    world.browser.find_element(By.ID, "password").send_keys(PASSWORD)
    follow(world, world.browser.find_element(By.CSS_SELECTOR, "form button[type=submit]"))
    assert path_of(world) == ("/programs", {"q": ["x"]})  # back where it was going
    go(world, "/")
    main = world.browser.find_element(By.TAG_NAME, "main").text
    assert "No PC has reported yet" in main
    for setting in ("TALLOWIN_INVENTORY_SERVER", r"HKLM\SOFTWARE\Policies\Tallowin\InventoryServer",
                    "InventoryServer", "INVENTORYSERVER", "127.0.0.1:%d" % world.service.port):
        assert setting in main
    assert world.browser.find_element(By.CSS_SELECTOR, "header .who").text == ADMIN


def upload(w):
    code, out = w.wine.run("upload", "--server", "127.0.0.1:%d" % w.service.port)
    assert code == 0, out


def test_uploaded_pc_appears_with_its_processor_lines_and_programs(world):
    for subkey, name in FIXTURE.items():
        world.wine.add_program(subkey, name)
    processor = world.wine.lines("show", "CPU")
    network = world.wine.lines("show", "NETWORK")
    netbios = [line for line in network if line.startswith("NetBIOS Name: ")]
    world.computer_name = netbios[0][len("NetBIOS Name: "):].strip()
    world.ips = [line.split(": ", 1)[1].strip() for line in network
                 if line.strip().startswith("IP Address: ") and not line.endswith("127.0.0.1")]
    world.mac = world.wine.lines("mac")[0].strip()
    upload(world)

    go(world, "/")
    assert world.browser.find_element(By.CSS_SELECTOR, ".stats .stat b").text == "1"
    go(world, "/machines")
    rows = world.browser.find_elements(By.CSS_SELECTOR, "table.list tbody tr")
    assert len(rows) == 1
    cells = [c.text for c in rows[0].find_elements(By.TAG_NAME, "td")]
    assert cells[0] == world.computer_name
    assert cells[1].upper() == world.mac.upper()
    assert int(cells[6].replace(",", "")) >= len(FIXTURE)

    open_the_wine_pc(world)
    shown = texts(world, "#processor ul.lines li")
    # The clock rate is read afresh by each run; every other line is the same.
    same = lambda lines: [l if not l.startswith(CLOCK_LABEL) else CLOCK_LABEL for l in lines]  # noqa: E731
    assert same(shown) == same(processor)
    assert len(shown) >= 8
    assert texts(world, "#network ul.lines li")[:len(netbios)] != []
    programs = texts(world, "#programs ul.programs li")
    for name in FIXTURE.values():
        assert programs.count(name) == 1, name


def test_second_upload_shows_exactly_the_added_and_removed_program(world):
    world.wine.add_program(*ADDED)
    world.wine.remove_program(REMOVED)
    upload(world)
    open_the_wine_pc(world)
    newest = world.browser.find_element(By.CSS_SELECTOR, "#history ol.history > li")
    assert texts(world, "#history ol.history > li:first-child li.add .name") == [ADDED[1]]
    assert texts(world, "#history ol.history > li:first-child li.del .name") == [FIXTURE[REMOVED]]
    assert "First record" in texts(world, "#history ol.history > li:last-child p")[0]
    assert len(world.browser.find_elements(By.CSS_SELECTOR, "#history ol.history > li")) == 2
    programs = texts(world, "#programs ul.programs li")
    assert ADDED[1] in programs and FIXTURE[REMOVED] not in programs
    # The record's programs text as received, downloaded from the history.
    newest.find_element(By.LINK_TEXT, "programs").click()
    with open(downloaded(world, "-programs.txt"), encoding="utf-8", newline="") as f:
        text = f.read()
    assert (ADDED[1] + "$#$") in text and FIXTURE[REMOVED] not in text
    shot = os.environ.get("TALLOWIN_PAGES_SCREENSHOT")
    if shot:
        take_screenshot(world, shot)


def downloaded(w, ending, seconds=30):
    """The finished download whose name ends with ending."""
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        done = [f for f in os.listdir(w.downloads) if f.endswith(ending)]
        if done:
            return os.path.join(w.downloads, done[0])
        time.sleep(0.2)
    raise AssertionError("nothing downloaded ending with " + ending)


def take_screenshot(w, path):
    """The PC's page at a desktop's width and, beside it (-phone.png), at a
    phone's."""
    open_the_wine_pc(w)
    for width, shot in ((1280, path), (390, path[:-len(".png")] + "-phone.png")):
        w.browser.set_window_size(width, 1000)
        height = w.browser.execute_script("return document.documentElement.scrollHeight")
        # The window's frame takes some of its height: room for the whole page.
        w.browser.set_window_size(width, min(max(height, 800) + 160, 2400 if width > 400 else 3200))
        w.browser.save_screenshot(shot)
    w.browser.set_window_size(1280, 1000)


def test_program_search_finds_a_fixture_program_with_its_count_and_pc(world):
    go(world, "/programs")
    box = world.browser.find_element(By.ID, "q")
    box.send_keys("alpha editor")
    follow(world, box, submit=True)
    rows = world.browser.find_elements(By.CSS_SELECTOR, "table.list tbody tr")
    assert [[c.text for c in r.find_elements(By.TAG_NAME, "td")] for r in rows] == [[FIXTURE["TallowinPages-Alpha"], "1"]]
    follow(world, rows[0].find_element(By.TAG_NAME, "a"))
    assert world.browser.find_element(By.TAG_NAME, "h1").text == FIXTURE["TallowinPages-Alpha"]
    follow(world, world.browser.find_element(By.LINK_TEXT, world.computer_name))
    assert world.browser.find_element(By.TAG_NAME, "h1").text == world.computer_name


def test_markup_program_names_are_text_and_run_nothing(world):
    open_the_wine_pc(world)
    pages = [world.browser.current_url, world.service.base + "/programs?q=alert",
             world.service.base + "/program?name=" + urllib.parse.quote(MARKUP[0]),
             world.service.base + "/program?name=" + urllib.parse.quote(MARKUP[1])]
    for url in pages:
        world.browser.get(url)
        assert no_dialog(world), url
        assert world.browser.find_elements(By.TAG_NAME, "script") == [], url
        assert world.browser.find_elements(By.TAG_NAME, "img") == [], url
    world.browser.get(pages[0])
    links = texts(world, "#programs ul.programs li a")
    for name in MARKUP:
        assert links.count(name) == 1
    world.browser.get(pages[1])
    assert sorted(texts(world, "table.list tbody td a")) == sorted(MARKUP)
    world.browser.get(pages[3])
    assert world.browser.find_element(By.TAG_NAME, "h1").text == MARKUP[1]
    assert no_dialog(world)


def test_pc_list_csv_has_one_row_per_pc(world):
    # Two more PCs, sent as the control would.
    for i in (1, 2):
        harness.post_record(world.service.base, "user%d" % i, "00-0C-29-00-00-0%d" % i,
                            "Only Program$#$", "NetBIOS Name: OTHER-PC%d$#$" % i,
                            "Processor Architecture: Intel$#$")
    go(world, "/machines")
    names = texts(world, "table.list tbody tr td:first-child")
    assert len(names) == 3
    world.browser.find_element(By.LINK_TEXT, "Download CSV").click()
    path = harness.wait_for_file(os.path.join(world.downloads, "tallowin-pcs.csv"))
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.DictReader(f))
    assert sorted(r["computer_name"] for r in rows) == sorted(names)
    wine_row = [r for r in rows if r["computer_name"] == world.computer_name][0]
    assert wine_row["records"] == "2" and wine_row["adapter_address"].upper() == world.mac.upper()


def find(w, q):
    box = w.browser.find_element(By.ID, "find")
    box.clear()
    box.send_keys(q)
    follow(w, box, submit=True)


def test_the_header_search_opens_the_one_pc(world):
    go(world, "/")
    assert world.ips, "the Wine PC reported no IP address"
    colons = world.mac.replace("-", ":").lower()
    for q in (world.ips[0], colons, world.computer_name.lower()):
        find(world, q)
        assert world.browser.find_element(By.TAG_NAME, "h1").text.startswith(world.computer_name), q


def test_a_program_search_lists_the_pcs_with_any_version(world):
    for i, version in ((1, "7.1"), (2, "7.2")):
        harness.post_record(world.service.base, "user%d" % i, "00-0C-29-00-00-0%d" % i,
                            "Only Program$#$Pages Zeta %s$#$" % version, "NetBIOS Name: OTHER-PC%d$#$" % i, "")
    find(world, "pages zeta")
    follow(world, world.browser.find_element(By.PARTIAL_LINK_TEXT, "in one list"))
    rows = [texts(world, "table.list tbody tr:nth-child(%d) td" % n)[:2] for n in (1, 2)]
    assert rows == [["OTHER-PC1", "Pages Zeta 7.1"], ["OTHER-PC2", "Pages Zeta 7.2"]]


def test_the_changes_page_pairs_an_update_and_filters_by_date(world):
    harness.post_record(world.service.base, "user1", "00-0C-29-00-00-01", "Only Program$#$Pages Zeta 7.3$#$",
                        "NetBIOS Name: OTHER-PC1$#$", "")
    go(world, "/")
    follow(world, world.browser.find_element(By.LINK_TEXT, "Latest changes"))
    first = world.browser.find_element(By.CSS_SELECTOR, "ol.change-list > li")
    assert "OTHER-PC1" in first.text and "updated Pages Zeta 7.1 → 7.3" in first.text
    today = datetime.datetime.now(datetime.timezone.utc).date()
    for day, found in ((today, True), (today - datetime.timedelta(days=1), False)):
        go(world, "/changes")
        world.browser.find_element(By.ID, "to").send_keys(day.strftime("%m%d%Y"))
        follow(world, world.browser.find_element(By.CSS_SELECTOR, "form.filter button"))
        assert path_of(world)[1]["to"] == [day.isoformat()]
        assert bool(world.browser.find_elements(By.CSS_SELECTOR, "ol.change-list > li")) == found


def test_keyboard_alone_reaches_the_first_pc(world):
    go(world, "/machines")
    body = world.browser.find_element(By.TAG_NAME, "body")
    body.send_keys(Keys.TAB)
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


def test_no_page_is_wider_than_a_phone(world):
    pages = ["/", "/machines", "/machines?silent=0", "/programs", "/programs?q=tallowin",
             "/program?name=" + urllib.parse.quote(FIXTURE["TallowinPages-Alpha"]), "/programs/machines?q=pages",
             "/changes", "/search?q=pc", "/search?q=nothing-like-it", "/nothing", "/machines?silent=x"]
    open_the_wine_pc(world)
    pages.append(urllib.parse.urlsplit(world.browser.current_url).path)
    world.browser.set_window_size(390, 844)
    try:
        for page in pages:
            go(world, page)
            widths = world.browser.execute_script(
                "return [document.documentElement.scrollWidth, window.innerWidth]")
            assert widths[0] <= widths[1] == 390, (page, widths)
    finally:
        world.browser.set_window_size(1280, 1000)


def test_sign_out_ends_the_session(world):
    go(world, "/machines")
    follow(world, world.browser.find_element(By.CSS_SELECTOR, "form.signout button"))
    assert path_of(world)[0] == "/sign-in"
    go(world, "/machines")
    assert path_of(world)[0] == "/sign-in"
