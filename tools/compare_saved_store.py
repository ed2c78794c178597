#!/usr/bin/python3
"""Compares a store saved by `brightmend-cli save --all` with its source, as
independent readers see both.

    compare_saved_store.py SOURCE OUTPUT [--readers pypff,readpst]

Each reader reads the source and the output; below the mail folder subtree
of each it lists every folder path and, per folder, every item with its
subject and its attachments (name and SHA-256 of the bytes), and, as readpst
shows appointments, their start, end and recurrence. The two lists must be
equal: the same folder paths, the same number of items per folder, the same
subjects, the same attachment names and bytes, the same meeting times.

What the tool saves differs from the source by design in exactly these ways,
and the lists are adjusted for them before the comparison:
  - (no adjustment) pypff lists a folder's associated items (settings,
    views, rules) with its other items; each item is listed with where it
    sits, in the folder's contents table or in its associated contents (an
    item pypff hangs under the folder that the contents table does not
    hold), so an associated item saved as an ordinary one, or the reverse,
    is a difference. For the output, each item's node type must match where
    it sits (0x08 associated, 0x04 normal) and the folder's content count
    (0x3602) and associated content count (0x3617) the items found there;
  - readpst shows an item the tool saves as a task, contact, sticky note or
    journal item (the output holds it with such a class) by its own rules (a
    contact in a mail folder without subject), so for readpst such items
    are compared by number only;
  - an attachment is saved under its long file name, else its file name,
    else its display name (embedded messages and OLE objects often have
    only that); one with none is saved as "attachment" (numbered "attachment (2)"
    when repeated), which readpst calls "attachN": all of these compare as
    a nameless attachment;
  - an item readpst does not show from the source, though pypff does, is
    compared by pypff alone (readpst leaves out a mail with OLE objects
    of unicode-sample.ost's Inbox);
  - an attachment whose data is no byte string (an OLE object or an embedded
    message) is saved as a file with the bytes the store holds; pypff reads
    no bytes for it, so pypff compares it by name only. readpst does not show
    embedded messages as attachments: the output may carry, per item, as many
    extra attachments as the source item has embedded messages.
Prints "<reader>: ok" or the differences per reader; the exit code is the
number of readers that found differences, 77 when a reader is missing.
"""
import collections
import email
import email.header
import email.policy
import hashlib
import os
import re
import shutil
import sys

from readers.readpst_run import readpst_top

MAX_REPORTED = 25
NON_MAIL_PREFIXES = ("ipm.activity", "ipm.contact", "ipm.distlist")
NON_MAIL_CLASSES = ("ipm.task", "ipm.stickynote")


def is_mail_class(message_class):
    c = (message_class or "").lower()
    return not (c in NON_MAIL_CLASSES or c.startswith(NON_MAIL_PREFIXES))


def normal_subject(s):
    """A subject as both stores hold it: without the prefix marker
    (U+0001 and the prefix length) and without trailing NULs."""
    s = (s or "").rstrip("\x00")
    if len(s) >= 2 and s[0] == "\x01":
        s = s[2:]
    return s


# ---- pypff ----

FALLBACK_NAME = re.compile(r"^attachment( \(\d+\))?$")
READPST_NAME = re.compile(r"^attach\d+$")


class Item:
    def __init__(self, subject, cls="", attachments=(), embedded=0, timing=(), place=""):
        self.subject = subject
        self.place = place  # pypff: "contents" or "associated"
        self.timing = timing  # readpst: an appointment's DTSTART, DTEND and RRULE lines
        self.cls = cls
        self.attachments = list(attachments)  # [(name, digest or None)]
        self.embedded = embedded
        self.display_named = set()  # attachment names taken from the display name

    def key(self):
        return (self.subject, tuple(sorted((n, d or "no data") for n, d in self.attachments)), self.timing,
                self.place)


NID_TYPE_MASK = 0x1F
NID_TYPE_NORMAL_MESSAGE = 0x04
NID_TYPE_ASSOCIATED_MESSAGE = 0x08


def folder_count(folder, entry_type):
    import pff_store

    e = pff_store.entry(folder.record_sets, entry_type)
    return int.from_bytes(e.data[:4], "little") if e is not None and e.data else 0


