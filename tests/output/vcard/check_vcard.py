#!/usr/bin/env python3
"""Reads exported vCard files back with python3-vobject and compares them
with what the test says the source held.

  check_vcard.py EXPECT.json   EXPECT: [{"file": PATH, "cards": [CARD...]}]

CARD holds any of: fn, n ([family, given, additional, prefix, suffix]),
kind, email ([...]), tel ([[types, number]...]), adr ([[type, [box, ext,
street, city, region, code, country]]...]), note, categories ([...]),
photo ([media type, hex]), members ([...]), x_members ([...]), bday, org.
A file whose "cards" is null only has to be read without error, with as
many cards as "count" when that is given.
Prints every mismatch and exits 1 when there is one."""
import base64
import json
import sys

import vobject

problems = []


def fail(where, what):
    problems.append(f"{where}: {what}")


def values(card, name):
    return [line.value for line in card.contents.get(name, [])]


def check_card(where, card, want, raw_lines):
    def same(name, got, expected):
        if got != expected:
            fail(where, f"{name} {got!r} != {expected!r}")

    if "fn" in want:
        same("fn", values(card, "fn"), [want["fn"]])
    if "kind" in want:
        same("kind", values(card, "kind"), [want["kind"]])
    if "n" in want:
        n = card.contents["n"][0].value
        same("n", [n.family, n.given, n.additional, n.prefix, n.suffix], want["n"])
    if "email" in want:
        same("email", values(card, "email"), want["email"])
    if "tel" in want:
        got = [[",".join(line.params.get("TYPE", [])), line.value] for line in card.contents.get("tel", [])]
        same("tel", got, want["tel"])
    if "adr" in want:
        got = []
        for line in card.contents.get("adr", []):
            a = line.value
            got.append([",".join(line.params.get("TYPE", [])),
                        [a.box, a.extended, a.street, a.city, a.region, a.code, a.country]])
        same("adr", got, want["adr"])
    if "note" in want:
        same("note", values(card, "note"), [want["note"]])
    if "org" in want:
        same("org", values(card, "org"), [want["org"]])
    if "bday" in want:
        same("bday", values(card, "bday"), [want["bday"]])
    if "categories" in want:
        got = [c for line in card.contents.get("categories", []) for c in line.value]
        same("categories", got, want["categories"])
    if "members" in want:
        same("members", values(card, "member"), want["members"])
    if "x_members" in want:
        same("x_members", values(card, "x-brightmend-member"), want["x_members"])
    if "photo" in want:
        # vobject cuts a data: URI at its comma (it reads the value as a
        # vCard 3 list), so the photo is taken from the unfolded lines.
        photo = [line[len("PHOTO:"):] for line in raw_lines if line.upper().startswith("PHOTO:")]
        prefix = "data:" + want["photo"][0] + ";base64,"
        if len(photo) != 1 or not photo[0].startswith(prefix):
            fail(where, f"photo {[p[:40] for p in photo]} is not a {want['photo'][0]} data URI")
        else:
            same("photo", base64.b64decode(photo[0][len(prefix):]).hex(), want["photo"][1])


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        expected = json.load(f)
    for entry in expected:
        path = entry["file"]
        try:
            with open(path, encoding="utf-8", newline="") as f:
                text = f.read()
            cards = list(vobject.readComponents(text, validate=True))
        except Exception as e:  # any failure to read is what the test looks for
            fail(path, f"not read: {e!r}")
            continue
        for i, line in enumerate(text.split("\r\n")):
            if len(line.encode("utf-8")) > 75:
                fail(path, f"line {i + 1} is {len(line.encode('utf-8'))} octets long")
        if "\n" in text.replace("\r\n", ""):
            fail(path, "a line ends without CR")
        want = entry.get("cards")
        if want is None:
            if "count" in entry and len(cards) != entry["count"]:
                fail(path, f"{len(cards)} cards, expected {entry['count']}")
            continue
        if len(cards) != len(want):
            fail(path, f"{len(cards)} cards, expected {len(want)}")
        unfolded = text.replace("\r\n ", "").split("\r\n")
        starts = [i for i, line in enumerate(unfolded) if line == "BEGIN:VCARD"]
        for i, (card, w) in enumerate(zip(cards, want)):
            end = starts[i + 1] if i + 1 < len(starts) else len(unfolded)
            check_card(f"{path}#{i}", card, w, unfolded[starts[i]:end])
    for p in problems:
        print(p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
