"""The recorder's web page in a real browser against the running headless
program.  page_test.py URL RUNNING_ID FINISHED_ID FINISHED_FILE"""

import http.server
import json
import sys
import threading
import time
import urllib.request

from selenium.webdriver.common.by import By

from browser import Browser


def fail(message):
    sys.exit("FAIL: " + message)


def wait_for(what, predicate, timeout=20):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            value = predicate()
            if value:
                return value
        except Exception:  # the element is being replaced; look again
            pass
        time.sleep(0.1)
    fail("timed out waiting for " + what)


def api_list(url):
    with urllib.request.urlopen(url + "api/recordings", timeout=5) as answer:
        return {r["id"]: r for r in json.load(answer)}


def other_site(target):
    """Serves a page of another web site that posts to the target when opened."""
    page = ("<!DOCTYPE html><title>other</title><form method=post enctype=text/plain action='%s'></form>"
            "<script>fetch('%s', {method: 'POST', mode: 'no-cors'})"
            ".finally(() => { document.title = 'sent'; });</script>") % (target, target)

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(page.encode())))
            self.end_headers()
            self.wfile.write(page.encode())

        def log_message(self, *args):
            pass

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    url, running, finished, finished_file = sys.argv[1:5]
    browser = Browser()
    driver = browser.driver
    row = lambda recording_id: driver.find_element(By.CSS_SELECTOR, f'tr[data-id="{recording_id}"]')
    cell = lambda recording_id, name: row(recording_id).find_element(By.CSS_SELECTOR, "td." + name).text
    try:
        driver.get(url)
        status = wait_for("the running recording", lambda: cell(running, "status"))
        if not status.startswith("● Recording until "):
            fail("running recording shows " + repr(status))
        if cell(finished, "status") != "Finished · 2 gaps, 14 s missing":
            fail("finished recording shows " + repr(cell(finished, "status")))
        if "Stop" not in row(running).text or "Cancel" in row(running).text:
            fail("the running recording offers no Stop")

        link = row(finished).find_element(By.CSS_SELECTOR, "a.download").get_attribute("href")
        with urllib.request.urlopen(link, timeout=10) as answer, open(finished_file, "rb") as file:
            if answer.read() != file.read():
                fail("the download link does not return the file's bytes")

        # Delete asks first, and the question outlives the page's refreshes,
        # which show the running recording growing meanwhile.
        title = cell(finished, "title")
        row(finished).find_element(By.CSS_SELECTOR, "button.delete").click()
        dialog = driver.find_element(By.ID, "confirmDelete")
        wait_for("the confirmation", lambda: dialog.get_attribute("open") is not None)
        if driver.find_element(By.ID, "confirmText").text != "Delete “%s”?" % title:
            fail("the confirmation does not name the programme")
        first = wait_for("a size", lambda: cell(running, "size"))
        wait_for("the size to grow", lambda: cell(running, "size") not in ("", first))
        if dialog.get_attribute("open") is None or finished not in api_list(url):
            fail("the confirmation closed or the recording went without an answer")
        driver.find_element(By.ID, "confirmButton").click()
        wait_for("the row to go", lambda: not driver.find_elements(By.CSS_SELECTOR, f'tr[data-id="{finished}"]'))
        if finished in api_list(url):
            fail("the recorder kept the deleted recording")

        # Another site's page cannot stop the recording, by script or by form.
        target = url + "api/recordings/" + running + "/stop"
        other = other_site(target)
        driver.get("http://127.0.0.1:%d/" % other.server_address[1])
        wait_for("the other site's requests", lambda: driver.title == "sent")
        driver.execute_script("document.forms[0].submit()")
        wait_for("the form's answer", lambda: driver.current_url == target)
        if api_list(url)[running]["status"] != "recording":
            fail("a page of another site stopped the recording")
        other.shutdown()

        driver.get(url)
        wait_for("the page", lambda: row(running).find_element(By.CSS_SELECTOR, "button.stop")).click()
        wait_for("the recording to stop", lambda: cell(running, "status") == "Stopped early")
        if api_list(url)[running]["status"] != "stopped":
            fail("the recorder did not stop the recording")
        print("page test passed")
    finally:
        browser.close()


if __name__ == "__main__":
    main()
