"""Checks that the Japanese guide quotes every warning, error and critical
message as the Japanese catalogue prints it: the catalogue's code page 932
bytes are decoded from catalogue.cpp, each printf conversion may stand for
any example value. Usage: check-ja-messages.py catalogue.cpp README-ja.txt"""
import re
import sys

# In the catalogue, but no path of the utility prints it.
NEVER_PRINTED = {"ROVT10654-W"}


def japanese_catalogue(path):
    text = open(path, encoding="utf-8").read()
    body = text.split("g_MsgText[2][MSG_COUNT] = {", 1)[1].split("\n  },\n  {", 1)[0]
    # The readable comments above each entry are not what is printed.
    body = "\n".join(l for l in body.split("\n") if not l.strip().startswith("//"))
    messages = []
    for chunk in re.split(r"/\*\s*\d+ \*/", body)[1:]:
        raw = b"".join(
            lit.encode("latin-1").decode("unicode_escape").encode("latin-1")
            for lit in re.findall(r'"((?:[^"\\]|\\.)*)"', chunk))
        messages.append(raw.decode("cp932"))
    return messages


def main():
    messages = japanese_catalogue(sys.argv[1])
    guide = open(sys.argv[2], "rb").read()
    if not guide.startswith(b"\xef\xbb\xbf"):
        print("no byte-order mark")
        return 1
    lines = [l.strip() for l in guide[3:].decode("utf-8").replace("\r", "").split("\n")]
    checked = 0
    missing = []
    for msg in messages:
        m = re.match(r"ROVT\d+-([WEC])", msg)
        if not m or m.group(0) in NEVER_PRINTED:
            continue
        checked += 1
        pattern = re.sub(r"%l?[sdux]", ".+?", re.escape(msg.strip()))
        if not any(re.fullmatch(pattern, l) for l in lines):
            missing.append(msg.strip())
    for msg in missing:
        print("not quoted: " + msg)
    print(f"{checked - len(missing)} of {checked} messages quoted")
    return 1 if missing or checked == 0 else 0


sys.exit(main())
