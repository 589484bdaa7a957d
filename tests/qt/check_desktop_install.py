#!/usr/bin/python3
# SPDX-License-Identifier: BSD-2-Clause
"""Installs the desktop integration files into a scratch DESTDIR (never into the machine's own
databases) and checks that they fit together: the menu entry starts the installed program by
name, names the icon that is installed and the MIME type that is declared, and that type's magic
and glob recognise compressed files and nothing else of ours.

usage: check_desktop_install.py BUILD PREFIX DATADIR COD_DIR BMP"""
import configparser
import os
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

NS = "{http://www.freedesktop.org/standards/shared-mime-info}"


def fail(message):
    print("desktop files: " + message)
    sys.exit(1)


def main():
    build, prefix, datadir, cod_dir, bmp = sys.argv[1:6]
    with tempfile.TemporaryDirectory(prefix="varnic-desktop-") as scratch:
        env = dict(os.environ, DESTDIR=scratch)
        subprocess.run(["cmake", "--install", build, "--component", "desktop"], env=env, check=True,
                       stdout=subprocess.DEVNULL)
        share = scratch + os.path.join(prefix, datadir)
        entry_path = os.path.join(share, "applications", "varnic.desktop")
        mime_path = os.path.join(share, "mime", "packages", "varnic.xml")
        svg_path = os.path.join(share, "icons", "hicolor", "scalable", "apps", "varnic.svg")
        png_path = os.path.join(share, "icons", "hicolor", "128x128", "apps", "varnic.png")
        for path in (entry_path, mime_path, svg_path, png_path):
            if not os.path.isfile(path):
                fail("not installed: " + path[len(scratch):])

        parser = configparser.ConfigParser(interpolation=None, strict=True)
        parser.optionxform = str
        parser.read(entry_path, encoding="utf-8")
        if parser.sections()[:1] != ["Desktop Entry"]:
            fail("the first group must be [Desktop Entry]")
        entry = parser["Desktop Entry"]
        for key in ("Type", "Name", "Exec", "Icon", "MimeType"):
            if key not in entry:
                fail("the entry lacks " + key)
        if entry["Type"] != "Application":
            fail("Type must be Application")
        exec_words = entry["Exec"].split()
        if exec_words[0] != "varnic" or exec_words[1:] not in ([], ["%f"], ["%F"]):
            fail("Exec must start the installed program varnic with the files: " + entry["Exec"])
        if entry["Icon"] != "varnic":
            fail("Icon must name the installed icon")
        entry_types = [t for t in entry["MimeType"].split(";") if t]

        with open(png_path, "rb") as f:
            head = f.read(24)
        if head[:8] != b"\x89PNG\r\n\x1a\n" or struct.unpack(">II", head[16:24]) != (128, 128):
            fail("the 128x128 icon is not a 128 x 128 PNG")
        if ET.parse(svg_path).getroot().tag != "{http://www.w3.org/2000/svg}svg":
            fail("the scalable icon is not SVG")

        root = ET.parse(mime_path).getroot()
        if root.tag != NS + "mime-info":
            fail("the MIME file's root must be mime-info in the shared-mime-info namespace")
        types = root.findall(NS + "mime-type")
        if len(types) != 1:
            fail("one MIME type expected")
        mime = types[0]
        if mime.get("type") not in entry_types:
            fail("the menu entry does not list the type " + str(mime.get("type")))
        if [g.get("pattern") for g in mime.findall(NS + "glob")] != ["*.cod"]:
            fail("the glob must be *.cod")
        matches = mime.findall(NS + "magic/" + NS + "match")
        if not matches:
            fail("no magic")

        def recognised(data):
            for m in matches:
                if m.get("type") != "string":
                    fail("only string matches are expected")
                offset, value = int(m.get("offset")), m.get("value").encode()
                if data[offset:offset + len(value)] == value:
                    return True
            return False

        cods = sorted(os.path.join(cod_dir, n) for n in os.listdir(cod_dir) if n.endswith(".cod"))
        if not cods:
            fail("no compressed files to try the magic on")
        for path in cods:
            with open(path, "rb") as f:
                if not recognised(f.read(16)):
                    fail("the magic does not recognise " + os.path.basename(path))
        with open(bmp, "rb") as f:
            if recognised(f.read(16)):
                fail("the magic takes a bitmap for a compressed file")
    print("desktop files: installed and consistent (%d compressed files recognised)" % len(cods))


if __name__ == "__main__":
    main()
