#!/usr/bin/env python3
"""One local server on 127.0.0.1 that plays the five radiation maps.

    map_services_server.py [--port N] [--log FILE] [--modes FILE]
                           [--radmon-gap SECONDS] [--tls DIR]

Prints its port, then serves each service under its own first path
component (/radmon/radmon.php, /safecast/measurements.json,
/opensensemap/boxes/BOX/data, /openradiation/measurements,
/gmcmap/log2.asp). Each service answers as its own server does: where the
service publishes its server code, that code decides what is read, what is
refused, with which status and which words (the comment above each part
names the file); where it does not (radmon.org, GMCmap), the service's own
documentation does. An upload a service refuses for its content gets the
service's answer and an "error" line in the log; refused credentials are
answered as the service answers them, without one. Uploads the service
stores go to the log (one JSON object a line) with their times and values.
The credentials it knows are in SERVICES below.

--modes names a JSON file, read at every request, mapping a service to how
it answers: "ok" (default), "toosoon" (radmon), "locationwarning" (GMCmap
stores the value but asks to confirm the counter's location), "429", "500"
or "hang" (no answer at all). --radmon-gap refuses radmon uploads closer
than that with "Too soon". --tls DIR makes a certificate authority
(DIR/ca.crt) and serves HTTPS with a certificate it signed for 127.0.0.1.

A few paths test the HTTP client itself: /redirect/N (N redirects, then
/echo), /downgrade (to plain http), /echo (the request back), /hang, /big (1 MiB).
"""
import argparse
import datetime
import json
import math
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
    # Keys with the "put" role may submit; the README's key for trying the
    # API out has the "test" role.
    "openradiation": {"put": "openradiation-key", "test": "bde8ebc61cb089b8cc997dd7a0d0a434"},
    "gmcmap": {"AID": "1234", "GID": "5678"},
}

ISO_Z = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{1,3})?Z$")
OBJECT_ID = re.compile(r"^[0-9a-fA-F]{24}$")

args = None
log_lock = threading.Lock()
state_lock = threading.Lock()
last_radmon = [0.0]
reports = set()
safecast_md5 = set()


class Answer(Exception):
    """The service's answer to an upload it does not store.

    logged: the upload itself was at fault (not the credentials), so the
    log gets an "error" line for the tests to find."""

    def __init__(self, status, body, content_type="text/plain", logged=True):
        super().__init__(body if isinstance(body, str) else json.dumps(body))
        self.status = status
        self.body = body if isinstance(body, str) else json.dumps(body)
        self.content_type = content_type if isinstance(body, str) else "application/json"
        self.logged = logged


def parse_time(value):
    if not isinstance(value, str) or not ISO_Z.match(value):
        return None
    return datetime.datetime.fromisoformat(value.replace("Z", "+00:00")).timestamp()


