#!/usr/bin/env python3
"""vornadump --json, read back with a JSON parser.

Makes the 240-byte library of one 100-byte module with the librarian, then
checks the document of the library and of the module field by field, the
violations of a damaged copy, and the documents of --diff.

    dump_json_test.py VORNA VORNADUMP
"""
import json
import os
import subprocess
import sys
import tempfile


def module_bytes():
    """F0 "VER.A"; F4 block 1 with START = 0x1000; F8 with one block of 65 bytes; FF."""
    m = bytes([0xF0]) + b"VER.A\0"
    m += bytes([0xF4, 0, 1, 0x00, 0x10, 0x00]) + b"START\0" + bytes(4)
    m += bytes([0xF8, 0, 1, 0, 0, 0, 65]) + bytes(range(65)) + bytes(4)
    return m + bytes([0xFF])


def dump(vornadump, *args):
    done = subprocess.run([vornadump, "--json", *args], capture_output=True, check=False)
    documents = [json.loads(line) for line in done.stdout.decode("ascii").splitlines()]
    return done.returncode, documents


def expect(what, got, want):
    if got != want:
        raise AssertionError(f"{what}: {got!r}, expected {want!r}")


def check_library(doc):
    expect("kind", doc["kind"], "library")
    expect("size", doc["size"], 240)
    h = doc["header"]
    expect("header", (h["version"], h["format"], h["cpu"], h["modules"], h["symbols"], h["size"]),
           ("V.4.00.00", "VER.A", "VRN100", 1, 1, 37))
    expect("header records", [(r["offset"], r["tag"]) for r in h["records"]],
           [(0, "F0"), (11, "F1"), (18, "F2"), (26, "F3"), (31, "F4"), (36, "FF")])
    (e,) = doc["entries"]
    expect("entry", (e["number"], e["offset"], e["size"], e["name"], e["entry_len"], e["tail_len"], e["mod_size"]),
           (1, 37, 101, "A.QOB", 85, 35, 100))
    expect("F4", [e[k] for k in ("pub_count", "pub_size", "equ_count", "equ_size", "bit_count", "bit_size", "ext_count")],
           [1, 16, 0, 0, 0, 0, 0])
    expect("publics", e["symbols"]["public"], [{"block": 1, "symbols": [{"name": "START", "value": 0x1000}]}])
    expect("other symbols", (e["symbols"]["equ"], e["symbols"]["bit"], e["symbols"]["external"], e["descriptors"]),
           ([], [], [], []))
    expect("F8", [e[k] for k in ("mod_offset", "offset1_f7", "abs_f7", "offset1_f8", "abs_f8")], [139, 0, 0, 23, 162])
    expect("mod_time", e["mod_time"], [0, 30, 8, 5, 0, 124])
    expect("table end", doc["table_end"], 138)
    (b,) = doc["bodies"]
    expect("body", (b["number"], b["offset"], b["size"]), (1, 139, 100))
    expect("body records", [(r["offset"], r["tag"]) for r in b["records"]],
           [(139, "F0"), (146, "F4"), (162, "F8"), (238, "FF")])
    f8 = b["records"][2]["fields"]
    expect("F8 fields", [(f["name"], f.get("offset"), f.get("value", f.get("length"))) for f in f8],
           [("word", 163, 1), ("length", 165, 65), ("contents", 169, 65), ("length", 234, 0)])
    expect("collects", b["collects"]["symbols"]["public"][0]["symbols"], [{"name": "START", "value": 0x1000}])
    expect("first F8", (b["collects"]["offset1_f7"], b["collects"]["offset1_f8"]), (0, 23))
    expect("body end", doc["body_end"], 239)
    expect("clean", (doc["complete"], doc["violations"], doc["clean"]), (True, [], True))


