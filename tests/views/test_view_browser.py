"""The view page in headless Chromium: sliders and boxes drive the outputs,
which equal `fazolt eval` on the same inputs to the digits shown; the rule
bars follow the firing strengths; the surface pair can be switched; and the
browser console stays free of errors. Saves a screenshot as an artefact."""
import json
import pathlib
import shutil
import tempfile

import pytest
from selenium import webdriver
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

from conftest import BUILD, ROOT, run

BIG = ROOT / "bench" / "systems" / "big_mamdani.json"
SYSTEM = ROOT / "examples/dimmer/dimmer.json"


@pytest.fixture
def browser():
    profile = tempfile.mkdtemp(prefix="fazolt-chromium-")
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1280,2000", "--user-data-dir=" + profile):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    service = webdriver.ChromeService("/usr/bin/chromedriver") if hasattr(webdriver, "ChromeService") \
        else webdriver.chrome.service.Service("/usr/bin/chromedriver")
    driver = webdriver.Chrome(service=service, options=options)
    driver.set_page_load_timeout(30)
    yield driver
    driver.quit()
    shutil.rmtree(profile, ignore_errors=True)


def wait_for_row(driver, texts):
    """Until the page shows the evaluation of exactly these input texts."""
    row = ",".join(texts)
    WebDriverWait(driver, 20).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-row") == row)


def shown_inputs(driver, count):
    return [driver.find_element(By.ID, f"input-{i}-box").get_attribute("value") for i in range(count)]


def check_against_eval(driver, system, tmp_path, num_inputs, num_outputs):
    texts = shown_inputs(driver, num_inputs)
    wait_for_row(driver, texts)
    csv = tmp_path / "row.csv"
    csv.write_text(",".join(texts) + "\n")
    expected = run("eval", system, csv, "--on-out-of-range", "none").stdout.splitlines()[1].split(",")
    shown = [driver.find_element(By.ID, f"output-{o}").text for o in range(num_outputs)]
    # The page prints the shortest text too: the digits shown are the value's own.
    assert [float(s) for s in shown] == [float(e) for e in expected]
    explanation = json.loads(run("explain", system, "--row", ",".join(texts), "--format", "json",
                                 "--on-out-of-range", "none").stdout)
    for r, rule in enumerate(explanation["rules"]):
        row = driver.find_element(By.ID, f"rule-{r}")
        strength = float(rule["firingStrength"])
        # Six significant digits shown, the full value on hover.
        shown_strength = row.find_element(By.CLASS_NAME, "strength")
        assert float(shown_strength.text) == float(f"{strength:.6g}")
        assert float(shown_strength.get_attribute("title")) == strength
        fill = row.find_element(By.CLASS_NAME, "fill").size["width"]
        bar = row.find_element(By.CLASS_NAME, "bar").size["width"]
        assert abs(fill - strength * bar) <= 1.0, (r, fill, bar, strength)


@pytest.mark.parametrize("view_server", [SYSTEM], indirect=True)
def test_page_follows_the_module(view_server, browser, tmp_path):
    browser.get(view_server.url + "/")
    WebDriverWait(browser, 20).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-row"))
    check_against_eval(browser, SYSTEM, tmp_path, 2, 1)

    # Move the first slider with the keyboard, then type into the second box.
    slider = browser.find_element(By.ID, "input-0-slider")
    slider.click()
    for _ in range(80):
        slider.send_keys(Keys.ARROW_LEFT)
    check_against_eval(browser, SYSTEM, tmp_path, 2, 1)
    box = browser.find_element(By.ID, "input-1-box")
    box.clear()
    box.send_keys("0.85")
    check_against_eval(browser, SYSTEM, tmp_path, 2, 1)
    assert browser.find_element(By.ID, "input-1-slider").get_attribute("value") == "0.85"
    box = browser.find_element(By.ID, "input-0-box")
    box.clear()
    box.send_keys("27.3")
    check_against_eval(browser, SYSTEM, tmp_path, 2, 1)

    # The surface: its first pair drawn, then the axes swapped.
    canvas = browser.find_element(By.ID, "surface-canvas")
    WebDriverWait(browser, 20).until(lambda d: canvas.get_attribute("data-pair") == "daylight|motion|lamp")
    Select(browser.find_element(By.ID, "surface-x")).select_by_visible_text("motion")
    Select(browser.find_element(By.ID, "surface-y")).select_by_visible_text("daylight")
    WebDriverWait(browser, 20).until(lambda d: canvas.get_attribute("data-pair") == "motion|daylight|lamp")
    assert canvas.get_attribute("data-state") == "ready"

    # Charts print about six digits; the full value is on hover.
    crisp = browser.find_element(By.ID, "output-0").text
    assert crisp in browser.find_element(By.ID, "set-0").get_attribute("title")

    artifacts = BUILD / "artifacts"
    artifacts.mkdir(exist_ok=True)
    browser.save_screenshot(str(artifacts / "view.png"))
    # A phone-sized window: no sideways scrolling, the charts follow the width.
    browser.set_window_size(420, 2000)
    WebDriverWait(browser, 20).until(lambda d: d.execute_script(
        "return document.documentElement.scrollWidth <= window.innerWidth"
        " && document.getElementById('surface-canvas').dataset.state === 'ready'"))
    browser.save_screenshot(str(artifacts / "view-narrow.png"))
    errors = [e for e in browser.get_log("browser") if e["level"] in ("SEVERE", "ERROR")]
    assert errors == []


@pytest.mark.parametrize("view_server", [SYSTEM], indirect=True)
def test_page_shows_failed_evaluations(view_server, browser):
    browser.get(view_server.url + "/")
    WebDriverWait(browser, 20).until(lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-row"))
    error = browser.find_element(By.ID, "error")
    # Out of range with that diagnostic in error mode: the module's error.
    Select(browser.find_element(By.ID, "diag-onOutOfRange")).select_by_visible_text("error")
    box = browser.find_element(By.ID, "input-0-box")
    box.clear()
    box.send_keys("300")
    WebDriverWait(browser, 20).until(lambda d: error.is_displayed())
    assert "diagFazolt_OutOfRangeInput" in error.text and "300" in error.text
    # Not a number: the server refuses the request and the page names the parameter.
    box.clear()
    box.send_keys("40")
    WebDriverWait(browser, 20).until(lambda d: not error.is_displayed())
    box.clear()
    box.send_keys("4e")
    WebDriverWait(browser, 20).until(lambda d: "parameter row" in error.text)
    # Nothing of the last good row stays on show.
    assert browser.find_element(By.ID, "output-0").text == "\u2013"
    assert {r.get_attribute("data-strength") for r in browser.find_elements(By.CSS_SELECTOR, "#rules .rule")} == {""}
    box.clear()
    box.send_keys("40")
    WebDriverWait(browser, 20).until(lambda d: not error.is_displayed())
