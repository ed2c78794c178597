#!/usr/bin/python3
"""Writes the expected messaging data of the shared stores, read by pypff.

For every message that pypff finds through the folder hierarchy it records
the node id, subject, sender names, message class, the attachments (file
names, data size and SHA-256 of the bytes libpff reads, the same bytes
pffexport writes), and for messages whose only body is RTF the SHA-256 of
the decompressed RTF and its text made by the simple RTF reader below (a
second, independent reading of the same RTF, compared up to whitespace).

Run from the project root:
    /usr/bin/python3 tools/expected_items.py [../shared/stores] [tests/messaging/data]
"""
import hashlib
import json
import os
import re
import sys
import zlib

from pff_store import STORES, entries, open_store, text_of


def codepage_of(props):
    for pid in (0x3FDE, 0x3FFD):
        e = props.get(pid)
        if e is not None and e.data and len(e.data) >= 4:
            cp = int.from_bytes(e.data[:4], "little")
            if cp:
                try:
                    "".encode("cp%d" % cp)
                    return "cp%d" % cp
                except LookupError:
                    pass
    return "cp1252"


# A small RTF reader of its own, kept simple on purpose: groups that start
# with a destination control word (or \*) are skipped, \par and \line are
# line breaks, \tab a tab, \'hh a byte of the \ansicpg code page, \uN a
# Unicode character followed by \ucN skipped characters, \binN N raw bytes.
DESTINATIONS = {
    "fonttbl", "colortbl", "stylesheet", "info", "pict", "header", "footer", "headerl", "headerr",
    "headerf", "footerl", "footerr", "footerf", "footnote", "author", "comment", "title", "subject",
    "operator", "keywords", "doccomm", "creatim", "revtim", "printim", "buptim", "xe", "tc", "rxe",
    "txe", "ftnsep", "ftnsepc", "ftncn", "private1",
}
CHARACTERS = {
    "emdash": "\u2014", "endash": "\u2013", "bullet": "\u2022", "lquote": "\u2018", "rquote": "\u2019",
    "ldblquote": '"', "rdblquote": '"',
}
TOKEN = re.compile(rb"\\([a-zA-Z]+)(-?\d+)? ?|\\'([0-9a-fA-F]{2})|\\(.)|([{}])|(\r\n|\r|\n)|([^\\{}\r\n]+)", re.S)


def rtf_text(rtf):
    out = []
    pending = bytearray()
    codepage = "cp1252"
    stack = []
    skip = False
    uc = 1
    fallback = 0
    star = False

    def flush():
        if pending:
            out.append(pending.decode(codepage, errors="replace"))
            pending.clear()

    pos = 0
    while pos < len(rtf):
        m = TOKEN.match(rtf, pos)
        if m is None:
            break
        pos = m.end()
        word, param, hexbyte, symbol, brace, newline, text = m.groups()
        if word == b"bin":
            # \binN: N bytes of binary data, whatever they are.
            n = int(param) if param else 0
            if not skip and n > 0:
                pending.extend(rtf[pos:pos + n].replace(b"\x00", b""))
            pos += max(n, 0)
            continue
        if brace == b"{":
            stack.append((skip, uc))
            fallback = 0
            continue
        if brace == b"}":
            if stack:
                skip, uc = stack.pop()
            fallback = 0
            continue
        if newline:
            continue
        if word is not None:
            w = word.decode()
            fallback = 0
            if w in DESTINATIONS or star:
                if star and w in ("par", "line", "tab"):
                    pass
                else:
                    skip = True
            star = False
            if skip:
                continue
            if w == "ansicpg" and param:
                flush()
                codepage = "cp%d" % int(param)
            elif w in ("par", "line"):
                pending.extend(b"\n")
            elif w == "tab":
                pending.extend(b"\t")
            elif w in CHARACTERS:
                flush()
                out.append(CHARACTERS[w])
            elif w == "uc" and param:
                uc = int(param)
            elif w == "u" and param:
                flush()
                v = int(param)
                out.append(chr(v + 65536 if v < 0 else v))
                fallback = uc
            continue
        if symbol is not None:
            if symbol == b"*":
                star = True
            elif not skip and symbol in (b"\\", b"{", b"}"):
                pending.extend(symbol)
            elif not skip and symbol == b"~":
                flush()
                out.append("\u00a0")
            continue
        if hexbyte is not None:
            if skip:
                continue
            if fallback:
                fallback -= 1
                continue
            pending.append(int(hexbyte, 16))
            continue
        if text is not None and not skip:
            for b in text:
                if fallback:
                    fallback -= 1
                    continue
                pending.append(b)
    flush()
    return "".join(out)


