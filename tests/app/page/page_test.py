"""The recorder's web page in a real browser against the running headless
program: page_test.py URL RUNNING_ID FINISHED_ID FINISHED_FILE. Requests of
other sites' pages are OriginRuleServerTest's."""

import json
import sys
import urllib.request

from selenium.common.exceptions import WebDriverException
from selenium.webdriver.common.by import By
from selenium.webdriver.support.wait import WebDriverWait

from browser import Browser


def check(condition, message):
    if not condition:
        sys.exit("FAIL: " + message)


def api_list(url):
    with urllib.request.urlopen(url + "api/recordings", timeout=5) as answer:
        return {r["id"]: r for r in json.load(answer)}


def main():
    url, running, finished, finished_file = sys.argv[1:5]
    browser = Browser()
    driver = browser.driver
    row = lambda recording_id: driver.find_element(By.CSS_SELECTOR, f'tr[data-id="{recording_id}"]')
    cell = lambda recording_id, name: row(recording_id).find_element(By.CSS_SELECTOR, "td." + name).text

    def wait_for(what, predicate):
        # An element being replaced by a refresh is looked up again.
        waiting = WebDriverWait(driver, 20, poll_frequency=0.1, ignored_exceptions=[WebDriverException])
        return waiting.until(lambda _: predicate(), "timed out waiting for " + what)

    try:
        driver.get(url)
        status = wait_for("the running recording", lambda: cell(running, "status"))
        check(status.startswith("● Recording until "), "running recording shows " + repr(status))
        shown = cell(finished, "status")
        check(shown == "Finished · 2 gaps, 14 s missing", "finished recording shows " + repr(shown))
        check("Stop" in row(running).text and "Cancel" not in row(running).text, "the running recording offers no Stop")

        link = row(finished).find_element(By.CSS_SELECTOR, "a.download").get_attribute("href")
        with urllib.request.urlopen(link, timeout=10) as answer, open(finished_file, "rb") as file:
            check(answer.read() == file.read(), "the download link does not return the file's bytes")

        # Delete asks first, and the question outlives the page's refreshes,
        # which show the running recording growing meanwhile.
        title = cell(finished, "title")
        row(finished).find_element(By.CSS_SELECTOR, "button.delete").click()
        dialog = driver.find_element(By.ID, "confirmDelete")
        wait_for("the confirmation", lambda: dialog.get_attribute("open") is not None)
        question = driver.find_element(By.ID, "confirmText").text
        check(question == "Delete “%s”?" % title, "the confirmation does not name the programme")
        first = wait_for("a size", lambda: cell(running, "size"))
        wait_for("the size to grow", lambda: cell(running, "size") not in ("", first))
        check(dialog.get_attribute("open") is not None and finished in api_list(url),
              "the confirmation closed or the recording went without an answer")
        driver.find_element(By.ID, "confirmButton").click()
        wait_for("the row to go", lambda: not driver.find_elements(By.CSS_SELECTOR, f'tr[data-id="{finished}"]'))
        check(finished not in api_list(url), "the recorder kept the deleted recording")

        wait_for("the stop button", lambda: row(running).find_element(By.CSS_SELECTOR, "button.stop")).click()
        wait_for("the recording to stop", lambda: cell(running, "status") == "Stopped early")
        check(api_list(url)[running]["status"] == "stopped", "the recorder did not stop the recording")
        print("page test passed")
    finally:
        browser.close()


if __name__ == "__main__":
    main()
