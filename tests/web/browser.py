"""Headless Chromium for the web page's tests and benchmarks."""
import os
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def chromium(downloads=None, width=1280, height=900, extra=(), zone=None):
    """A fresh headless Chromium with a profile of its own (removed with the
    driver's quit); with `zone`, the browser's clock is in that time zone."""
    profile = tempfile.mkdtemp(prefix="climalog-chromium-")
    opts = webdriver.ChromeOptions()
    opts.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                "--disable-background-networking", "--disable-component-update", "--disable-sync",
                "--disable-dev-shm-usage", "--enable-precise-memory-info",
                f"--window-size={width},{height}", f"--user-data-dir={profile}", *extra):
        opts.add_argument(arg)
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
