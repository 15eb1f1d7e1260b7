"""The WSGI application.

Every request is validated before anything is stored; a malformed one gets a
400 and leaves the database as it was.
"""
import hashlib
import importlib.util
import json
import os
import pathlib
import re
import sqlite3
import time
import xml.etree.ElementTree as ET
from urllib.parse import parse_qs, quote
from xml.sax.saxutils import escape

ROOT = pathlib.Path(__file__).resolve().parent.parent
SOAP_NS = "http://schemas.xmlsoap.org/soap/envelope/"
# The add-on rating API's namespace; the programs send the same one.
API_NS = "http://service.tovu.example.org/api"
DEFAULT_ADDONS = os.environ.get("TOVU_UNWANTED_ADDONS", "/work/shared/data/unwanted-addons.tsv")
MAX_BODY = 1024 * 1024
ACTIONS = ("INTOVU", "UNTOVU")

_spec = importlib.util.spec_from_file_location("_urltoken", ROOT / "tools" / "urltoken.py")
urltoken = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(urltoken)

SCHEMA = """
CREATE TABLE IF NOT EXISTS reports (
  id INTEGER PRIMARY KEY, action TEXT NOT NULL, uid TEXT NOT NULL, cfg TEXT NOT NULL,
  subid TEXT, params TEXT NOT NULL, received REAL NOT NULL);
CREATE TABLE IF NOT EXISTS disabled_addons (
  id INTEGER PRIMARY KEY, uid TEXT NOT NULL, cfg TEXT NOT NULL, addon TEXT NOT NULL,
  note TEXT, path TEXT, source TEXT, received REAL NOT NULL);
"""


class BadRequest(Exception):
    pass


def load_unwanted(path):
    """identifier (lower case) -> display name, from the table's columns."""
    rows = {}
    with open(path, encoding="utf-8") as f:
        header = f.readline().rstrip("\n").split("\t")
        idx, name_idx = header.index("identifier"), header.index("name")
        for line in f:
            cols = line.rstrip("\n").split("\t")
            if len(cols) > idx and cols[idx].strip():
                rows[cols[idx].strip().lower()] = cols[name_idx].strip() if len(cols) > name_idx else ""
    return rows


def parse_version(text):
    if not re.fullmatch(r"\d{1,9}(\.\d{1,9}){0,3}", text or ""):
        raise BadRequest("version")
    parts = [int(p) for p in text.split(".")]
    return tuple(parts + [0] * (4 - len(parts)))