def check_diff(vorna, vornadump, stamp):
    """--diff --json of MYLIB.LIB against a library whose A.QOB holds START at
    0x1010 and whose first module NEW.QOB is new, and of a module against itself."""
    os.makedirs("v2")
    with open("v2/A.QOB", "wb") as f:
        f.write(module_bytes().replace(b"\x00\x10\x00START", b"\x00\x10\x10START"))
    with open("NEW.QOB", "wb") as f:
        f.write(bytes([0xF0]) + b"VER.A\0" + bytes([0xF6]) + b"PUTS\0\0" + bytes([0xFF]))
    for name in ("v2/A.QOB", "NEW.QOB"):
        os.utime(name, (stamp, stamp))
    subprocess.run([vorna, "-a", "-o", "OTHER", "-f", "NEW", "v2/A"], capture_output=True, check=True)

    status, (doc,) = dump(vornadump, "--diff", "MYLIB.LIB", "OTHER.LIB")
    expect("diff status", status, 1)
    expect("diff document", (doc["a"], doc["b"], doc["kind"], doc["same"]), ("MYLIB.LIB", "OTHER.LIB", "library", False))
    shape = {"what", "module", "field", "a", "b"}
    for d in doc["differences"]:
        expect("keys", set(d), shape | ({"offset", "tag", "at"} if d["what"] == "body" else set()))
        for side in ("a", "b"):
            if d[side] is not None and not isinstance(d[side], str):
                expect("a number, not a boolean", type(d[side]), int)
    expect("differences", [tuple(d[k] for k in ("what", "module", "field", "a", "b")) for d in doc["differences"]],
           [("header", None, "modules", 1, 2), ("header", None, "symbols", 1, 2),
            ("only_in_b", "NEW.QOB", None, None, 1), ("entry", "A.QOB", "public START", 0x1000, 0x1010),
            ("body", "A.QOB", None, 0, 0x10)])
    body = doc["differences"][-1]
    expect("body place", (body["offset"], body["tag"], body["at"]), (7, "F4", 12))

    status, (doc,) = dump(vornadump, "--diff", "A.QOB", "A.QOB")
    expect("same module", (status, doc["kind"], doc["same"], doc["differences"]), (0, "module", True, []))

    # Times: the entries' six fields as numbers.
    os.utime("A.QOB", (stamp + 3600, stamp + 3600))
    subprocess.run([vorna, "-a", "-o", "LATER", "-f", "A"], capture_output=True, check=True)
    status, (doc,) = dump(vornadump, "--diff", "MYLIB.LIB", "LATER.LIB")
    (d,) = doc["differences"]
    expect("time", (d["what"], d["module"], d["field"], d["a"], d["b"]),
           ("entry", "A.QOB", "mod_time", [0, 30, 8, 5, 0, 124], [0, 30, 9, 5, 0, 124]))
    status, (doc,) = dump(vornadump, "--diff", "--ignore-times", "MYLIB.LIB", "LATER.LIB")
    expect("times left out", (status, doc["same"]), (0, True))


def main():
    vorna, vornadump = (os.path.abspath(p) for p in sys.argv[1:3])
    with tempfile.TemporaryDirectory() as work:
        os.chdir(work)
        with open("A.QOB", "wb") as f:
            f.write(module_bytes())
        # 5 January 2024, 08:30:00 local time, as the F9 record holds it.
        import time
        stamp = time.mktime((2024, 1, 5, 8, 30, 0, 0, 0, -1))
        os.utime("A.QOB", (stamp, stamp))
        subprocess.run([vorna, "-a", "-o", "MYLIB", "-f", "A"], capture_output=True, check=True)

        status, (doc,) = dump(vornadump, "--check", "MYLIB.LIB")
        expect("status", status, 0)
        check_library(doc)

        status, (doc,) = dump(vornadump, "A.QOB")
        expect("module", (status, doc["kind"], doc["size"], doc["module"]["size"]), (0, "module", 100, 100))
        expect("no check, no clean", "clean" in doc, False)

        # mod_size 101: one violation, at the F2 record, and exit status 1.
        data = bytearray(open("MYLIB.LIB", "rb").read())
        data[57] = 101
        open("D.LIB", "wb").write(data)
        status, docs = dump(vornadump, "--check", "D.LIB", "MYLIB.LIB")
        expect("status", status, 1)
        expect("documents", [d["file"] for d in docs], ["D.LIB", "MYLIB.LIB"])
        expect("violations", [(v["offset"], v["message"]) for v in docs[0]["violations"]], [(53, "mod_size is 101")])
        expect("clean", (docs[0]["clean"], docs[1]["clean"]), (False, True))

        # Without --check only the fault that stopped the reading is listed.
        open("CUT.QOB", "wb").write(module_bytes()[:30])
        status, (doc,) = dump(vornadump, "CUT.QOB")
        expect("cut", (status, doc["complete"], "clean" in doc), (1, False, False))
        expect("cut violations", [(v["offset"], v["message"]) for v in doc["violations"]],
               [(23, "the F8 record is cut off by the end of the file")])

        # A name with bytes outside ASCII still makes valid JSON.
        with open("N.QOB", "wb") as f:
            f.write(bytes([0xF0]) + b"VER.A\0" + bytes([0xF6]) + b"\xe9\"\\\x01\0\0" + bytes([0xFF]))
        status, (doc,) = dump(vornadump, "N.QOB")
        expect("name", doc["module"]["collects"]["symbols"]["external"], ["\u00e9\"\\\u0001"])
        check_diff(vorna, vornadump, stamp)
    print("vornadump --json: every document read back as expected")


if __name__ == "__main__":
    main()
