"""Debian's Chromium, headless, driven through chromium-driver."""

import shutil
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"]


class Browser:
    """A browser with a fresh profile of its own, removed again on close."""

    def __init__(self, width=1280, height=800):
        self.profile = tempfile.mkdtemp(prefix="tivolux-browser-")
        options = Options()
        options.binary_location = "/usr/bin/chromium"
        for flag in FLAGS:
            options.add_argument(flag)
        options.add_argument("--user-data-dir=" + self.profile)
        options.add_argument(f"--window-size={width},{height}")
        try:
            self.driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        except Exception as error:  # the caller fails; nothing is skipped
            shutil.rmtree(self.profile, ignore_errors=True)
            sys.exit(f"FAIL: the browser could not start: {error}")

    def close(self):
        try:
            self.driver.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
