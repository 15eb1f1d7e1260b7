"""The service over real HTTP on 127.0.0.1, with a real SQLite database."""
import hashlib
import sys
import sqlite3
import threading
import urllib.error
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET
from wsgiref.simple_server import WSGIRequestHandler, make_server

import pytest

from service.app import API_NS, ROOT, SOAP_NS, make_app, urltoken


class Quiet(WSGIRequestHandler):
    def log_message(self, *args):
        pass


@pytest.fixture
def svc(tmp_path):
    release = tmp_path / "release"
    release.mkdir()
    (release / "version.txt").write_text("1.0.0.2\n")
    (release / "b.cab").write_bytes(b"B" * 3000)
    (release / "a.cab").write_bytes(b"A" * 10)
    addons = tmp_path / "addons.tsv"
    addons.write_text("kind\tname\tidentifier\tsource\n"
                      "ie\tBad Bar\t{AAAAAAAA-0000-0000-0000-000000000001}\tx\n"
                      "ff\tBad Ext\tbad@ext.example\tx\n")
    db = tmp_path / "service.db"
    server = make_server("127.0.0.1", 0, make_app(str(db), str(release), str(addons)), handler_class=Quiet)
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    yield type("Svc", (), {"url": "http://127.0.0.1:%d" % server.server_address[1], "db": db,
                           "release": release})
    server.shutdown()
    server.server_close()


def request(url, data=None, headers=None, method=None):
    req = urllib.request.Request(url, data=data, headers=headers or {}, method=method)
    try:
        with urllib.request.urlopen(req, timeout=10) as r:
            return r.status, r.read()
    except urllib.error.HTTPError as e:
        return e.code, e.read()


def rows(db, table):
    with sqlite3.connect(db) as con:
        return con.execute("SELECT * FROM %s" % table).fetchall()


def token(**params):
    return urltoken.pack([(k.upper().encode(), v.encode()) for k, v in params.items()])


# ---- install and uninstall reports ---------------------------------------------

def test_report_records_the_decoded_fields(svc):
    cr = token(RNDX_12="345", CFG="4", UID="123456789", RNDY_7="8", SUBID="chan\tnel", RANDOMIZER="99")
    status, body = request(svc.url + "/client.asmx/GetXML",
                           urllib.parse.urlencode({"action": "INTOVU", "cr": cr}).encode())
    assert status == 200 and b'Status="OK"' in body
    (row,) = rows(svc.db, "reports")
    assert row[1:5] == ("INTOVU", "123456789", "4", "chan\tnel")


@pytest.mark.parametrize("form", [
    {"action": "INTOVU"},                                    # no token
    {"action": "DELETE", "cr": token(CFG="4", UID="1")},    # unknown action
    {"action": "UNTOVU", "cr": token(CFG="4", UID="1")[:-4] + "AAAA"},  # damaged: checksum
    {"action": "UNTOVU", "cr": "not base64!"},
    {"action": "UNTOVU", "cr": token(CFG="4")},              # no installation identifier
    {"action": "UNTOVU", "cr": token(CFG="4", UID="12; DROP")},
])
def test_malformed_reports_are_refused_and_not_stored(svc, form):
    status, _ = request(svc.url + "/client.asmx/GetXML", urllib.parse.urlencode(form).encode())
    assert status == 400
    assert rows(svc.db, "reports") == []


# Made by the programs' own encoder (TCryptURL) under Wine: the first with
# Encode (so with RANDOMIZER), the second with Pack.
WINDOWS_TOKENS = [
    ("XxcluC0mmZjVN8cRKJ2-fyuXuKR5xaSb6p9e1AQajNsMkgqdkq8-K3jhQMUjui4TmjHaQe8iLqCc5SkRXhHQPgum17sjDVXdAaZhRJhrBqBLvazOzTfrMulvtsL4Tj_AMaw58Q09uex7-89cBg@@",
     [(b"RNDX_17", b"4242"), (b"CFG", b"4"), (b"UID", b"7305165849113881821"), (b"RNDY_903", b"12"),
      (b"SUBID", b"line\nfeed\ttab\rcr")]),
    ("XxcluC0hmJrWN8AWKMzTQ1_Yy5-kg0A@", [(b"UID", b"2"), (b"CFG", b"\xe9t\xe9")]),
]


