#!/usr/bin/env python3
"""Loads a page in headless Chromium and reads it through the DevTools
protocol over a pipe (no network port, no extra package).

  page_probe.py URL SCREENSHOT WIDTH HEIGHT UNTIL [SECONDS]

Prints one JSON object: "first", the page's state when its chart first drew,
and "last", its state once the JavaScript expression UNTIL holds (or after
SECONDS, 20 by default); a PNG screenshot of the last state goes to
SCREENSHOT.
"""
import base64
import json
import os
import subprocess
import sys
import tempfile
import time

STATE = """(() => {
  const $ = (id) => document.getElementById(id);
  return {
    points: Number($('chart').dataset.points),
    value: $('value').textContent,
    counter: $('counter').textContent,
    alarm: $('alarm').textContent,
    stats: $('stats').textContent,
    firstRenderMs: document.body.dataset.firstRenderMs || null,
  };
})()"""


class Browser:
    def __init__(self, profile):
        to_chrome, self.w = os.pipe()
        self.r, from_chrome = os.pipe()

        def wire():  # Chromium reads fd 3 and writes fd 4
            a, b = os.dup(to_chrome), os.dup(from_chrome)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.proc = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile,
             "--remote-debugging-pipe", "about:blank"],
            preexec_fn=wire, close_fds=False,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome)
        os.close(from_chrome)
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def call(self, method, params=None, timeout=15):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.w, json.dumps(message).encode() + b"\0")
        deadline = time.time() + timeout
        while time.time() < deadline:
            while b"\0" not in self.buffer:
                chunk = os.read(self.r, 1 << 16)
                if not chunk:
                    raise RuntimeError("chromium closed the pipe")
                self.buffer += chunk
            raw, self.buffer = self.buffer.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]
        raise RuntimeError(method + ": no answer")

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        return result["result"].get("value")

    def close(self):
        try:
            self.session = None
            self.call("Browser.close", timeout=5)
        except Exception:
            pass
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def main():
    url, screenshot, width, height, until = sys.argv[1:6]
    seconds = float(sys.argv[6]) if len(sys.argv) > 6 else 20
    with tempfile.TemporaryDirectory() as profile:
        browser = Browser(profile)
        try:
            target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
            browser.session = browser.call(
                "Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
            browser.call("Emulation.setDeviceMetricsOverride",
                         {"width": int(width), "height": int(height), "deviceScaleFactor": 1,
                          "mobile": int(width) < 500})
            browser.call("Page.navigate", {"url": url})
            first = last = None
            deadline = time.time() + seconds
            while time.time() < deadline:
                state = browser.evaluate("document.getElementById('chart') ? " + STATE + " : null")
                if state and state["firstRenderMs"] and first is None:
                    first = state
                if first is not None and browser.evaluate(until):
                    last = browser.evaluate(STATE)
                    break
                time.sleep(0.1)
            if last is None:
                last = browser.evaluate(STATE)
            png = browser.call("Page.captureScreenshot", {"format": "png"})["data"]
            with open(screenshot, "wb") as f:
                f.write(base64.b64decode(png))
            print(json.dumps({"first": first, "last": last}))
        finally:
            browser.close()


if __name__ == "__main__":
    main()
