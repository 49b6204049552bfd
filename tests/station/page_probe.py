#!/usr/bin/env python3
"""page_probe.py URL SCREENSHOT WIDTH HEIGHT UNTIL [SECONDS]

Loads the station's page in headless Chromium, driven through the DevTools
protocol over a pipe (no port, no extra package). Prints {"first": the
page's state when its chart first drew, "last": its state once the
JavaScript expression UNTIL holds or SECONDS (20) have passed} and saves a
screenshot of the last state.

page_probe.py --commands WIDTH HEIGHT

Reads JSON commands a line each, {"go": URL}, {"eval": JS}, {"wait": JS,
"seconds": S}, {"click": SELECTOR}, {"hover": [X, Y]}, {"drag": [X0, Y, X1]},
{"size": [W, H]}, {"shot": PATH}, {"downloads": FOLDER}, and answers each with
a JSON line: {"value": ..., "ok": ...}, or {"error": text}.
"""
import base64, json, os, subprocess, sys, tempfile, time

STATE = """(() => { const $ = (id) => document.getElementById(id); return {
  points: Number($('chart').dataset.points), value: $('value').textContent,
  counter: $('counter').textContent, stats: $('stats').textContent,
  firstRenderMs: document.body.dataset.firstRenderMs || null }; })()"""


def serve(call, evaluate):
    def wait(expression, seconds=20):
        deadline, value = time.time() + seconds, None
        while time.time() < deadline and not value:
            value = evaluate(expression)
            time.sleep(0.05)
        return {"value": value, "ok": bool(value)}

    def mouse(kind, x, y, **more):
        call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left", clickCount=1, **more)

    for line in sys.stdin:
        c, answer = json.loads(line), None
        try:
            if "go" in c:
                call("Page.navigate", url=c["go"])
                answer = wait("document.readyState === 'complete'")
            elif "eval" in c:
                answer = {"value": evaluate(c["eval"])}
            elif "wait" in c:
                answer = wait(c["wait"], c.get("seconds", 20))
            elif "click" in c or "drag" in c:
                if "click" in c:
                    x0, y = evaluate("(r => [r.x + r.width / 2, r.y + r.height / 2])(document."
                                     "querySelector(%s).getBoundingClientRect())" % json.dumps(c["click"]))
                    x1 = x0
                else:
                    x0, y, x1 = c["drag"]
                call("Input.dispatchMouseEvent", type="mouseMoved", x=x0, y=y)
                mouse("mousePressed", x0, y)
                for i in range(1, 11):
                    mouse("mouseMoved", x0 + (x1 - x0) * i / 10, y, buttons=1)
                mouse("mouseReleased", x1, y)
            elif "hover" in c:
                call("Input.dispatchMouseEvent", type="mouseMoved", x=c["hover"][0], y=c["hover"][1])
            elif "size" in c:
                call("Emulation.setDeviceMetricsOverride", width=c["size"][0],
                 height=c["size"][1], deviceScaleFactor=1, mobile=c["size"][0] < 500)
            elif "shot" in c:
                with open(c["shot"], "wb") as f:
                    f.write(base64.b64decode(call("Page.captureScreenshot", format="png")["data"]))
            else:
                call("Page.setDownloadBehavior", behavior="allow", downloadPath=c["downloads"])
            answer = answer or {"ok": True}
        except Exception as e:  # the test fails with it
            answer = {"error": str(e)}
        print(json.dumps(answer), flush=True)


def main():
    commands = sys.argv[1] == "--commands"
    if commands:
        width, height = sys.argv[2:4]
    else:
        url, screenshot, width, height, until = sys.argv[1:6]
        seconds = float(sys.argv[6]) if len(sys.argv) > 6 else 20
    to_chrome, w = os.pipe()
    r, from_chrome = os.pipe()

    def wire():  # Chromium reads fd 3 and writes fd 4
        a, b = os.dup(to_chrome), os.dup(from_chrome)
        os.dup2(a, 3)
        os.dup2(b, 4)

    profile = tempfile.TemporaryDirectory()
    chrome = subprocess.Popen(
        ["chromium", "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--hide-scrollbars", "--user-data-dir=" + profile.name,
         "--remote-debugging-pipe", "about:blank"],
        preexec_fn=wire, close_fds=False, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(to_chrome)
    os.close(from_chrome)
    pending = b""
    calls = {"id": 0, "session": None}

    def call(method, **params):
        calls["id"] += 1
        message = {"id": calls["id"], "method": method, "params": params}
        if calls["session"]:
            message["sessionId"] = calls["session"]
        os.write(w, json.dumps(message).encode() + b"\0")
        nonlocal pending
        while True:
            while b"\0" not in pending:
                chunk = os.read(r, 1 << 16)
                if not chunk:
                    raise RuntimeError("chromium closed the pipe")
                pending += chunk
            raw, pending = pending.split(b"\0", 1)
            reply = json.loads(raw)
            if reply.get("id") == calls["id"]:
                if "error" in reply:
                    raise RuntimeError(method + ": " + json.dumps(reply["error"]))
                return reply["result"]

    def evaluate(expression):
        return call("Runtime.evaluate", expression=expression, returnByValue=True)["result"].get("value")

    try:
        target = call("Target.createTarget", url="about:blank")["targetId"]
        calls["session"] = call("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        call("Emulation.setDeviceMetricsOverride", width=int(width), height=int(height),
             deviceScaleFactor=1, mobile=int(width) < 500)
        if commands:
            return serve(call, evaluate)
        call("Page.navigate", url=url)
        first, deadline = None, time.time() + seconds
        while time.time() < deadline and not (first and evaluate(until)):
            state = evaluate("document.getElementById('chart') && " + STATE)
            if first is None and state and state["firstRenderMs"]:
                first = state
            time.sleep(0.1)
        last = evaluate(STATE)
        png = call("Page.captureScreenshot", format="png")["data"]
        with open(screenshot, "wb") as f:
            f.write(base64.b64decode(png))
        print(json.dumps({"first": first, "last": last}))
    finally:
        chrome.kill()
        chrome.wait()
        profile.cleanup()


if __name__ == "__main__":
    main()
