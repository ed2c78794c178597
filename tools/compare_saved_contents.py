#!/usr/bin/python3
"""Compares what the items of a saved store hold with what its source's items
hold, as each independent reader sees both: bodies, attachments (name, bytes,
content id, hidden flag), embedded messages to any depth, distribution list
members, and where each item sits.

    compare_saved_contents.py SOURCE OUTPUT [--readers=pypff,readpst,pffexport]

Each reader reads the source and the output and lists, per folder path below
the mail folder subtree, every item it shows; the two lists must be equal
item for item. What each reader shows of an item:

  pypff      subject, message class, where the item sits (contents or
             associated contents), the stored plain text body (type and
             bytes) and HTML body (bytes); each attachment's name, SHA-256 of
             its bytes, content id, MIME type and hidden flag; a distribution
             list's members and one-off members, each entry ID decoded to name,
             address type and address where it is a one-off entry; an embedded
             message's own subject, class and plain text body, read from its
             property context (pypff hands over the embedded message's node
             data but not the nodes below it, so with pypff embedded messages
             are compared one level deep);
  readpst    the mail as readpst writes it (-M, one MIME file per item):
             subject, every text/plain and text/html part's text, every
             attachment's file name, SHA-256 of its bytes and Content-ID, and
             each message/rfc822 part (an embedded message) the same way, to
             any depth; contacts and appointments by their name and
             description. readpst writes no distribution lists and no
             associated items;
  pffexport  the item folders pffexport writes: subject, Message.txt and
             Message.html, every attachment file's name and SHA-256, and each
             embedded message's folder the same way, to any depth.

A reader's quirks (pffexport drops the first letter of some Cyrillic
subjects) show alike on both sides, so they need no adjustment.

Prints, per reader, "<reader>: ok (<what the source held>)" or the
differences; the exit code is the number of readers that found differences,
77 when a reader is missing.
"""
import collections
import email
import email.header
import email.policy
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from readers.readpst_run import readpst_top  # noqa: E402

MAX_REPORTED = 25
READERS = ("pypff", "readpst", "pffexport")


def digest(data):
    return hashlib.sha256(data).hexdigest()[:16]


class Tally:
    """What a reader saw in one store, for the "ok" line."""

    def __init__(self):
        self.counts = collections.Counter()

    def item(self, item, depth=1):
        self.counts["items" if depth == 1 else "embedded"] += 1
        self.counts["deepest"] = max(self.counts["deepest"], depth)
        for key in ("body", "html"):
            if item.get(key):
                self.counts["bodies"] += 1
                break
        if item.get("place") == "associated":
            self.counts["associated"] += 1
        self.counts["members"] += len(item.get("members", ()))
        for att in item.get("attachments", ()):
            if att.get("embedded") is not None:
                self.item(att["embedded"], depth + 1)
            else:
                self.counts["attachments"] += 1
            if att.get("cid"):
                self.counts["inline"] += 1

    def text(self, folders):
        c = self.counts
        return ("%d folders, %d items, %d bodies, %d attachments, %d inline, %d embedded, deepest %d, "
                "%d members, %d associated" % (folders, c["items"], c["bodies"], c["attachments"], c["inline"],
                                               c["embedded"], c["deepest"], c["members"], c["associated"]))


def freeze(value):
    """A hashable, comparable form of an item."""
    if isinstance(value, dict):
        return tuple(sorted((k, freeze(v)) for k, v in value.items()))
    if isinstance(value, (list, tuple)):
        return tuple(sorted((freeze(v) for v in value), key=repr))
    return value


def show(item, limit=300):
    text = repr({k: v for k, v in item.items() if v not in (None, "", [], ())})
    return text if len(text) <= limit else text[:limit] + "..."


# ---- pypff ----

PSETID_ADDRESS = "0420060000000000c000000000000046"
DL_MEMBERS = 0x8055
DL_ONE_OFF_MEMBERS = 0x8054
ONE_OFF_PROVIDER = bytes.fromhex("812b1fa4bea310199d6e00dd010f5402")


