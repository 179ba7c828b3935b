"""The playground page (build/web, from tools/build_js.sh) in a real headless Chromium.

Run by tools/test_js.sh with selenium from a virtual environment, Debian's chromium and
chromium-driver. The page is served by a static server on 127.0.0.1 that records every request
it answers; the browser's own network log is read through the DevTools protocol. Steps: load,
encode, decode, a typo recovered, a settings change; after load, no request at all, neither
from the page's own work nor when it tries to open a connection. A screenshot of each state
goes to build/js/screenshots/.

Then the packed package without a bundler: its files as npm installs them, imported by a page
as an ES module, which fetches tavik.wasm next to tavik.js.

Usage: python playground_test.py BUILD_WEB_DIR SCREENSHOT_DIR PACKED_PACKAGE
"""

import functools
import http.server
import json
import os
import sys
import tarfile
import tempfile
import threading

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

# The README's examples: the same words from the page as from the Python module.
README_KEY = "a long random key of your own"
README_UUID = "123e4567-e89b-12d3-a456-426614174000"
README_WORD = "TURGLURFOR-TWANSON-SRULWORBOL-GELTEDRULZER-STONBLA-DOLDOR"
README_HEARD = "turglurfor twanson srulworbor geltedrulzer stonbla doldor"
README_SHORT_ID = "0a1b2c3d"
README_SHORT_WORD = "KELFENSLOLTA-FLA"


class RecordingHandler(http.server.SimpleHTTPRequestHandler):
    requests = []

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        RecordingHandler.requests.append(self.path)


def serve(directory):
    handler = functools.partial(RecordingHandler, directory=directory)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1280,1200", "--no-first-run", "--disable-extensions",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--disable-default-apps"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def network_requests(driver):
    """The URLs of the requests that the page started since the last call."""
    urls = []
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            urls.append(message["params"]["request"]["url"])
    return urls


def set_value(driver, element_id, value):
    """Types a value into a field as a user does (a range input is set and told so)."""
    element = driver.find_element(By.ID, element_id)
    if element.get_attribute("type") == "range":
        driver.execute_script(
            "arguments[0].value = arguments[1];"
            "arguments[0].dispatchEvent(new Event('input', {bubbles: true}));", element, value)
        return
    element.clear()
    element.send_keys(value)


def text_of(driver, element_id):
    return driver.find_element(By.ID, element_id).text


def wait_for(driver, what, condition):
    try:
        WebDriverWait(driver, 10).until(lambda d: condition(d))
    except Exception:
        raise AssertionError(f"timed out waiting for {what}") from None


PLAIN_PAGE = """<!doctype html><meta charset="utf-8"><script type="module">
import { createCodec } from "./package/tavik.js";
const codec = await createCodec("tavik/1 level=universal mode=plain bits=32 cipher=feistel8:public "
                                + "check=1 case=upper chunk=balanced sep=U+002D");
document.title = codec.encode(new Uint8Array([0x0a, 0x1b, 0x2c, 0x3d]));
</script>"""


def check_unbundled(driver, tarball):
    """The package's own loader in a browser: tavik.js fetches tavik.wasm beside it."""
    with tempfile.TemporaryDirectory() as folder:
        with tarfile.open(tarball) as packed:
            packed.extractall(folder, filter="data")
        with open(os.path.join(folder, "plain.html"), "w", encoding="utf-8") as page:
            page.write(PLAIN_PAGE)
        RecordingHandler.requests.clear()
        server = serve(folder)
        try:
            driver.get(f"http://127.0.0.1:{server.server_address[1]}/plain.html")
            wait_for(driver, "the unbundled package's word",
                     lambda d: d.title == README_SHORT_WORD)
        finally:
            server.shutdown()
        assert "/package/tavik.wasm" in RecordingHandler.requests, RecordingHandler.requests


