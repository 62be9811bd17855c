"""Saves the recorder's web page as PNGs at desktop and phone widths, in
light and dark.

    page_screenshots.py URL OUTPUT_FOLDER
"""

import os
import sys
import time

from selenium.webdriver.common.by import By

# The page tests' browser.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "app", "page"))
from browser import Browser  # noqa: E402

SIZES = {"desktop": (1280, 800, False), "phone": (390, 844, True)}


def emulate(driver, width, height, dark, mobile):
    """The page as a screen of that size and colour preference shows it."""
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
        "width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})
    driver.execute_cdp_cmd("Emulation.setEmulatedMedia", {
        "features": [{"name": "prefers-color-scheme", "value": "dark" if dark else "light"}]})


def main():
    url, folder = sys.argv[1:3]
    os.makedirs(folder, exist_ok=True)
    browser = Browser()
    try:
        for name, (width, height, mobile) in SIZES.items():
            for scheme in ("light", "dark"):
                emulate(browser.driver, width, height, scheme == "dark", mobile)
                browser.driver.get(url)
                deadline = time.monotonic() + 10
                while not browser.driver.find_elements(By.CSS_SELECTOR, "tbody tr") and time.monotonic() < deadline:
                    time.sleep(0.1)
                time.sleep(0.5)
                path = os.path.join(folder, f"page-{name}-{scheme}.png")
                browser.driver.save_screenshot(path)
                print("Saved " + path)
    finally:
        browser.close()


if __name__ == "__main__":
    main()