@pytest.mark.parametrize("cr,params", WINDOWS_TOKENS)
def test_tokens_made_by_the_programs_decode(cr, params):
    assert [p for p in urltoken.decode(cr) if p[0] != b"RANDOMIZER"] == params


def test_report_with_a_token_made_by_the_programs(svc):
    cr = WINDOWS_TOKENS[0][0]
    status, _ = request(svc.url + "/client.asmx/GetXML", urllib.parse.urlencode({"action": "UNTOVU", "cr": cr}).encode())
    assert status == 200
    (row,) = rows(svc.db, "reports")
    assert row[1:5] == ("UNTOVU", "7305165849113881821", "4", "line\nfeed\ttab\rcr")


def test_report_by_get_or_repeated_field_is_refused(svc):
    cr = token(CFG="4", UID="1")
    assert request(svc.url + "/client.asmx/GetXML?action=INTOVU&cr=" + cr)[0] == 400
    body = "action=INTOVU&action=UNTOVU&cr=" + cr
    assert request(svc.url + "/client.asmx/GetXML", body.encode())[0] == 400
    assert rows(svc.db, "reports") == []


# ---- add-on rating ----------------------------------------------------------------

def envelope(call_type, addons, cfg="4", uid="77"):
    items = "".join("<BHO><BHO_ID>%s</BHO_ID><note>%s</note><path>%s</path><source>%s</source></BHO>" % a
                    for a in addons)
    return ('<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="%s" '
            'xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance" xmlns:xsd="http://www.w3.org/2001/XMLSchema">'
            '<soap:Body><CheckBHO xmlns="%s"><CFG>%s</CFG><UID>%s</UID><callType>%s</callType>'
            '<BHO_List>%s</BHO_List></CheckBHO></soap:Body></soap:Envelope>'
            % (SOAP_NS, API_NS, cfg, uid, call_type, items)).encode("utf-8")


SOAP_HEADERS = {"Content-Type": "text/xml; charset=utf-8", "SOAPAction": '"%s/CheckBHO"' % API_NS}


def test_rating_names_only_the_unwanted(svc):
    asked = [("{aaaaaaaa-0000-0000-0000-000000000001}", "x", "c:\\x.dll", "1"),
             ("{BBBBBBBB-0000-0000-0000-000000000002}", "fine", "c:\\y.dll", "1"),
             ("bad@ext.example", "e", "p", "12")]
    status, body = request(svc.url + "/addons.asmx", envelope("0", asked), SOAP_HEADERS)
    assert status == 200
    result = ET.fromstring(body).find("{%s}Body/{%s}CheckBHOResponse/{%s}CheckBHOResult" % (SOAP_NS, API_NS, API_NS))
    found = [(r.findtext("{%s}BHO_ID" % API_NS), r.findtext("{%s}note" % API_NS)) for r in result]
    assert found == [("{aaaaaaaa-0000-0000-0000-000000000001}", "Bad Bar"), ("bad@ext.example", "Bad Ext")]
    assert rows(svc.db, "disabled_addons") == []


def test_report_of_disabled_addons_is_recorded(svc):
    status, body = request(svc.url + "/addons.asmx",
                           envelope("1", [("bad@ext.example", "Bad \u00e9", "p", "12")]), SOAP_HEADERS)
    assert status == 200
    (row,) = rows(svc.db, "disabled_addons")
    assert row[1:7] == ("77", "4", "bad@ext.example", "Bad \u00e9", "p", "12")


def test_the_shipped_table_seeds_the_ratings(tmp_path):
    app = make_app(str(tmp_path / "db"))
    with open("/work/shared/data/unwanted-addons.tsv", encoding="utf-8") as f:
        next(f)
        first = f.readline().split("\t")[2]
    assert first.lower() in app.unwanted
    assert len(app.unwanted) > 100