def one_off(entry_id):
    """(name, address type, address) of a one-off entry ID, else its hex."""
    if len(entry_id) < 24 or entry_id[4:20] != ONE_OFF_PROVIDER:
        return entry_id.hex()
    flags = int.from_bytes(entry_id[22:24], "little")
    rest = entry_id[24:]
    if flags & 0x8000:
        parts = rest.decode("utf-16-le", "replace").split("\x00")
    else:
        parts = rest.decode("cp1252", "replace").split("\x00")
    return tuple((parts + ["", "", ""])[:3])


def multi_binary(data):
    """The values of a multi-valued binary property as pypff hands it over
    (count, offsets, values)."""
    if not data or len(data) < 4:
        return []
    count = int.from_bytes(data[:4], "little")
    offsets = [int.from_bytes(data[4 + 4 * i:8 + 4 * i], "little") for i in range(count)]
    offsets.append(len(data))
    return [data[offsets[i]:offsets[i + 1]] for i in range(count)]


def heap_properties(data):
    """Property id -> (type, bytes) of a property context kept in one heap
    block (an embedded message's node data); values kept in subnodes come
    out as None."""
    out = {}
    if len(data) < 12 or data[2] != 0xEC or data[3] != 0xBC:
        return out
    page_map = int.from_bytes(data[0:2], "little")
    allocations = int.from_bytes(data[page_map:page_map + 2], "little")
    offsets = [int.from_bytes(data[page_map + 4 + 2 * i:page_map + 6 + 2 * i], "little")
               for i in range(allocations + 1)]

    def heap(hid):
        if hid & 0x1F or (hid >> 16) != 0:
            return None
        index = (hid >> 5) & 0x7FF
        if index < 1 or index > allocations:
            return None
        return data[offsets[index - 1]:offsets[index]]

    bth = heap(int.from_bytes(data[4:8], "little"))
    if bth is None or len(bth) < 8 or bth[0] != 0xB5:
        return out
    levels = bth[3]
    records = heap(int.from_bytes(bth[4:8], "little")) or b""
    if levels != 0:
        return out
    for at in range(0, len(records) - 7, 8):
        pid = int.from_bytes(records[at:at + 2], "little")
        ptype = int.from_bytes(records[at + 2:at + 4], "little")
        value = records[at + 4:at + 8]
        if ptype in (0x02, 0x03, 0x04, 0x0A, 0x0B):
            out[pid] = (ptype, value)
        else:
            hid = int.from_bytes(value, "little")
            out[pid] = (ptype, heap(hid) if hid & 0x1F == 0 else None)
    return out


def text_value(ptype, data):
    if data is None:
        return None
    if ptype == 0x1F:
        return data.decode("utf-16-le", "replace").rstrip("\x00")
    return data.decode("cp1252", "replace").rstrip("\x00")