def main():
    web_dir, shots, tarball = sys.argv[1], sys.argv[2], sys.argv[3]
    os.makedirs(shots, exist_ok=True)
    server = serve(web_dir)
    url = f"http://127.0.0.1:{server.server_address[1]}/index.html"
    driver = browser()
    try:
        def shot(name):
            driver.save_screenshot(os.path.join(shots, f"{name}.png"))

        # Load: the page builds its default codec, with nothing but its own three files.
        driver.get(url)
        wait_for(driver, "the page to start",
                 lambda d: d.find_element(By.TAG_NAME, "body").get_attribute("data-ready") == "yes")
        loaded = network_requests(driver)
        assert sorted(u.rsplit("/", 1)[1] for u in loaded) == ["app.js", "index.html", "style.css"], loaded
        assert text_of(driver, "settings-text").startswith(
            "tavik/1 level=universal mode=sealed bits=128 cipher=feistel8:key check=1"), \
            text_of(driver, "settings-text")
        assert "never leave" in text_of(driver, "privacy")
        assert text_of(driver, "word-output") != ""
        shot("1-loaded")
        served_at_load = list(RecordingHandler.requests)

        # Encode: the README's key and identifier give the README's word.
        set_value(driver, "key", README_KEY)
        set_value(driver, "check", "2")
        set_value(driver, "id-input", README_UUID)
        wait_for(driver, "the README's word",
                 lambda d: text_of(d, "word-output") == README_WORD)
        assert " check=2 " in text_of(driver, "settings-text")
        shot("2-encoded")

        # Decode: the word checked and read back.
        set_value(driver, "word-input", README_WORD.lower())
        wait_for(driver, "the decoded word", lambda d: d.find_element(
            By.ID, "decode-result").get_attribute("data-state") == "ok")
        assert text_of(driver, "decoded-id") == README_UUID
        shot("3-decoded")

        # A typo: BOL heard as BOR fails the check, and recover corrects it.
        set_value(driver, "word-input", README_HEARD)
        wait_for(driver, "the recovered word", lambda d: d.find_element(
            By.ID, "decode-result").get_attribute("data-state") == "recovered")
        assert text_of(driver, "decoded-id") == README_UUID
        assert README_WORD in text_of(driver, "corrected-word"), text_of(driver, "corrected-word")
        marks = driver.find_elements(By.CSS_SELECTOR, "#corrected-word mark")
        assert [m.text for m in marks] == ["L"], [m.text for m in marks]
        shot("4-recovered")

        # A settings change: mode plain at 32 bits, the README's short word; no key field.
        Select(driver.find_element(By.ID, "mode")).select_by_value("plain")
        set_value(driver, "bits", "32")
        set_value(driver, "check", "1")
        wait_for(driver, "the plain settings", lambda d: " mode=plain bits=32 cipher=feistel8:public "
                 in text_of(d, "settings-text"))
        assert not driver.find_element(By.ID, "key").is_displayed()
        set_value(driver, "id-input", README_SHORT_ID)
        wait_for(driver, "the README's short word",
                 lambda d: text_of(d, "word-output") == README_SHORT_WORD)
        set_value(driver, "word-input", README_SHORT_WORD)
        wait_for(driver, "the short word decoded", lambda d: text_of(d, "decoded-id") == "0x0a1b2c3d")
        # A setting the core refuses shows its message, in the core's words.
        Select(driver.find_element(By.ID, "chunk")).select_by_value("fixed")
        set_value(driver, "chunk-arg", "four")
        wait_for(driver, "the refused setting", lambda d: "settings field 'chunk' must be"
                 in text_of(d, "settings-status"))
        Select(driver.find_element(By.ID, "chunk")).select_by_value("balanced")
        wait_for(driver, "the settings accepted again", lambda d: text_of(d, "settings-status") == "")
        shot("5-settings-changed")

        # No network request after load: none in the browser's log, none at the server, and a
        # connection the page tries itself is refused by its security policy.
        blocked = driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "fetch(arguments[0] + '?leak=1').then(() => done('sent'), (e) => done('blocked'));",
            url.replace("index.html", "probe"))
        assert blocked == "blocked", blocked
        after = network_requests(driver)
        assert after == [], after
        assert RecordingHandler.requests == served_at_load, RecordingHandler.requests
        errors = [e for e in driver.get_log("browser")
                  if e["level"] == "SEVERE" and "Content Security Policy" not in e["message"]
                  and "probe" not in e["message"]]
        assert errors == [], errors
        print(f"playground: load, encode, decode, recovery, settings: ok; requests after load: 0; "
              f"screenshots in {shots}")
        check_unbundled(driver, tarball)
        print("the package unbundled in the browser: ok")
    finally:
        driver.quit()
        server.shutdown()


if __name__ == "__main__":
    main()
