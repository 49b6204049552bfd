#!/usr/bin/env python3
"""page_probe.py WIDTH HEIGHT

Headless Chromium for a test, driven through the DevTools protocol over a
pipe (no port, no extra package), at a window of WIDTH x HEIGHT CSS pixels.
Reads one JSON command a line from standard input and answers each with one
JSON line on standard output:

  {"go": URL}                   load a page; answers when it has loaded
  {"eval": JS}                  {"value": what the expression gives}
  {"wait": JS, "seconds": S}    until the expression holds: {"value", "ok"}
  {"click": SELECTOR}           a mouse click in the middle of the element
  {"hover": [X, Y]}             the mouse moved there
  {"drag": [X0, Y, X1]}         the left button held from X0 to X1
  {"dark": true}                as if the system's colours were dark
  {"size": [W, H]}              another window size
  {"shot": PATH}                a PNG of the window
  {"downloads": FOLDER}         downloads go there
  {"bytes": true}               {"value": bytes received (as sent, compressed),
                                 "requests": how many} since the last "go"

Errors answer {"error": text}. Ends at the end of its input.
"""
import base64, json, os, subprocess, sys, tempfile, time


class Chromium:
    def __init__(self, width, height):
        to_chrome, self.w = os.pipe()
        self.r, from_chrome = os.pipe()

        def wire():  # Chromium reads fd 3 and writes fd 4
            a, b = os.dup(to_chrome), os.dup(from_chrome)
            os.dup2(a, 3)
            os.dup2(b, 4)

        self.profile = tempfile.TemporaryDirectory()
        self.process = subprocess.Popen(
            ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + self.profile.name,
             "--remote-debugging-pipe", "about:blank"],
            preexec_fn=wire, close_fds=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_chrome)
        os.close(from_chrome)
        self.pending, self.id, self.session = b"", 0, None
        self.loaded, self.bytes, self.requests = False, 0, 0
        target = self.call("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.call("Page.enable")
        self.call("Network.enable")
        self.size(width, height)

    def event(self, message):
        method = message.get("method")
        if method == "Network.loadingFinished":
            self.bytes += message["params"]["encodedDataLength"]
            self.requests += 1
        elif method == "Page.loadEventFired":
            self.loaded = True

    def call(self, method, **params):
        self.id += 1
        message = {"id": self.id, "method": method, "params": params}
        if self.session:
            message["sessionId"] = self.session
        os.write(self.w, json.dumps(message).encode() + b"\0")
        while True:
            reply = self.receive()
            if reply.get("id") == self.id:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]
            self.event(reply)

    def receive(self):
        while b"\0" not in self.pending:
            chunk = os.read(self.r, 1 << 16)
            if not chunk:
                raise RuntimeError("chromium closed the pipe")
            self.pending += chunk
        raw, self.pending = self.pending.split(b"\0", 1)
        return json.loads(raw)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True)
        if "exceptionDetails" in result:
            raise RuntimeError(json.dumps(result["exceptionDetails"])[:400])
        return result["result"].get("value")

    def size(self, width, height):
        self.call("Emulation.setDeviceMetricsOverride", width=int(width), height=int(height),
                  deviceScaleFactor=1, mobile=int(width) < 500)

    def mouse(self, kind, x, y, **more):
        self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, **more)

    def run(self, command):
        if "go" in command:
            self.loaded, self.bytes, self.requests = False, 0, 0
            self.call("Page.navigate", url=command["go"])
            deadline = time.time() + 20
            while not self.loaded and time.time() < deadline:
                self.event(self.receive())
            return {"ok": self.loaded}
        if "eval" in command:
            return {"value": self.evaluate(command["eval"])}
        if "wait" in command:
            deadline, value = time.time() + command.get("seconds", 20), None
            while time.time() < deadline:
                value = self.evaluate(command["wait"])
                if value:
                    return {"value": value, "ok": True}
                time.sleep(0.1)
            return {"value": value, "ok": False}
        if "click" in command:
            box = self.evaluate("(() => { const r = document.querySelector(%s)"
                                ".getBoundingClientRect(); return [r.x + r.width / 2, "
                                "r.y + r.height / 2]; })()" % json.dumps(command["click"]))
            for kind in ("mousePressed", "mouseReleased"):
                self.mouse(kind, box[0], box[1], button="left", clickCount=1)
            return {"ok": True}
        if "hover" in command:
            self.mouse("mouseMoved", *command["hover"])
            return {"ok": True}
        if "drag" in command:
            x0, y, x1 = command["drag"]
            self.mouse("mouseMoved", x0, y)
            self.mouse("mousePressed", x0, y, button="left", clickCount=1)
            for i in range(1, 11):
                self.mouse("mouseMoved", x0 + (x1 - x0) * i / 10, y, button="left", buttons=1)
            self.mouse("mouseReleased", x1, y, button="left", clickCount=1)
            return {"ok": True}
        if "dark" in command:
            self.call("Emulation.setEmulatedMedia", features=[
                {"name": "prefers-color-scheme", "value": "dark" if command["dark"] else "light"}])
            return {"ok": True}
        if "size" in command:
            self.size(*command["size"])
            return {"ok": True}
        if "shot" in command:
            png = self.call("Page.captureScreenshot", format="png")["data"]
            with open(command["shot"], "wb") as f:
                f.write(base64.b64decode(png))
            return {"ok": True}
        if "downloads" in command:
            session, self.session = self.session, None  # the browser's, not the page's
            try:
                self.call("Browser.setDownloadBehavior", behavior="allow",
                          downloadPath=command["downloads"])
            finally:
                self.session = session
            return {"ok": True}
        if "bytes" in command:
            self.call("Runtime.evaluate", expression="0")  # takes in the events so far
            return {"value": self.bytes, "requests": self.requests}
        return {"error": "unknown command"}

    def close(self):
        self.process.kill()
        self.process.wait()
        self.profile.cleanup()


def main():
    chromium = Chromium(*sys.argv[1:3])
    try:
        for line in sys.stdin:
            if not line.strip():
                continue
            try:
                answer = chromium.run(json.loads(line))
            except Exception as e:  # the test reads it and fails with it
                answer = {"error": str(e)}
            print(json.dumps(answer), flush=True)
    finally:
        chromium.close()


if __name__ == "__main__":
    main()