def pypff_view(path):
    import pff_store
    import compare_item_properties

    f = pff_store.open_store(path)
    names = compare_item_properties.name_map(f)
    root = pff_store.mail_subtree(f)
    folders = {}

    def attachment(att):
        props = pff_store.entries(att.record_sets)
        out = {"name": pff_store.attachment_name(att),
               "cid": pff_store.text_of(props.get(0x3712)) or "",
               "mime": pff_store.text_of(props.get(0x370E)) or "",
               "hidden": bool(props.get(0x7FFE) is not None and props[0x7FFE].data and props[0x7FFE].data[0]),
               "bytes": None, "embedded": None}
        data = props.get(0x3701)
        method = props.get(0x3705)
        if method is not None and method.data and method.data[0] == 5:
            inner = heap_properties(att.read_buffer(att.size) if att.size else b"")
            subject = inner.get(0x0037)
            body = inner.get(0x1000)
            cls = inner.get(0x001A)
            out["embedded"] = {
                "subject": compare_saved_normal(text_value(*subject)) if subject else "",
                "class": text_value(*cls) if cls else "",
                "body": text_value(*body) if body else "",
            }
        elif data is not None and data.value_type == 0x102:
            out["bytes"] = digest(att.read_buffer(att.size) if att.size else b"")
        return out

    def item(m, place):
        props = {}
        for rs in m.record_sets:
            for e in rs.entries:
                props.setdefault(e.entry_type, e)
        body = props.get(0x1000)
        html = props.get(0x1013)
        members = []
        for pid, e in props.items():
            key = names.get(pid) if pid >= 0x8000 else None
            if key and key[0] == PSETID_ADDRESS and key[1] in (DL_MEMBERS, DL_ONE_OFF_MEMBERS):
                kind = "member" if key[1] == DL_MEMBERS else "one-off"
                members += [(kind, one_off(v)) for v in multi_binary(e.data)]
        return {
            "place": place,
            "subject": compare_saved_normal(pff_store.text_of(props.get(0x0037))),
            "class": pff_store.text_of(props.get(0x001A)) or "",
            "body": "%04x:%s" % (body.value_type, digest(body.data or b"")) if body is not None else "",
            "html": digest((html.data or b"").rstrip(b"\x00")) if html is not None else "",
            "members": sorted(members, key=repr),
            "attachments": [attachment(m.get_attachment(k)) for k in range(getattr(m, "number_of_attachments", 0))],
        }

    def visit(folder, rel):
        in_contents = {folder.get_sub_message(i).identifier for i in range(folder.number_of_sub_messages)}
        items = []
        for i in range(folder.number_of_sub_items):
            m = folder.get_sub_item(i)
            if isinstance(m, type(folder)):
                continue
            items.append(item(m, "contents" if m.identifier in in_contents else "associated"))
        folders.setdefault(rel, []).append(items)
        for sub in folder.sub_folders:
            name = pff_store.text(sub.record_sets, 0x3001) or ""
            visit(sub, rel + name + "\\")

    if root is not None:
        visit(root, "\\")
    f.close()
    return folders


def compare_saved_normal(s):
    """A subject without its prefix marker and trailing NULs."""
    s = (s or "").rstrip("\x00")
    if len(s) >= 2 and s[0] == "\x01":
        s = s[2:]
    return s


# ---- readpst ----

def decode_header(value):
    if value is None:
        return ""
    parts = []
    for text, charset in email.header.decode_header(re.sub(r"\r?\n", "", str(value))):
        parts.append(text.decode(charset or "utf-8", errors="replace") if isinstance(text, bytes) else text)
    return "".join(parts)


def mime_parts(msg, item):
    """Fills item from a parsed mail: text parts, attachments and embedded
    messages (message/rfc822 parts, read as items of their own)."""
    ctype = msg.get_content_type()
    if msg.is_multipart() and ctype != "message/rfc822":
        for part in msg.get_payload():
            mime_parts(part, item)
        return
    if ctype == "message/rfc822":
        payload = msg.get_payload()
        raw = payload[0].as_bytes() if isinstance(payload, list) else (msg.get_payload(decode=True) or b"")
        # readpst begins an embedded message with an mbox "From " line,
        # which ends the headers for the parser.
        raw = raw.lstrip(b"\r\n")
        if raw.startswith((b">From ", b"From ")):
            raw = raw.split(b"\n", 1)[1] if b"\n" in raw else b""
        inner = email.message_from_bytes(raw, policy=email.policy.compat32)
        item["attachments"].append({"name": decode_header(msg.get_filename()) if msg.get_filename() else "",
                                    "embedded": readpst_mail(inner)})
        return
    name = msg.get_filename()
    data = msg.get_payload(decode=True) or b""
    if name is None and ctype in ("text/plain", "text/html") and msg.get("Content-ID") is None:
        charset = msg.get_content_charset() or "utf-8"
        try:
            text = data.decode(charset, errors="replace")
        except LookupError:
            text = data.decode("utf-8", errors="replace")
        item["body" if ctype == "text/plain" else "html"].append(text.replace("\r\n", "\n").rstrip("\n\x00"))
        return
    if data.startswith(b"BEGIN:VCALENDAR"):
        # The calendar readpst makes of a meeting request is stamped with
        # the time readpst ran and takes its UID from the item's node id,
        # which the new store numbers afresh.
        data = re.sub(rb"(DTSTAMP|UID):[^\r\n]*", rb"\1:", data)
        # Its file name, "i" and a random number, is made up anew each run.
        if name and re.fullmatch(r"i\d+\.ics", name):
            name = "i.ics"
    cid = (msg.get("Content-ID") or "").strip().strip("<>")
    item["attachments"].append({"name": decode_header(name) if name else "", "bytes": digest(data), "cid": cid})