def pypff_view(path, placement=None):
    """Folder path -> items. With a `placement` list, what is wrong with
    where the items sit (node types, the folders' counts) is added to it."""
    import pff_store

    f = pff_store.open_store(path)
    root = pff_store.mail_subtree(f)
    folders = {}

    def visit(folder, rel):
        items = []
        in_contents = {folder.get_sub_message(i).identifier for i in range(folder.number_of_sub_messages)}
        placed = collections.Counter()
        for i in range(folder.number_of_sub_items):
            m = folder.get_sub_item(i)
            if isinstance(m, type(folder)):
                continue
            props = pff_store.entries(m.record_sets)
            place = "contents" if m.identifier in in_contents else "associated"
            placed[place] += 1
            nid_type = m.identifier & NID_TYPE_MASK
            want = NID_TYPE_NORMAL_MESSAGE if place == "contents" else NID_TYPE_ASSOCIATED_MESSAGE
            if placement is not None and nid_type != want:
                placement.append("%s: item 0x%x sits in the %s but has node type 0x%02x" %
                                 (rel, m.identifier, place, nid_type))
            item = Item(normal_subject(pff_store.text_of(props.get(0x0037))),
                        pff_store.text_of(props.get(0x001A)) or "", place=place)
            for k in range(getattr(m, "number_of_attachments", 0)):
                att = m.get_attachment(k)
                ap = pff_store.entries(att.record_sets)
                name = pff_store.text_of(ap.get(0x3707)) or pff_store.text_of(ap.get(0x3704)) or ""
                if not name:
                    name = pff_store.text_of(ap.get(0x3001)) or ""
                    item.display_named.add(name)
                method = ap.get(0x3705)
                if method is not None and method.data and method.data[0] == 5:
                    item.embedded += 1
                item.attachments.append((name, pff_store.attachment_digest(att)))
            items.append(item)
        if placement is not None:
            for place, entry_type in (("contents", 0x3602), ("associated", 0x3617)):
                if folder_count(folder, entry_type) != placed[place]:
                    placement.append("%s: count 0x%04x is %d, %d items in the %s" %
                                     (rel, entry_type, folder_count(folder, entry_type), placed[place], place))
        folders[rel] = items
        for sub in folder.sub_folders:
            visit(sub, (rel + "\\" if rel else "") + (sub.name or ""))

    if root is not None:
        for sub in root.sub_folders:
            visit(sub, sub.name or "")
    f.close()
    return folders


# ---- readpst ----

ITEM_FILE = re.compile(r"^(\d+)$")


def decode_header(value):
    if value is None:
        return ""
    parts = []
    for text, charset in email.header.decode_header(re.sub(r"\r?\n", "", str(value))):
        if isinstance(text, bytes):
            parts.append(text.decode(charset or "utf-8", errors="replace"))
        else:
            parts.append(text)
    return "".join(parts)


CALENDAR_TIMING = (b"DTSTART", b"DTEND", b"RRULE")


def readpst_item_label(data):
    """The subject of a mail, the summary of an appointment, the full name
    of a contact; and for an appointment its start, end and recurrence as
    readpst writes them."""
    head = data[:64]
    if head.startswith(b"BEGIN:VCALENDAR") or head.startswith(b"BEGIN:VCARD"):
        key = b"SUMMARY:" if head.startswith(b"BEGIN:VCALENDAR") else b"FN:"
        label = ""
        timing = []
        for line in data.splitlines():
            if line.startswith(key) and not label:
                label = line[len(key):].decode("utf-8", errors="replace").replace("\\,", ",").replace("\\;", ";")
            elif line.startswith(CALENDAR_TIMING):
                timing.append(line.decode("utf-8", errors="replace"))
        return label, tuple(timing)
    msg = email.message_from_bytes(data, policy=email.policy.compat32)
    return decode_header(msg.get("Subject")), ()


def same_names(attachments):
    """readpst writes a second attachment of one name as "name-1"; the
    order of two such attachments is not part of the comparison."""
    names = {n for n, _ in attachments}
    out = []
    for n, d in attachments:
        base = re.sub(r"-\d+$", "", n)
        out.append((base if base != n and base in names else n, d))
    return out


def readpst_view(path):
    with readpst_top(path, "-S", "compare-readpst-") as top:
        folders = {}
        if top is None:
            return folders
        for dirpath, dirnames, filenames in os.walk(top):
            rel = os.path.relpath(dirpath, top)
            if rel == ".":
                continue
            rel = rel.replace(os.sep, "\\")
            items = {}
            attachments = collections.defaultdict(list)
            for name in filenames:
                full = os.path.join(dirpath, name)
                m = ITEM_FILE.match(name)
                if m:
                    with open(full, "rb") as fh:
                        items[m.group(1)] = readpst_item_label(fh.read())
                    continue
                number, _, att_name = name.partition("-")
                if number.isdigit():
                    with open(full, "rb") as fh:
                        attachments[number].append((att_name, hashlib.sha256(fh.read()).hexdigest()))
            folders[rel] = [Item(normal_subject(label), "", same_names(attachments.get(n, [])), timing=timing)
                            for n, (label, timing) in items.items()]
        return folders


def normal_names(folders, pattern):
    for items in folders.values():
        for item in items:
            item.attachments = [("" if FALLBACK_NAME.match(n) or (pattern and pattern.match(n)) else n, d)
                                for n, d in item.attachments]


