#!/usr/bin/env python3
"""One local server on 127.0.0.1 that plays the five radiation maps.

    map_services_server.py [--port N] [--log FILE] [--modes FILE]
                           [--radmon-gap SECONDS] [--tls DIR]

Prints its port, then serves each service under its own first path
component (/radmon/radmon.php, /safecast/measurements.json,
/opensensemap/boxes/BOX/data, /openradiation/measurements,
/gmcmap/log2.asp). Every request is checked as the service documents it; a
request that is not gets HTTP 400 and an "error" line in the log. Uploads
the service accepts go to the log (one JSON object a line) with their times
and values. The credentials it knows are in SERVICES below; others are
refused as the service refuses them.

--modes names a JSON file, read at every request, mapping a service to how
it answers: "ok" (default), "toosoon" (radmon), "429", "500" or "hang" (no
answer at all). --radmon-gap refuses radmon uploads closer than that with
"Too soon". --tls DIR makes a certificate authority (DIR/ca.crt) and serves
HTTPS with a certificate it signed for 127.0.0.1.

A few paths test the HTTP client itself: /redirect/N (N redirects, then
/echo), /downgrade (to plain http), /echo (the request back), /hang, /big (1 MiB).
"""
import argparse
import datetime
import json
import os
import re
import ssl
import subprocess
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

SERVICES = {
    "radmon": {"user": "station1", "password": "s&cret=1 2"},
    "safecast": {"api_key": "safecast-key"},
    "opensensemap": {"box": "5f1e0c0ffee0000000000001", "sensor": "5f1e0c0ffee0000000000002",
                     "token": "osem-token"},
    "openradiation": {"apiKey": "openradiation-key"},
    "gmcmap": {"AID": "1234", "GID": "5678"},
}

ISO_Z = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{1,3})?Z$")
UUID4 = re.compile(r"^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$")

args = None
log_lock = threading.Lock()
state_lock = threading.Lock()
last_radmon = [0.0]
reports = set()


class Invalid(Exception):
    pass


def check(condition, why):
    if not condition:
        raise Invalid(why)


def number(value, low=None, high=None, text=False):
    check(isinstance(value, str) if text else isinstance(value, (int, float)) and
          not isinstance(value, bool), "%r is not a %s" % (value, "text" if text else "number"))
    v = float(value)
    check(low is None or low <= v <= high, "%r out of range" % (value,))
    return v


def iso_time(value):
    check(isinstance(value, str) and ISO_Z.match(value), "%r is not an ISO UTC time" % (value,))
    return value


def write_log(entry):
    entry["at"] = time.time()
    if args.log:
        with log_lock, open(args.log, "a") as f:
            f.write(json.dumps(entry) + "\n")


def mode_of(service):
    if not args.modes or not os.path.exists(args.modes):
        return "ok"
    try:
        with open(args.modes) as f:
            return json.load(f).get(service, "ok")
    except ValueError:
        return "ok"


