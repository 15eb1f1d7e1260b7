#!/usr/bin/env python3
"""The request parameter token, as the service reads and the programs write it.

The key is the one compiled into the programs (platform/URLTokenKey.inc), read
from that file so there is a single copy. Usable as a module by a test
service, or from the command line:

  urltoken.py decode TOKEN
  urltoken.py pack NAME=VALUE...      (no RANDOMIZER is added)
"""
import base64
import pathlib
import re
import sys

KEY_FILE = pathlib.Path(__file__).resolve().parent.parent / "platform" / "URLTokenKey.inc"


def load_key(path=KEY_FILE):
    body = pathlib.Path(path).read_text()
    body = body[body.index("{") + 1:body.index("}")]
    key = bytes(int(v, 16) for v in re.findall(r"0x([0-9A-Fa-f]{2})", body))
    if len(key) != 256:
        raise ValueError("key file holds %d bytes, not 256" % len(key))
    return key


def checksum(data):
    s = 0
    for b in data:
        s += b
        if s > 0xFFFF:
            s %= 0xFFFF
    return s


def escape(value):
    return value.replace(b"\n", b"\n1").replace(b"\r", b"\n3").replace(b"\t", b"\n2")


def unescape(value):
    out = bytearray()
    i = 0
    while i < len(value):
        c = value[i]
        if c == 0x0A:
            if i + 1 >= len(value) or value[i + 1] not in b"123":
                raise ValueError("bad escape")
            out += {0x31: b"\n", 0x32: b"\t", 0x33: b"\r"}[value[i + 1]]
            i += 2
        else:
            out.append(c)
            i += 1
    return bytes(out)


def scramble(data, key):
    return bytes(b if i == 0 else b ^ key[(i - 1) % 256] for i, b in enumerate(data))


def pack(params, key=None):
    """params: list of (name, value) byte strings, names already upper case."""
    key = key or load_key()
    text = b"".join(b"\r" + n + b"\t" + escape(v) for n, v in params)
    plain = b"_CRC\t" + str(checksum(text)).encode() + text
    b64 = base64.b64encode(scramble(plain, key)).decode("ascii")
    return b64.replace("+", "-").replace("/", "_").replace("=", "@")


def decode(token, key=None):
    """The parameters of a token as a list of (name, value); ValueError when
    the token is malformed or its checksum does not match."""
    key = key or load_key()
    raw = base64.b64decode(token.replace("-", "+").replace("_", "/").replace("@", "="), validate=True)
    plain = scramble(raw, key)  # XOR undoes itself
    if not plain.startswith(b"_CRC\t"):
        raise ValueError("no checksum entry")
    end = plain.find(b"\r")
    end = len(plain) if end < 0 else end
    crc, text = plain[5:end], plain[end:]
    if not crc.isdigit() or int(crc) != checksum(text):
        raise ValueError("checksum mismatch")
    params = []
    for entry in text.split(b"\r")[1:]:
        name, tab, value = entry.partition(b"\t")
        if not tab:
            raise ValueError("entry without value")
        params.append((name, unescape(value)))
    return params


def main(argv):
    if len(argv) >= 2 and argv[0] == "decode":
        for name, value in decode(argv[1]):
            print("%s=%r" % (name.decode("latin-1"), value))
        return 0
    if argv and argv[0] == "pack":
        pairs = [a.split("=", 1) for a in argv[1:]]
        print(pack([(n.upper().encode("latin-1"), v.encode("latin-1")) for n, v in pairs]))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