@pytest.mark.parametrize("body,headers", [
    (envelope("2", []), SOAP_HEADERS),                                   # unknown call type
    (envelope("0", [("", "n", "p", "1")]), SOAP_HEADERS),               # add-on without identifier
    (b"<soap:Envelope", SOAP_HEADERS),                                   # not XML
    (b"<a/>", SOAP_HEADERS),                                             # not an envelope
    (envelope("1", [("x", "n", "p", "1")]), {"Content-Type": "text/xml"}),  # no SOAPAction
    (envelope("1", [("x", "n", "p", "1")]), {**SOAP_HEADERS, "Content-Type": "text/plain"}),
])
def test_malformed_rating_requests_are_refused(svc, body, headers):
    assert request(svc.url + "/addons.asmx", body, headers)[0] == 400
    assert rows(svc.db, "disabled_addons") == []


# ---- update check ----------------------------------------------------------------------

def test_update_check_lists_the_release_for_older_versions(svc):
    status, body = request(svc.url + "/update.asmx/Check?cfg=4&uid=1&lng=en&ver=1.0.0.1")
    assert status == 200
    root = ET.fromstring(body)
    assert root.tag == "Result" and root.get("Status") == "OK"
    vers = root.findall("Vers/Ver")
    assert [v.get("ENT") for v in vers] == ["a.cab", "b.cab"]
    assert root.findtext("Silent") == "0"
    for v in vers:
        s, data = request(v.get("URL"))
        assert s == 200
        assert hashlib.sha256(data).hexdigest() == v.get("SHA256")
        assert int(v.get("Size")) == len(data)


@pytest.mark.parametrize("ver", ["1.0.0.2", "1.0.1", "2"])
def test_update_check_offers_nothing_to_current_or_newer(svc, ver):
    status, body = request(svc.url + "/update.asmx/Check?ver=" + ver)
    assert status == 200 and ET.fromstring(body).get("Status") == "NONE"


def test_silent_flag_and_form_post(svc):
    (svc.release / "silent.txt").write_text("1")
    status, body = request(svc.url + "/update.asmx/Check", b"ver=0.9")
    assert status == 200 and ET.fromstring(body).findtext("Silent") == "1"


@pytest.mark.parametrize("query", ["", "ver=", "ver=1.x", "ver=1.0.0.0.0", "ver=1&ver=2"])
def test_malformed_update_checks_are_refused(svc, query):
    assert request(svc.url + "/update.asmx/Check?" + query)[0] == 400


def test_only_release_files_are_served(svc):
    assert request(svc.url + "/update/files/version.txt")[0] == 404
    assert request(svc.url + "/update/files/..%2Fservice.db")[0] == 404
    assert request(svc.url + "/update/files/a.cab")[0] == 200


def test_tls_with_a_certificate_of_a_test_authority(tmp_path):
    import ssl
    import subprocess

    def ossl(*args):
        subprocess.run(["openssl", *args], check=True, capture_output=True)

    ossl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=Test CA",
         "-addext", "basicConstraints=critical,CA:TRUE", "-keyout", str(tmp_path / "ca.key"),
         "-out", str(tmp_path / "ca.pem"))
    ossl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1", "-keyout", str(tmp_path / "s.key"),
         "-out", str(tmp_path / "s.csr"))
    (tmp_path / "s.ext").write_text("subjectAltName=IP:127.0.0.1\n")
    ossl("x509", "-req", "-in", str(tmp_path / "s.csr"), "-CA", str(tmp_path / "ca.pem"), "-CAkey",
         str(tmp_path / "ca.key"), "-CAcreateserial", "-days", "1", "-extfile", str(tmp_path / "s.ext"),
         "-out", str(tmp_path / "s.pem"))
    proc = subprocess.Popen([sys.executable, "-m", "service", "--port", "0", "--db", str(tmp_path / "db"),
                             "--tls-cert", str(tmp_path / "s.pem"), "--tls-key", str(tmp_path / "s.key")],
                            stdout=subprocess.PIPE, cwd=ROOT)
    try:
        port = int(proc.stdout.readline())
        url = "https://127.0.0.1:%d/update.asmx/Check?ver=1.0" % port
        trusted = ssl.create_default_context(cafile=str(tmp_path / "ca.pem"))
        with urllib.request.urlopen(url, context=trusted, timeout=10) as r:
            assert r.status == 200 and b'Status="NONE"' in r.read()
        with pytest.raises(urllib.error.URLError):
            urllib.request.urlopen(url, context=ssl.create_default_context(), timeout=10)
    finally:
        proc.terminate()
        proc.wait(10)