class Handler(BaseHTTPRequestHandler):
    def log_message(self, *a):
        pass

    def reply(self, status, body=b"", content_type="text/plain", headers=()):
        if isinstance(body, str):
            body = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        self.handle_any(b"")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.handle_any(self.rfile.read(length))

    def handle_any(self, body):
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/")
        service = parts[1] if len(parts) > 1 else ""
        if service in ("echo", "redirect", "downgrade", "hang", "big"):
            return self.client_paths(service, parts, body)
        if service not in SERVICES:
            return self.reply(404, "no such service")
        mode = mode_of(service)
        if mode == "hang":
            time.sleep(120)
            return
        if mode == "500":
            return self.reply(500, "<html>Internal Server Error</html>", "text/html")
        if mode == "429":
            return self.reply(429, "Too Many Requests", headers=[("Retry-After", "0")])
        try:
            getattr(self, service)("/" + "/".join(parts[2:]), url.query, body, mode)
        except Invalid as e:
            write_log({"service": service, "error": str(e)})
            self.reply(400, "bad request: %s" % e)

    def client_paths(self, what, parts, body):
        if what == "echo":
            echo = {"method": self.command, "path": self.path, "body": body.decode("latin-1"),
                    "headers": dict(self.headers.items())}
            return self.reply(200, json.dumps(echo), "application/json")
        if what == "redirect":
            n = int(parts[2])
            target = "/echo" if n <= 1 else "/redirect/%d" % (n - 1)
            return self.reply(307, "", headers=[("Location", target)])
        if what == "downgrade":
            return self.reply(307, "", headers=[("Location", "http://127.0.0.1:9/echo")])
        if what == "hang":
            time.sleep(120)
            return
        self.reply(200, b"x" * (1 << 20))

    # GET /radmon.php?function=submit&user=U&password=P&value=CPM&unit=CPM
    #     [&datetime=YYYY-MM-DD%20HH:MM:SS]
    def radmon(self, path, query, body, mode):
        check(self.command == "GET" and path == "/radmon.php", "GET /radmon.php expected")
        q = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
        check(set(q) <= {"function", "user", "password", "value", "unit", "datetime"},
              "unknown parameters in %s" % sorted(q))
        check(q.get("function") == "submit" and q.get("unit") == "CPM", "function/unit")
        value = number(q.get("value", "x"), 0, 1e7, text=True)
        when = None
        if "datetime" in q:
            check(re.search(r"datetime=\d{4}-\d\d-\d\d%20\d\d:\d\d:\d\d(&|$)", query),
                  "datetime is not YYYY-MM-DD%20HH:MM:SS")
            when = datetime.datetime.strptime(q["datetime"], "%Y-%m-%d %H:%M:%S").replace(
                tzinfo=datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
        known = SERVICES["radmon"]
        if q.get("user") != known["user"] or q.get("password") != known["password"]:
            return self.reply(200, "Incorrect login.")
        with state_lock:
            now = time.time()
            if mode == "toosoon" or now - last_radmon[0] < args.radmon_gap:
                return self.reply(200, "Too soon")
            last_radmon[0] = now
        write_log({"service": "radmon", "times": [when], "values": [value]})
        self.reply(200, "OK")

    # POST /measurements.json?api_key=K, JSON {latitude, longitude, value,
    # unit, captured_at, device_id, height, location_name}
    def safecast(self, path, query, body, mode):
        check(self.command == "POST" and path == "/measurements.json", "POST /measurements.json")
        q = dict(urllib.parse.parse_qsl(query))
        check(self.headers.get("Content-Type", "").startswith("application/json"), "content type")
        m = json.loads(body)
        check(isinstance(m, dict), "a JSON object expected")
        check(set(m) <= {"latitude", "longitude", "value", "unit", "captured_at", "device_id",
                         "height", "location_name"}, "unknown fields %s" % sorted(m))
        number(m.get("latitude"), -90, 90)
        number(m.get("longitude"), -180, 180)
        value = number(m.get("value"), 0, 1e7)
        check(m.get("unit") == "cpm", "unit must be cpm")
        when = iso_time(m.get("captured_at"))
        if q.get("api_key") != SERVICES["safecast"]["api_key"]:
            return self.reply(401, json.dumps({"error": "You need to sign in or sign up before "
                                                        "continuing."}), "application/json")
        write_log({"service": "safecast", "times": [when], "values": [value]})
        self.reply(201, json.dumps(dict(m, id=len(m))), "application/json")

    # POST /boxes/BOX/data, Authorization: TOKEN, JSON [{sensor, value, createdAt}]
    def opensensemap(self, path, query, body, mode):
        known = SERVICES["opensensemap"]
        match = re.match(r"^/boxes/([^/]+)/data$", path)
        check(self.command == "POST" and match, "POST /boxes/BOX/data expected")
        if match.group(1) != known["box"]:
            return self.reply(404, json.dumps({"code": "NotFound", "message": "Box not found"}),
                              "application/json")
        check(self.headers.get("Content-Type", "").startswith("application/json"), "content type")
        if self.headers.get("Authorization") != known["token"]:
            return self.reply(401, json.dumps({"code": "Unauthorized",
                                               "message": "Box access token not valid!"}),
                              "application/json")
        items = json.loads(body)
        check(isinstance(items, list) and 1 <= len(items) <= 2500, "1 to 2500 values expected")
        times, values = [], []
        for item in items:
            check(set(item) <= {"sensor", "value", "createdAt"}, "unknown fields")
            check(item.get("sensor") == known["sensor"], "unknown sensor")
            values.append(number(item.get("value"), 0, 1e7, text=True))
            times.append(iso_time(item.get("createdAt")))
        write_log({"service": "opensensemap", "times": times, "values": values})
        self.reply(201, "Measurements saved in box")

    # POST /measurements, application/vnd.api+json {apiKey, data: {...}}
    def openradiation(self, path, query, body, mode):
        check(self.command == "POST" and path == "/measurements", "POST /measurements expected")
        check(self.headers.get("Content-Type", "").startswith("application/vnd.api+json"),
              "content type")
        m = json.loads(body)
        check(isinstance(m.get("apiKey"), str) and isinstance(m.get("data"), dict),
              "You must send a JSON with a string apiKey and an object data")
        if m["apiKey"] != SERVICES["openradiation"]["apiKey"]:
            return self.reply(401, json.dumps({"error": {"code": "101",
                                                         "message": "apiKey is not valid"}}),
                              "application/json")
        d = m["data"]
        check(set(d) <= {"reportUuid", "latitude", "longitude", "value", "startTime", "endTime",
                         "hitsNumber", "apparatusSensorType", "manualReporting",
                         "organisationReporting", "reportContext"}, "unknown fields %s" % sorted(d))
        check(isinstance(d.get("reportUuid"), str) and UUID4.match(d["reportUuid"]), "reportUuid")
        number(d.get("latitude"), -90, 90)
        number(d.get("longitude"), -180, 180)
        value = number(d.get("value"), 0, 1e4)
        start = iso_time(d.get("startTime"))
        iso_time(d.get("endTime"))
        check(isinstance(d.get("hitsNumber"), int), "hitsNumber must be an integer")
        check(d.get("reportContext") == "routine", "reportContext must be routine")
        with state_lock:
            if d["reportUuid"] in reports:
                return self.reply(400, json.dumps({"error": {
                    "code": "104", "message": "duplicate key : reportUuid already exists"}}),
                    "application/json")
            reports.add(d["reportUuid"])
        write_log({"service": "openradiation", "times": [start], "values": [value],
                   "hits": d["hitsNumber"]})
        self.reply(201)

    # GET /log2.asp?AID=A&GID=G&CPM=N&ACPM=X&uSV=Y
    def gmcmap(self, path, query, body, mode):
        check(self.command == "GET" and path == "/log2.asp", "GET /log2.asp expected")
        q = dict(urllib.parse.parse_qsl(query))
        check(set(q) <= {"AID", "GID", "CPM", "ACPM", "uSV"} and "CPM" in q, "parameters")
        check(re.match(r"^\d+$", q["CPM"]), "CPM must be a whole number")
        for key in ("ACPM", "uSV"):
            if key in q:
                number(q[key], 0, 1e7, text=True)
        known = SERVICES["gmcmap"]
        if q.get("AID") != known["AID"]:
            return self.reply(200, "User is not found.ERR1.", "text/html")
        if q.get("GID") != known["GID"]:
            return self.reply(200, "Counter is not found.ERR2.", "text/html")
        write_log({"service": "gmcmap", "times": [None], "values": [float(q["CPM"])],
                   "usv": float(q["uSV"]) if "uSV" in q else None})
        self.reply(200, "\r\n<!--  sendmail.asp-->\r\n\r\nOK.ERR0", "text/html")


def make_certificates(folder):
    p = lambda name: os.path.join(folder, name)
    with open(p("server.ext"), "w") as f:
        f.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n")
    key = ["-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes"]
    for command in (["req", "-x509"] + key + ["-days", "2", "-subj", "/CN=Korvinet test CA",
                                              "-keyout", p("ca.key"), "-out", p("ca.crt")],
                    ["req"] + key + ["-subj", "/CN=127.0.0.1", "-keyout", p("server.key"),
                                     "-out", p("server.csr")],
                    ["x509", "-req", "-in", p("server.csr"), "-CA", p("ca.crt"), "-CAkey",
                     p("ca.key"), "-CAcreateserial", "-days", "2", "-extfile", p("server.ext"),
                     "-out", p("server.crt")]):
        subprocess.run(["openssl"] + command, check=True, capture_output=True)


def main():
    global args
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--log")
    parser.add_argument("--modes")
    parser.add_argument("--radmon-gap", type=float, default=0.0)
    parser.add_argument("--tls")
    args = parser.parse_args()
    ThreadingHTTPServer.allow_reuse_address = True
    ThreadingHTTPServer.daemon_threads = True
    server = ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    if args.tls:
        make_certificates(args.tls)
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(os.path.join(args.tls, "server.crt"),
                                os.path.join(args.tls, "server.key"))
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
