"""Checks one picture drawn by padmap-layout.

usage: check_svg.py PICTURE.svg CONFIG [EXPECT]

The picture must parse as XML with an <svg> root in the SVG namespace, a
viewBox, no font families beyond the generic ones, a title naming the
configuration's hardware id, a text line naming the configuration file, and
every key of the keyboard labelled. Each line of EXPECT must be the whole text
of some text element.
"""
import os
import sys
import xml.etree.ElementTree as ET

NS = "{http://www.w3.org/2000/svg}"

LABELS = """Esc F1 F2 F3 F4 F5 F6 F7 F8 F9 F10 F11 F12 PrintScreen ScrollLock Pause
` 1 2 3 4 5 6 7 8 9 0 - = Backspace Insert Home PageUp NumLock Num/ Num* Num-
Tab Q W E R T Y U I O P [ ] \\ Delete End PageDown Num7 Num8 Num9 Num+
Caps A S D F G H J K L ; ' Enter Num4 Num5 Num6
LShift Z X C V B N M , . / RShift Up Num1 Num2 Num3 NumEnter
LCtrl LWin LAlt Space RAlt RWin Menu RCtrl Left Down Right Num0 Num.""".split()

GENERIC = {"sans-serif", "serif", "monospace"}


def hardware_id(path):
    data = open(path, "rb").read()
    if data.startswith(b"\xef\xbb\xbf"):
        text = data[3:].decode("utf-8", "replace")
    elif data.startswith(b"\xff\xfe"):
        text = data[2:].decode("utf-16-le", "replace")
    elif data.startswith(b"\xfe\xff"):
        text = data[2:].decode("utf-16-be", "replace")
    elif b"\x00" in data:
        text = data.decode("utf-16-le", "replace")
    else:
        text = data.decode("utf-8", "replace")
    words = text.split()
    return words[0] if words else ""


def main():
    svg_path, cfg_path = sys.argv[1], sys.argv[2]
    problems = []
    try:
        root = ET.parse(svg_path).getroot()
    except ET.ParseError as e:
        print("%s: not XML: %s" % (svg_path, e))
        return 1
    if root.tag != NS + "svg":
        problems.append("root is %s" % root.tag)
    if not root.get("viewBox"):
        problems.append("no viewBox")
    for el in root.iter():
        family = el.get("font-family")
        if family is not None and family not in GENERIC:
            problems.append("font family %r" % family)
    texts = ["".join(t.itertext()) for t in root.iter(NS + "text")]
    title = root.find(NS + "title")
    hid = hardware_id(cfg_path)
    if title is None or title.text != "padmap layout: " + hid:
        problems.append("title %r does not name %r" % (title is not None and title.text, hid))
    name_line = "configuration: " + os.path.basename(cfg_path)
    if not any(t == name_line for t in texts):
        problems.append("no line %r" % name_line)
    for label in LABELS:
        if label not in texts:
            problems.append("key %r not labelled" % label)
    if len(sys.argv) > 3:
        for line in open(sys.argv[3], encoding="utf-8").read().splitlines():
            if line and line not in texts:
                problems.append("expected text %r missing" % line)
    for p in problems:
        print("%s: %s" % (svg_path, p))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