def store_crc(data):
    """The store format's CRC-32: reflected 0xEDB88320, starting at 0, not inverted."""
    return zlib.crc32(data, 0xFFFFFFFF) ^ 0xFFFFFFFF


def squeeze(s):
    return " ".join(s.split())


def attachment_record(att):
    props = entries(att.record_sets)
    rec = {
        "file_name": text_of(props.get(0x3704)),
        "long_file_name": text_of(props.get(0x3707)),
        "method": int.from_bytes(props[0x3705].data[:4], "little") if 0x3705 in props and props[0x3705].data else None,
    }
    data_entry = props.get(0x3701)
    rec["data_type"] = data_entry.value_type if data_entry is not None else None
    if data_entry is not None and data_entry.value_type == 0x102:
        try:
            size = att.size
            data = att.read_buffer(size) if size else b""
            rec["size"] = len(data)
            rec["sha256"] = hashlib.sha256(data).hexdigest()
            rec["crc"] = store_crc(data)
        except Exception as exc:  # libpff cannot read it either
            rec["error"] = str(exc)
    return rec


def message_record(msg):
    props = entries(msg.record_sets)
    cp = codepage_of(props)
    rec = {
        "nid": msg.identifier,
        "subject": msg.subject,
        "sender_name": msg.sender_name,
        "sent_representing_name": text_of(props.get(0x0042), cp),
        "message_class": text_of(props.get(0x001A), cp),
        "attachments": [],
    }
    try:
        for att in msg.attachments:
            rec["attachments"].append(attachment_record(att))
    except Exception as exc:
        rec["attachments_error"] = str(exc)
    try:
        plain = msg.plain_text_body
    except Exception:
        plain = None
    try:
        rtf = msg.rtf_body
    except Exception:
        rtf = None
    if rtf and not plain:
        rtf = bytes(rtf).rstrip(b"\x00")
        rec["rtf_sha256"] = hashlib.sha256(rtf).hexdigest()
        rec["rtf_size"] = len(rtf)
        rec["rtf_crc"] = store_crc(rtf)
        rec["rtf_text"] = squeeze(rtf_text(rtf))
    return rec


def walk(folder, out):
    try:
        messages = list(folder.sub_messages)
    except Exception:
        messages = []
    for m in messages:
        out.append(message_record(m))
    for sub in folder.sub_folders:
        walk(sub, out)


def main():
    if any(a.startswith("-") for a in sys.argv[1:]) or len(sys.argv) > 3:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
    stores = sys.argv[1] if len(sys.argv) > 1 else "../shared/stores"
    target = sys.argv[2] if len(sys.argv) > 2 else "tests/messaging/data"
    os.makedirs(target, exist_ok=True)
    for name in STORES:
        f = open_store(os.path.join(stores, name))
        messages = []
        walk(f.get_root_folder(), messages)
        messages.sort(key=lambda m: m["nid"])
        path = os.path.join(target, name.replace(".", "_") + ".json")
        with open(path, "w", encoding="utf-8") as out:
            json.dump({"store": name, "messages": messages}, out, ensure_ascii=False, indent=1, sort_keys=True)
            out.write("\n")
        print(path, len(messages), "messages")


if __name__ == "__main__":
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    main()