class Service:
    def __init__(self, db, release=None, addons=None, base_url=None):
        self.db = db
        self.release = pathlib.Path(release) if release else None
        self.unwanted = load_unwanted(addons or DEFAULT_ADDONS)
        self.base_url = base_url.rstrip("/") if base_url else None
        self.key = urltoken.load_key()
        with self._connect() as con:
            con.executescript(SCHEMA)

    def _connect(self):
        return sqlite3.connect(self.db, timeout=10)

    # ---- WSGI ---------------------------------------------------------------
    def __call__(self, environ, start_response):
        path = environ.get("PATH_INFO", "")
        routes = {
            "/client.asmx/GetXML": self.report,
            "/addons.asmx": self.check_bho,
            "/update.asmx/Check": self.update_check,
        }
        try:
            if path in routes:
                status, ctype, body = routes[path](environ)
            elif path.startswith("/update/files/"):
                status, ctype, body = self.update_file(environ, path[len("/update/files/"):])
            else:
                status, ctype, body = "404 Not Found", "text/plain", b"not found\n"
        except BadRequest as e:
            status, ctype, body = "400 Bad Request", "text/plain", ("bad request: %s\n" % e).encode()
        start_response(status, [("Content-Type", ctype), ("Content-Length", str(len(body)))])
        return [body]

    # ---- helpers ------------------------------------------------------------
    @staticmethod
    def _body(environ):
        try:
            length = int(environ.get("CONTENT_LENGTH") or 0)
        except ValueError:
            raise BadRequest("length")
        if length < 0 or length > MAX_BODY:
            raise BadRequest("length")
        data = environ["wsgi.input"].read(length) if length else b""
        if len(data) != length:
            raise BadRequest("truncated body")
        return data

    def _form(self, environ):
        """Fields of the query and of a form body; each name at most once."""
        fields = {}
        sources = [environ.get("QUERY_STRING", "")]
        if environ.get("REQUEST_METHOD") == "POST":
            sources.append(self._body(environ).decode("latin-1"))
        for src in sources:
            for name, values in parse_qs(src, keep_blank_values=True, strict_parsing=False).items():
                if name in fields or len(values) != 1:
                    raise BadRequest("field %s repeated" % name)
                fields[name] = values[0]
        return fields

    # ---- install and uninstall reports --------------------------------------
    def report(self, environ):
        if environ.get("REQUEST_METHOD") != "POST":
            raise BadRequest("method")
        form = self._form(environ)
        action = form.get("action", "")
        if action not in ACTIONS:
            raise BadRequest("action")
        try:
            params = urltoken.decode(form.get("cr", ""), self.key)
        except Exception:
            raise BadRequest("token")
        values = {n.decode("latin-1"): v.decode("latin-1") for n, v in params}
        uid, cfg = values.get("UID", ""), values.get("CFG", "")
        if not re.fullmatch(r"\d{1,40}", uid) or not re.fullmatch(r"\d{1,10}", cfg):
            raise BadRequest("UID or CFG")
        with self._connect() as con:
            con.execute("INSERT INTO reports(action, uid, cfg, subid, params, received) VALUES (?,?,?,?,?,?)",
                        (action, uid, cfg, values.get("SUBID"), json.dumps(values), time.time()))
        return "200 OK", "text/xml; charset=utf-8", b'<?xml version="1.0" encoding="utf-8"?><Result Status="OK"/>'

    # ---- add-on rating --------------------------------------------------------
    def check_bho(self, environ):
        if environ.get("REQUEST_METHOD") != "POST":
            raise BadRequest("method")
        if not environ.get("CONTENT_TYPE", "").lower().startswith("text/xml"):
            raise BadRequest("content type")
        action = environ.get("HTTP_SOAPACTION", "").strip()
        if action.strip('"') != API_NS + "/CheckBHO":
            raise BadRequest("SOAPAction")
        try:
            root = ET.fromstring(self._body(environ))
        except ET.ParseError:
            raise BadRequest("xml")
        call = None
        if root.tag == "{%s}Envelope" % SOAP_NS:
            body = root.find("{%s}Body" % SOAP_NS)
            call = body.find("{%s}CheckBHO" % API_NS) if body is not None else None
        if call is None:
            raise BadRequest("no CheckBHO")

        def text(parent, name):
            el = parent.find("{%s}%s" % (API_NS, name))
            return None if el is None else (el.text or "")

        cfg, uid, call_type = text(call, "CFG"), text(call, "UID"), text(call, "callType")
        if cfg is None or uid is None or call_type not in ("0", "1"):
            raise BadRequest("CFG, UID or callType")
        blist = call.find("{%s}BHO_List" % API_NS)
        if blist is None:
            raise BadRequest("BHO_List")
        addons = []
        for bho in blist.findall("{%s}BHO" % API_NS):
            ident = (text(bho, "BHO_ID") or "").strip()
            if not ident:
                raise BadRequest("BHO_ID")
            addons.append((ident, text(bho, "note") or "", text(bho, "path") or "", text(bho, "source") or ""))
        results = []
        if call_type == "0":
            for ident, _, _, _ in addons:
                if ident.lower() in self.unwanted:
                    results.append((ident, self.unwanted[ident.lower()]))
        else:
            now = time.time()
            with self._connect() as con:
                con.executemany(
                    "INSERT INTO disabled_addons(uid, cfg, addon, note, path, source, received) VALUES (?,?,?,?,?,?,?)",
                    [(uid, cfg, i, n, p, s, now) for i, n, p, s in addons])
        items = "".join("<BHO_Result><BHO_ID>%s</BHO_ID>%s</BHO_Result>"
                        % (escape(i), "<note>%s</note>" % escape(n) if n else "") for i, n in results)
        xml = ('<?xml version="1.0" encoding="utf-8"?>'
               '<soap:Envelope xmlns:soap="%s" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" '
               'xmlns:xsd="http://www.w3.org/2001/XMLSchema"><soap:Body><CheckBHOResponse xmlns="%s">'
               '<CheckBHOResult>%s</CheckBHOResult></CheckBHOResponse></soap:Body></soap:Envelope>'
               % (SOAP_NS, API_NS, items))
        return "200 OK", "text/xml; charset=utf-8", xml.encode("utf-8")

    # ---- update check -----------------------------------------------------------
    def _release_files(self):
        if not self.release or not self.release.is_dir():
            return None, []
        try:
            version = parse_version((self.release / "version.txt").read_text().strip())
        except (OSError, BadRequest):
            return None, []
        names = sorted(p.name for p in self.release.iterdir()
                       if p.is_file() and p.name not in ("version.txt", "silent.txt"))
        return version, names

    def update_check(self, environ):
        if environ.get("REQUEST_METHOD") not in ("GET", "POST"):
            raise BadRequest("method")
        form = self._form(environ)
        ver = parse_version(form.get("ver", ""))
        current, names = self._release_files()
        if current is None or ver >= current or not names:
            return "200 OK", "text/xml; charset=utf-8", b'<?xml version="1.0" encoding="utf-8"?><Result Status="NONE"/>'
        if self.base_url:
            base = self.base_url
        else:
            scheme = environ.get("wsgi.url_scheme", "http")
            host = environ.get("HTTP_HOST") or "%s:%s" % (environ.get("SERVER_NAME"), environ.get("SERVER_PORT"))
            base = "%s://%s" % (scheme, host)
        vers = []
        for name in names:
            data = (self.release / name).read_bytes()
            vers.append('<Ver ENT="%s" URL="%s" SHA256="%s" Size="%d"/>' % (
                escape(name, {'"': "&quot;"}), escape(base + "/update/files/" + quote(name), {'"': "&quot;"}),
                hashlib.sha256(data).hexdigest(), len(data)))
        silent = "0"
        try:
            silent = "1" if (self.release / "silent.txt").read_text().strip() == "1" else "0"
        except OSError:
            pass
        xml = ('<?xml version="1.0" encoding="utf-8"?><Result Status="OK"><Vers>%s</Vers><Silent>%s</Silent></Result>'
               % ("".join(vers), silent))
        return "200 OK", "text/xml; charset=utf-8", xml.encode("utf-8")

    def update_file(self, environ, name):
        if environ.get("REQUEST_METHOD") not in ("GET", "HEAD"):
            raise BadRequest("method")
        _, names = self._release_files()
        if name not in names:
            return "404 Not Found", "text/plain", b"not found\n"
        return "200 OK", "application/octet-stream", (self.release / name).read_bytes()


def make_app(db, release=None, addons=None, base_url=None):
    return Service(db, release=release, addons=addons, base_url=base_url)


def app_from_environment():
    """For WSGI servers: gunicorn 'service.app:app_from_environment()' with
    TOVU_SERVICE_DB, TOVU_SERVICE_RELEASE and TOVU_SERVICE_BASE_URL set."""
    return make_app(os.environ.get("TOVU_SERVICE_DB", "service.db"), os.environ.get("TOVU_SERVICE_RELEASE"),
                    os.environ.get("TOVU_SERVICE_ADDONS"), os.environ.get("TOVU_SERVICE_BASE_URL"))
