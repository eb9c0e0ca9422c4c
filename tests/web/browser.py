"""Headless Chromium for the web page's tests and benchmarks."""
import os
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def chromium(downloads=None, width=1280, height=900, extra=(), zone=None, network=False):
    """A fresh headless Chromium with a profile of its own (removed with the
    driver's quit); with `zone`, the browser's clock is in that time zone;
    with `network`, the headers it sends can be read back (sent())."""
    profile = tempfile.mkdtemp(prefix="climalog-chromium-")
    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", "--enable-precise-memory-info",
                f"--window-size={width},{height}", f"--user-data-dir={profile}", *extra):
        opts.add_argument(arg)
    if network:
        opts.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    if downloads:
        opts.add_experimental_option("prefs", {"download.default_directory": downloads})
    env = dict(os.environ, **({"TZ": zone} if zone else {}))
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver", env=env), options=opts)
    driver.profile_dir = profile
    return driver


def close(driver):
    import shutil
    driver.quit()
    shutil.rmtree(driver.profile_dir, ignore_errors=True)


def sent(driver, method):
    """(URL, headers) of each request the browser sent as `method` since the
    last call, the headers as the network saw them (a redirect's next
    request, under the same id, left out)."""
    import json
    events = [json.loads(e["message"])["message"] for e in driver.get_log("performance")]
    urls = {}
    for e in events:
        if e["method"] == "Network.requestWillBeSent" and e["params"]["request"]["method"] == method:
            urls.setdefault(e["params"]["requestId"], e["params"]["request"]["url"])
    out, seen = [], set()
    for e in events:
        rid = e["params"].get("requestId")
        if e["method"] == "Network.requestWillBeSentExtraInfo" and rid in urls and rid not in seen:
            seen.add(rid)
            out.append((urls[rid], {k.lower(): v for k, v in e["params"]["headers"].items()}))
    return out