def js_number(value):
    """What JavaScript's typeof reports as "number" (no booleans)."""
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def js_integer(value):
    return js_number(value) and float(value) == int(value)


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

    def media_type(self):
        return self.headers.get("Content-Type", "").split(";")[0].strip().lower()

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
        except Answer as a:
            if a.logged:
                write_log({"service": service, "error": "HTTP %d %s" % (a.status, a.body)})
            self.reply(a.status, a.body, a.content_type)

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

    # radmon.org publishes no server code; its submission page documents
    #   GET /radmon.php?function=submit&user=U&password=P&value=CPM&unit=CPM
    #       [&datetime=YYYY-MM-DD%20HH:MM:SS] (UTC)
    # answered in words: "OK", "Incorrect login." and "Too soon" for uploads
    # closer than it takes. Its pages give no other words for a user it does
    # not know, so the stand-in refuses that login the same way.
    def radmon(self, path, query, body, mode):
        def refuse(why):
            # radmon.org documents no answer to a request not of this form:
            # ours is a tripwire for the tests, not the service's words.
            raise Answer(400, why)

        q = dict(urllib.parse.parse_qsl(query, keep_blank_values=True))
        if (self.command != "GET" or path != "/radmon.php" or q.get("function") != "submit"
                or q.get("unit") != "CPM"):
            refuse("Invalid request")
        try:
            value = float(q.get("value", ""))
        except ValueError:
            refuse("Invalid value")
        when = None
        if "datetime" in q:
            if not re.search(r"datetime=\d{4}-\d\d-\d\d%20\d\d:\d\d:\d\d(&|$)", query):
                refuse("Invalid datetime")
            when = datetime.datetime.strptime(q["datetime"], "%Y-%m-%d %H:%M:%S").replace(
                tzinfo=datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
        known = SERVICES["radmon"]
        if q.get("user") != known["user"] or q.get("password") != known["password"]:
            raise Answer(200, "Incorrect login.", "text/html", logged=False)
        with state_lock:
            now = time.time()
            if mode == "toosoon" or now - last_radmon[0] < args.radmon_gap:
                raise Answer(200, "Too soon", "text/html", logged=False)
            last_radmon[0] = now
        write_log({"service": "radmon", "times": [when], "values": [value]})
        self.reply(200, "OK", "text/html")

    # Safecast/safecastapi:
    # - app/controllers/measurements_controller.rb: POST /measurements.json
    #   behind authenticate_user! (the api_key parameter; devise answers 401
    #   {"error": ...} without it); the JSON body's top-level fields are
    #   wrapped into "measurement" (wrap_parameters, JSON bodies only) and the
    #   permitted ones kept, others ignored; respond_with answers 201 with the
    #   stored measurement, or 422 {"errors": ...} when it is invalid.
    # - app/models/measurement.rb: location (latitude, longitude), value and
    #   unit must be there; md5sum, of value, latitude, longitude and
    #   captured_at, must be unique.
    # - db/structure.sql: measurements.height is an integer column, so Rails
    #   keeps the whole part of a fraction.
    def safecast(self, path, query, body, mode):
        if self.command != "POST" or path not in ("/measurements", "/measurements.json"):
            raise Answer(404, "Not Found")
        q = dict(urllib.parse.parse_qsl(query))
        if q.get("api_key") != SERVICES["safecast"]["api_key"]:
            raise Answer(401, {"error": "You need to sign in or sign up before continuing."},
                         logged=False)
        permitted = {"value", "unit", "location", "location_name", "device_id", "height",
                     "surface", "radiation", "latitude", "longitude", "captured_at",
                     "devicetype_id", "sensor_id", "channel_id", "station_id"}
        m = {}
        if self.media_type() == "application/json":
            sent = json.loads(body)
            m = {k: v for k, v in sent.items() if k in permitted} if isinstance(sent, dict) else {}
        errors = {k: ["can't be blank"] for k in ("latitude", "longitude", "value", "unit")
                  if m.get(k) in (None, "")}
        md5 = (m.get("value"), m.get("latitude"), m.get("longitude"), m.get("captured_at"))
        with state_lock:
            if not errors and md5 in safecast_md5:
                errors["md5sum"] = ["has already been taken"]
            if errors:
                raise Answer(422, {"errors": errors})
            safecast_md5.add(md5)
        height = int(float(m["height"])) if m.get("height") is not None else None
        write_log({"service": "safecast", "times": [m.get("captured_at")],
                   "values": [float(m["value"])], "height": height})
        self.reply(201, json.dumps(dict(m, id=len(safecast_md5), height=height)),
                   "application/json")

    # sensebox/openSenseMap-API:
    # - packages/api/lib/controllers/measurementsController.js
    #   (postNewMeasurements): a content type without a decoder gets 415; the
    #   box is looked up (404), then its access token compared with the
    #   Authorization header (401); the decoded batch is saved whole or not
    #   at all; 201 "Measurements saved in box".
    # - packages/models/src/measurement/decoding/index.js: the JSON decoder
    #   serves "application/json" (also with "; charset=utf-8").
    # - packages/models/src/measurement/decoding/validators.js: 1 to 2,500
    #   measurements; each a sensor identifier of the right form, a value
    #   that is a non-empty string of a finite number, a createdAt at most a
    #   minute ahead; the first that is not rejects the whole batch.
    # - packages/models/src/measurement/measurement.js: decoding errors
    #   become UnprocessableEntityError, answered 422 by
    #   packages/api/lib/helpers/errorHandler.js.
    # - packages/models/src/box/box.js: findBoxById "Box not found" (404);
    #   saveMeasurementsArray refuses a sensor of another box with a plain
    #   ModelError, answered 400.
    def opensensemap(self, path, query, body, mode):
        known = SERVICES["opensensemap"]
        match = re.match(r"^/boxes/([^/]+)/data$", path)
        if self.command != "POST" or not match:
            raise Answer(404, {"code": "ResourceNotFound", "message": "%s does not exist" % path})
        if self.media_type() not in ("application/json", "text/csv"):
            raise Answer(415, {"code": "UnsupportedMediaType",
                               "message": "Unsupported content-type."})
        if match.group(1) != known["box"]:
            raise Answer(404, {"code": "NotFound", "message": "Box not found"}, logged=False)
        if self.headers.get("Authorization") != known["token"]:
            raise Answer(401, {"code": "Unauthorized", "message": "Box access token not valid!"},
                         logged=False)

        def unprocessable(message):
            raise Answer(422, {"code": "UnprocessableEntity", "message": message})

        items = json.loads(body)
        if not isinstance(items, list):
            items = [{"sensor": k, "value": v} for k, v in items.items()]
        if not items:
            unprocessable("Cannot save empty or invalid measurements.")
        if len(items) > 2500:
            unprocessable("Too many measurements. Please submit at most 2500 measurements at once.")
        times, values = [], []
        for item in items:
            sensor, value = str(item.get("sensor", "")).strip(), item.get("value")
            if not sensor:
                unprocessable("Missing sensor id in measurement %s" % json.dumps(item))
            if not OBJECT_ID.match(sensor) or sensor == "00112233445566778899aabb":
                unprocessable("Invalid sensor id in measurement %s" % json.dumps(item))
            if not isinstance(value, str) or not value:
                unprocessable("Missing value in measurement %s" % json.dumps(item))
            try:
                number = float(value)
            except ValueError:
                number = math.nan
            if not math.isfinite(number):
                unprocessable("Invalid value in measurement %s" % json.dumps(item))
            created = parse_time(item.get("createdAt"))
            if created is None:
                unprocessable("Invalid timestamp in measurement %s" % json.dumps(item))
            if created > time.time() + 60:
                unprocessable("Timestamp %s is too far into the future. in measurement %s"
                              % (item["createdAt"], json.dumps(item)))
            times.append(item["createdAt"])
            values.append(number)
        for item in items:
            if item["sensor"] != known["sensor"]:
                raise Answer(400, {"code": "BadRequest", "message":
                                   "Measurement for sensor with id %s does not belong to box"
                                   % item["sensor"]})
        write_log({"service": "opensensemap", "times": times, "values": values})
        self.reply(201, json.dumps("Measurements saved in box"), "application/json")

    # openradiation/openradiation-api, api/api.js:
    # - bodyParser.json() with its default type reads "application/json"
    #   bodies only; any other leaves the body empty, answered 400 code "100"
    #   "You must send a JSON with a string apiKey and an object data".
    # - verifyApiKey: the key, in lower case, must be one with the "put"
    #   role; 401 code "103" otherwise.
    # - verifyData: each field's type and values, 400 code "101" (missing)
    #   or "102" (wrong); fields it does not know are ignored.
    # - a reportContext other than "routine" is not recorded: 200
    #   {"test": true}; a reportUuid already there: 400 code "104"; stored:
    #   201 with an empty body, and its reliability worked out.
    def openradiation(self, path, query, body, mode):
        def error(status, code, message, logged=True):
            raise Answer(status, {"error": {"code": code, "message": message}}, logged=logged)

        if self.command != "POST" or path != "/measurements":
            raise Answer(404, "Cannot %s %s" % (self.command, path), "text/html")
        m = json.loads(body) if self.media_type() == "application/json" else {}
        if not isinstance(m.get("apiKey"), str) or not isinstance(m.get("data"), dict):
            error(400, "100", "You must send a JSON with a string apiKey and an object data")
        keys = SERVICES["openradiation"]
        if m["apiKey"].lower() not in keys.values():
            error(401, "103", "apiKey is not a valid key", logged=False)
        if m["apiKey"].lower() != keys["put"]:
            error(401, "103", "apiKey is not valid for submitting data", logged=False)
        d = m["data"]
        checks = [
            ("value", True, js_number(d.get("value")), "is not a number"),
            ("hitsNumber", False, js_integer(d.get("hitsNumber")), "is not an integer"),
            ("startTime", True, parse_time(d.get("startTime")) is not None,
             "is not a reliable date"),
            ("endTime", False, parse_time(d.get("endTime")) is not None, "is not a date"),
            ("latitude", True, js_number(d.get("latitude")), "is not a number"),
            ("longitude", True, js_number(d.get("longitude")), "is not a number"),
            ("apparatusId", False, isinstance(d.get("apparatusId"), str)
             and len(d.get("apparatusId")) <= 100, "is not a string"),
            ("apparatusSensorType", False, d.get("apparatusSensorType") in ("geiger", "photodiode"),
             "should be in [geiger | photodiode]"),
            ("reportUuid", True, isinstance(d.get("reportUuid"), str)
             and len(d["reportUuid"]) == 36
             and re.search(r"[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}",
                           d["reportUuid"]) is not None, "is not a UUID format"),
            ("manualReporting", False, isinstance(d.get("manualReporting"), bool),
             "is not a boolean"),
            ("organisationReporting", False, isinstance(d.get("organisationReporting"), str)
             and len(d["organisationReporting"]) <= 100, "is not a string"),
            ("reportContext", False, d.get("reportContext") in ("emergency", "routine",
                                                                "exercise", "test"),
             "should be in [emergency | routine | exercise | test]"),
            ("measurementHeight", False, js_integer(d.get("measurementHeight")),
             "is not an integer"),
            ("measurementEnvironment", False, d.get("measurementEnvironment") in
             ("countryside", "city", "ontheroad", "inside", "plane"),
             "should be in [countryside | city | ontheroad | inside | plane]"),
        ]
        for name, mandatory, valid, wrong in checks:
            if d.get(name) == "":
                d[name] = None
            if d.get(name) is None:
                if mandatory:
                    error(400, "101", name + " is mandatory but undefined")
            elif not valid:
                error(400, "102", name + " " + wrong)
        if parse_time(d["startTime"]) > time.time() + 86400:
            error(400, "102", "startTime is not a real date")
        if d.get("reportContext") != "routine":
            return self.reply(200, json.dumps({"test": True}), "application/json")
        with state_lock:
            if d["reportUuid"] in reports:
                error(400, "104", "duplicate key : reportUuid already exists", logged=False)
            reports.add(d["reportUuid"])
        # +1 a field filled, + min(30, hits), +20 not entered by hand, +20
        # countryside or +10 city or on the road, +10 a height of 1 m.
        counted = ("apparatusId", "apparatusVersion", "apparatusSensorType", "apparatusTubeType",
                   "temperature", "value", "hitsNumber", "startTime", "endTime", "latitude",
                   "longitude", "accuracy", "altitude", "altitudeAccuracy", "deviceUuid",
                   "devicePlatform", "deviceVersion", "deviceModel", "reportUuid",
                   "manualReporting", "organisationReporting", "reportContext", "description",
                   "measurementHeight", "tags", "enclosedObject", "userId", "userPwd",
                   "measurementEnvironment")
        reliability = sum(1 for k in counted if d.get(k) is not None)
        reliability += min(30, d.get("hitsNumber") or 0)
        reliability += 20 if d.get("manualReporting") is False else 0
        reliability += {"countryside": 20, "city": 10, "ontheroad": 10}.get(
            d.get("measurementEnvironment"), 0)
        reliability += 10 if d.get("measurementHeight") == 1 else 0
        write_log({"service": "openradiation", "times": [d.get("endTime")],
                   "starts": [d["startTime"]], "values": [d["value"]],
                   "hits": d.get("hitsNumber"), "reliability": reliability})
        self.reply(201, "", "application/json")

    # GMCmap publishes no server code; its page on submitting data
    # automatically (www.gmcmap.com/AutomaticallySubmitData.asp) documents
    #   GET http://www.GMCmap.com/log2.asp?AID=A&GID=G&CPM=N[&ACPM=X][&uSV=Y]
    # answered in text that ends in a code: ERR0 stored the value (also when
    # the counter's location needs confirming, after a warning), ERR1 an
    # unknown account, ERR2 an unknown counter.
    def gmcmap(self, path, query, body, mode):
        q = dict(urllib.parse.parse_qsl(query))
        # GMCmap documents no answer to a request not of this form: ours is a
        # tripwire for the tests, not the service's words.
        if self.command != "GET" or path != "/log2.asp" or not re.match(r"^\d+$", q.get("CPM", "")):
            raise Answer(400, "not a log2.asp request")
        for key in ("ACPM", "uSV"):
            if key in q and not re.match(r"^\d+(\.\d+)?$", q[key]):
                raise Answer(400, "%s is not a number" % key)
        known = SERVICES["gmcmap"]
        if q.get("AID") != known["AID"]:
            raise Answer(200, "Error! User is not found.ERR1.", "text/html", logged=False)
        if q.get("GID") != known["GID"]:
            raise Answer(200, "Error! Geiger Counter is not found.ERR2.", "text/html",
                         logged=False)
        write_log({"service": "gmcmap", "times": [None], "values": [float(q["CPM"])],
                   "usv": float(q["uSV"]) if "uSV" in q else None})
        warning = ("Warning! The Geiger Counter location changed, please confirm the location.<BR>"
                   if mode == "locationwarning" else "")
        self.reply(200, "\r\n<!--  sendmail.asp-->\r\n\r\n%sOK.ERR0" % warning, "text/html")


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