def readpst_mail(msg):
    item = {"subject": compare_saved_normal(decode_header(msg.get("Subject"))), "body": [], "html": [],
            "attachments": []}
    mime_parts(msg, item)
    return item


def card_field(raw, name):
    for line in raw.decode("utf-8", "replace").splitlines():
        key = line.split(":", 1)[0].split(";", 1)[0]
        if key == name and ":" in line:
            return line.split(":", 1)[1]
    return ""


def readpst_name(top, rel):
    """The folder names of a path readpst wrote, without the number readpst
    adds to the second of two same-named folders ("Projects1")."""
    parts = rel.split(os.sep)
    out = []
    for i, name in enumerate(parts):
        parent = os.path.join(top, *parts[:i])
        m = re.match(r"^(.+?)(\d+)$", name)
        out.append(m.group(1) if m and os.path.isdir(os.path.join(parent, m.group(1))) else name)
    return out


def readpst_view(path):
    with readpst_top(path, "-M", "contents-readpst-") as top:
        folders = {}
        if top is None:
            return folders
        for dirpath, _, filenames in os.walk(top):
            rel = os.path.relpath(dirpath, top)
            rel = "\\" if rel == "." else "\\" + "\\".join(readpst_name(top, rel)) + "\\"
            items = []
            for name in filenames:
                if not name.isdigit():
                    continue
                with open(os.path.join(dirpath, name), "rb") as fh:
                    raw = fh.read()
                if raw.startswith(b"BEGIN:VCARD"):
                    items.append({"subject": card_field(raw, "FN"), "body": card_field(raw, "NOTE")})
                elif raw.startswith(b"BEGIN:VCALENDAR"):
                    items.append({"subject": card_field(raw, "SUMMARY"), "body": card_field(raw, "DESCRIPTION")})
                else:
                    items.append(readpst_mail(email.message_from_bytes(raw, policy=email.policy.compat32)))
            folders.setdefault(rel, []).append(items)
        return folders


# ---- pffexport ----

ITEM_DIR = re.compile(r"^(Message|Contact|Appointment|Task|Meeting|Note|Activity|Item|Document|DistributionList)"
                      r"\d{5}$")
HEADER_FILES = ("OutlookHeaders.txt", "Contact.txt", "Appointment.txt", "Task.txt")


def pffexport_item(folder):
    subject = ""
    for name in HEADER_FILES:
        p = os.path.join(folder, name)
        if os.path.exists(p) and not subject:
            with open(p, encoding="utf-8", errors="replace") as fh:
                for line in fh:
                    if line.startswith("Subject:"):
                        subject = line.split(":", 1)[1].strip()
                        break
    item = {"kind": ITEM_DIR.match(os.path.basename(folder)).group(1), "subject": subject, "attachments": []}
    for name, key in (("Message.txt", "body"), ("Message.html", "html")):
        p = os.path.join(folder, name)
        if os.path.exists(p):
            with open(p, "rb") as fh:
                item[key] = digest(fh.read().rstrip(b"\x00"))
    attachments = os.path.join(folder, "Attachments")
    if os.path.isdir(attachments):
        for name in sorted(os.listdir(attachments)):
            p = os.path.join(attachments, name)
            if os.path.isdir(p):
                inner = [d for d in sorted(os.listdir(p)) if ITEM_DIR.match(d)]
                item["attachments"].append({"embedded": pffexport_item(os.path.join(p, inner[0])) if inner else None})
            else:
                with open(p, "rb") as fh:
                    # "1_name": the number is the attachment's place.
                    item["attachments"].append({"name": name.split("_", 1)[-1], "bytes": digest(fh.read())})
    return item


