#!/usr/bin/python3
"""What hivexml (Debian's libhivex-bin, an independent reader) sees in a hive file, one line per
key ("key PATH") and value ("value PATH NAME TYPE DATA"): a string as its text, a dword in
decimal, a string list's non-empty strings joined by "|", anything else as hex. Usage:
hive_listing.py HIVE."""
import base64
import subprocess
import sys
import xml.etree.ElementTree as ET

TYPES = {"string": 1, "expand": 2, "binary": 3, "int32": 4, "string-list": 7, "int64": 11}


def walk(node, path, out):
    out.append("key " + path)
    for value in node.findall("value"):
        kind = value.get("type")
        if kind in ("string", "expand", "int32", "int64"):
            data = value.get("value")
        elif kind == "string-list":
            data = "|".join(s.text for s in value.findall("string") if s.text)
        else:
            raw = value.get("value") or ""
            data = (base64.b64decode(raw) if value.get("encoding") == "base64" else raw.encode()).hex()
        number = TYPES.get(kind, kind)
        out.append("value %s %s %s %s" % (path, value.get("key") or "", number, data))
    for child in node.findall("node"):
        walk(child, path + "\\" + child.get("name"), out)


root = ET.fromstring(subprocess.run(["hivexml", sys.argv[1]], check=True, capture_output=True).stdout)
lines = []
top = root.find("node")
walk(top, top.get("name"), lines)
sys.stdout.write("\n".join(lines) + "\n")