def other_kinds(output):
    """(folder, subject) -> how many items the output holds as a task,
    contact, sticky note or journal item."""
    out = collections.Counter()
    for path, items in output.items():
        for item in items:
            if not is_mail_class(item.cls):
                out[(path, item.subject)] += 1
    return out


def adjust_pypff(source, output):
    normal_names(source, None)
    normal_names(output, None)
    # No bytes on the source side: the output's attachment of that name is
    # compared by name.
    no_bytes = {(path, item.subject, n) for path, items in source.items() for item in items
                for n, d in item.attachments if d is None}
    for path, items in output.items():
        for item in items:
            item.attachments = [(n, None if (path, item.subject, n) in no_bytes else d) for n, d in item.attachments]


def adjust_readpst(source, output, pypff_source, pypff_output):
    normal_names(source, READPST_NAME)
    normal_names(output, READPST_NAME)
    # Items saved as another kind are left to pypff, and so are items
    # readpst shows without a subject.
    bare = other_kinds(pypff_output)
    for side in (source, output):
        for path in side:
            side[path] = [i for i in side[path] if bare[(path, i.subject)] == 0 and i.subject != "(null)"]
    # An item readpst does not show from the source (but pypff does) is
    # compared by pypff alone.
    shown = {(path, i.subject) for path, items in source.items() for i in items}
    seen = {(path, i.subject) for path, items in pypff_source.items() for i in items}
    for path in output:
        output[path] = [i for i in output[path] if (path, i.subject) in shown or (path, i.subject) not in seen]
    # readpst shows an attachment named only by its display name as a
    # nameless one, in the source and so in the output too.
    display_named = {(path, i.subject, n) for path, items in pypff_source.items() for i in items
                     for n in i.display_named}
    for path, items in output.items():
        for item in items:
            item.attachments = [("" if (path, item.subject, n) in display_named else n, d)
                                for n, d in item.attachments]
    embedded = collections.Counter()
    for path, items in pypff_source.items():
        for item in items:
            if item.embedded:
                embedded[(path, item.subject)] += item.embedded
    for path, items in output.items():
        src_digests = {d for i in source.get(path, []) for _, d in i.attachments}
        for item in items:
            extra = embedded[(path, item.subject)]
            kept = []
            for n, d in item.attachments:
                if extra > 0 and d not in src_digests:
                    extra -= 1
                    continue
                kept.append((n, d))
            item.attachments = kept


def compare(source, output):
    """Differences between the source's and the output's folder lists."""
    problems = []
    for path in sorted(set(source) | set(output)):
        if path not in output:
            problems.append("folder missing from the output: %s" % path)
            continue
        if path not in source:
            problems.append("folder not in the source: %s" % path)
            continue
        src = collections.Counter(i.key() for i in source[path])
        out = collections.Counter(i.key() for i in output[path])
        if len(source[path]) != len(output[path]):
            problems.append("%s: %d items in the output, %d in the source" % (path, len(output[path]),
                                                                               len(source[path])))
        for item, n in (src - out).items():
            problems.append("%s: missing from the output (%dx): %r" % (path, n, item))
        for item, n in (out - src).items():
            problems.append("%s: not in the source (%dx): %r" % (path, n, item))
    return problems


def report(name, src, problems):
    items = sum(len(v) for v in src.values())
    attachments = sum(len(i.attachments) for v in src.values() for i in v)
    if problems:
        print("%s: %d differences (%d folders, %d items, %d attachments in the source)" %
              (name, len(problems), len(src), items, attachments))
        for p in problems[:MAX_REPORTED]:
            print("  " + p)
        return 1
    print("%s: ok (%d folders, %d items, %d attachments)" % (name, len(src), items, attachments))
    return 0


def main(argv):
    args = [a for a in argv[1:] if not a.startswith("--")]
    if len(args) != 2:
        print("usage: compare_saved_store.py SOURCE OUTPUT", file=sys.stderr)
        return 2
    source, output = args
    try:
        import pypff  # noqa: F401
    except ImportError:
        print("pypff: not installed")
        return 77
    if shutil.which("readpst") is None:
        print("readpst: not installed")
        return 77
    failed = 0
    pypff_source = pypff_view(source)
    pypff_output = pypff_view(output)
    placement = []
    src, out = pypff_view(source), pypff_view(output, placement)
    adjust_pypff(src, out)
    failed += report("pypff", src, placement + compare(src, out))
    src, out = readpst_view(source), readpst_view(output)
    adjust_readpst(src, out, pypff_source, pypff_output)
    failed += report("readpst", src, compare(src, out))
    return failed


if __name__ == "__main__":
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__.strip())
        sys.exit(0)
    sys.exit(main(sys.argv))