def pffexport_view(path):
    out_dir = tempfile.mkdtemp(prefix="contents-pffexport-")
    try:
        target = os.path.join(out_dir, "out")
        subprocess.run(["pffexport", "-q", "-f", "all", "-t", target, path], check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        root = target + ".export"
        folders = {}
        if not os.path.isdir(root):
            return folders
        import pff_store

        f = pff_store.open_store(path)
        names = pff_store.mail_subtree_names(f)
        f.close()
        if names is None:
            return folders
        top = os.path.join(root, *names)
        for dirpath, dirnames, _ in os.walk(top):
            rel = os.path.relpath(dirpath, top)
            if rel != "." and any(ITEM_DIR.match(p) or p == "Attachments" for p in rel.split(os.sep)):
                continue
            # pffexport names the second of two same-named folders "FolderNNNNN".
            rel = "\\" if rel == "." else "\\" + "\\".join(
                re.sub(r"^Folder\d{5}$", "(renamed by pffexport)", p) for p in rel.split(os.sep)) + "\\"
            folders.setdefault(rel, []).append(
                [pffexport_item(os.path.join(dirpath, d)) for d in sorted(dirnames) if ITEM_DIR.match(d)])
        return folders
    finally:
        shutil.rmtree(out_dir, ignore_errors=True)


# ---- comparison ----

def compare(source, output):
    """Differences between two views (folder path -> the items of each folder
    of that path: two same-named sibling folders share a path and must each
    keep their own items)."""
    problems = []
    for path in sorted(set(source) | set(output)):
        if path not in output:
            problems.append("folder missing from the output: %s" % path)
            continue
        if path not in source:
            problems.append("folder not in the source: %s" % path)
            continue
        src_items = [i for folder in source[path] for i in folder]
        out_items = [i for folder in output[path] for i in folder]
        src = collections.Counter(freeze(i) for i in src_items)
        out = collections.Counter(freeze(i) for i in out_items)
        shown = {freeze(i): i for i in src_items + out_items}
        if len(source[path]) != len(output[path]):
            problems.append("%s: %d folders of this path in the output, %d in the source" %
                            (path, len(output[path]), len(source[path])))
        if len(src_items) != len(out_items):
            problems.append("%s: %d items in the output, %d in the source" % (path, len(out_items), len(src_items)))
        for key, n in (src - out).items():
            problems.append("%s: missing from the output (%dx): %s" % (path, n, show(shown[key])))
        for key, n in (out - src).items():
            problems.append("%s: not in the source (%dx): %s" % (path, n, show(shown[key])))
        if src == out and collections.Counter(freeze(f) for f in source[path]) != collections.Counter(
                freeze(f) for f in output[path]):
            problems.append("%s: the same-named folders hold the items in other groups than in the source" % path)
    return problems


def run(reader, view, source, output):
    src, out = view(source), view(output)
    tally = Tally()
    folders = 0
    for groups in src.values():
        for items in groups:
            folders += 1
            for item in items:
                tally.item(item)
    problems = compare(src, out)
    if problems:
        print("%s: %d differences (source: %s)" % (reader, len(problems), tally.text(folders)))
        for p in problems[:MAX_REPORTED]:
            print("  " + p)
        return 1
    print("%s: ok (%s)" % (reader, tally.text(folders)))
    return 0


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    readers = list(READERS)
    for a in argv[1:]:
        if a.startswith("--readers="):
            readers = [r for r in a.split("=", 1)[1].split(",") if r]
    if len(args) != 2 or any(r not in READERS for r in readers):
        print("usage: compare_saved_contents.py SOURCE OUTPUT [--readers=pypff,readpst,pffexport]", file=sys.stderr)
        return 2
    source, output = args
    views = {"pypff": pypff_view, "readpst": readpst_view, "pffexport": pffexport_view}
    failed = 0
    try:
        import pypff  # noqa: F401  (pffexport's folders are found with it too)
    except ImportError:
        print("pypff: not installed")
        return 77
    for reader in readers:
        if reader != "pypff" and shutil.which(reader) is None:
            print("%s: not installed" % reader)
            return 77
        failed += run(reader, views[reader], source, output)
    return failed


if __name__ == "__main__":
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    sys.exit(main(sys.argv))
