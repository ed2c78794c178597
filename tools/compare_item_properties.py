#!/usr/bin/python3
"""Compares, property by property, the items of a store saved by
`brightmend-cli save --all` with those of its source, as pypff reads both.

    compare_item_properties.py SOURCE OUTPUT

Items are matched per folder path (below the mail folder subtree) by their
subject, message class and creation time, a folder's associated items (those
its contents table does not list) apart from its other items. For every
matched item, every property of the source must be on the saved item with
the same type and the same bytes: the message's own properties, and each
attachment's properties and data. Every folder below the top one is matched
by its path and must keep its own properties the same way; the links to
special folders that a folder or the store's root folder holds (0x36D0 to
0x36D9) must name the saved folders at the paths the source's name, left out
only where none of them is saved. Named properties (0x8000 and up) are compared by property set and
LID or name, each store's name-to-ID map giving what their ids stand for.

Left out of the comparison, as the saving leaves them out of the copy: the
properties listed in src/output/source_copy.cpp (kMadeAnew for every object,
kFolderMadeAnew besides for folders; read from there, so the lists live in
one place), and an attachment's object reference
(PR_ATTACH_DATA_OBJ), which names a subnode of the store that holds it.

An empty value (an empty text or binary value, which pypff hands over as
None) must be there as an empty value too.

A folder's 8-bit string that the new store holds as Unicode (the container
class the saving gives every folder) is compared by its text.

Prints "properties: ok (...)" or the differences; exit code 1 on any
difference, 77 when pypff is missing.
"""
import collections
import os
import re
import sys

try:
    import pypff  # noqa: F401
except ImportError:
    print("pypff: not installed")
    sys.exit(77)

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pff_store  # noqa: E402

MAX_REPORTED = 30
PS_MAPI = bytes.fromhex("2803020000000000c000000000000046")
PS_PUBLIC_STRINGS = bytes.fromhex("2903020000000000c000000000000046")
PT_OBJECT = 0x000D
ATTACH_DATA = 0x3701


def made_anew_ids(name="kMadeAnew"):
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "output", "source_copy.cpp")
    with open(source, encoding="utf-8") as f:
        text = f.read()
    block = text[text.index(name + "[]"):]
    block = block[:block.index("};")]
    return {int(m, 16) for m in re.findall(r"\{0x([0-9A-Fa-f]{4}),", block)}


def name_map(f):
    """Property id -> (property set, LID or name) from the name-to-ID map."""
    streams = {}
    try:
        named = f.get_name_to_id_map()
    except Exception:
        return {}
    for rs in named.record_sets:
        for e in rs.entries:
            if e.entry_type in (2, 3, 4) and e.data is not None:
                streams.setdefault(e.entry_type, e.data)
        for e in rs.entries:
            if 0x1000 <= e.entry_type <= 0x1FFF and e.data is not None:
                streams.setdefault("buckets", []).append(e.data)
    guids = streams.get(2, b"")
    entries = streams.get(3, b"")
    strings = streams.get(4, b"")

    def records(stream):
        for at in range(0, len(stream) - 7, 8):
            yield (int.from_bytes(stream[at:at + 4], "little"), int.from_bytes(stream[at + 4:at + 6], "little"),
                   int.from_bytes(stream[at + 6:at + 8], "little"))

    def guid_of(word):
        g = word >> 1
        if g == 1:
            return PS_MAPI
        if g == 2:
            return PS_PUBLIC_STRINGS
        return guids[(g - 3) * 16:(g - 3) * 16 + 16]

    out = {}
    # As tolerantly as the saving reads the map: a record that names
    # nothing (word 0) is passed over, a string name is at the record's
    # whole offset, and a numeric name only the hash buckets hold counts too.
    for number, word, index in records(entries):
        if word == 0:
            continue
        if word & 1:
            if number + 4 > len(strings):
                number &= 0xFFFF
            length = int.from_bytes(strings[number:number + 4], "little")
            name = strings[number + 4:number + 4 + length].decode("utf-16-le", "replace")
        else:
            name = number
        # Of two entries for one id, the later one counts (as for the tool).
        out[0x8000 + index] = (guid_of(word).hex(), name)
    for bucket in streams.get("buckets", []):
        for number, word, index in records(bucket):
            if word != 0 and not word & 1:
                out.setdefault(0x8000 + index, (guid_of(word).hex(), number))
    return out


def properties(record_sets, names, skip):
    out = {}
    for rs in record_sets:
        for e in rs.entries:
            pid = e.entry_type
            if pid in skip:
                continue
            if pid >= 0x8000:
                key = names.get(pid)
                if key is None:
                    continue
                key = ("named",) + key
            else:
                key = pid
            out.setdefault((key, e.value_type), e.data)
    return out


def show(key):
    k, t = key
    if isinstance(k, int):
        return "%04X%04X" % (k, t)
    return "named %s/%s type %04X" % (k[1], k[2] if isinstance(k[2], str) else "0x%X" % k[2], t)


class Side:
    def __init__(self, path):
        self.file = pff_store.open_store(path)
        self.names = name_map(self.file)
        self.items = collections.defaultdict(list)
        self.folders = {}
        self.paths = {}  # folder identifier -> path (() for the top folder)
        self.counters = {}  # global counter -> folder identifier
        self.root = self.file.get_root_folder()
        self.paths[self.root.identifier] = ("<root>",)
        self.collect(pff_store.mail_subtree(self.file), ())

    def collect(self, folder, path):
        self.paths.setdefault(folder.identifier, path)
        # An offline store's Exchange entry ids name a folder by the global
        # counter of its long-term id (0x67F4: replica id, then 6 bytes).
        ltid = pff_store.entry(folder.record_sets, 0x67F4)
        if ltid is not None and ltid.data is not None and len(ltid.data) == 8:
            self.counters.setdefault(int.from_bytes(ltid.data[2:8], "big"), folder.identifier)
        if path:
            self.folders.setdefault(path, folder)
        contents = set()
        for m in folder.sub_messages:
            contents.add(m.identifier)
            self.items[(path, False) + self.key(m)].append(m)
        for i in range(folder.number_of_sub_items):
            m = folder.get_sub_item(i)
            if not isinstance(m, type(folder)) and m.identifier not in contents:
                self.items[(path, True) + self.key(m)].append(m)
        for sub in folder.sub_folders:
            self.collect(sub, path + (sub.name,))

    @staticmethod
    def key(m):
        rs = m.record_sets
        created = pff_store.entry(rs, 0x3007)
        return (pff_store.text(rs, 0x0037), pff_store.text(rs, 0x001A), created.data if created is not None else None)


def as_unicode_text(key, value, op):
    """The text of an 8-bit string (Windows-1252, as pff_store decodes 8-bit
    text) when the saved object holds the property as Unicode; None
    otherwise."""
    k, t = key
    if t != pff_store.PT_STRING8 or (k, pff_store.PT_UNICODE) not in op:
        return None
    return value.decode("cp1252", errors="replace").split("\x00", 1)[0]


def compare_folder(src, out, s_names, o_names, skip, where, problems):
    sp = properties(src.record_sets, s_names, skip)
    op = properties(out.record_sets, o_names, skip)
    for key, value in sp.items():
        value = value or b""
        text = as_unicode_text(key, value, op)
        if text is not None:
            saved = (op[(key[0], pff_store.PT_UNICODE)] or b"").decode("utf-16-le", errors="replace")
            if saved.split("\x00", 1)[0] != text:
                problems.append("folder %s: %s differs from its saved Unicode form" % (where, show(key)))
            continue
        if key not in op:
            problems.append("folder %s: %s missing" % (where, show(key)))
        elif (op[key] or b"") != value:
            problems.append("folder %s: %s differs (%d bytes, saved %d)" % (where, show(key), len(value),
                                                                          len(op[key] or b"")))


LINK_IDS = range(0x36D0, 0x36DA)
PT_BINARY = 0x0102
PT_MV_BINARY = 0x1102


def entry_id_nid(value, counters=None):
    """The folder an entry id names: by node id (24 bytes) or, in an
    Exchange entry id (46 bytes), by its global counter."""
    if value is not None and len(value) == 46 and counters is not None:
        return counters.get(int.from_bytes(value[38:44], "big"))
    return int.from_bytes(value[20:24], "little") if value is not None and len(value) == 24 else None


def link_targets(pid, value_type, value, counters=None):
    """The node ids a link names, in their places (None for an empty place)."""
    value = value or b""
    if value_type == PT_MV_BINARY:
        count = int.from_bytes(value[0:4], "little")
        offsets = [int.from_bytes(value[4 + 4 * i:8 + 4 * i], "little") for i in range(count)] + [len(value)]
        return [entry_id_nid(value[offsets[i]:offsets[i + 1]], counters) for i in range(count)]
    if pid == 0x36D9:
        out, at = [], 0
        while at + 4 <= len(value):
            persist, size = int.from_bytes(value[at:at + 2], "little"), int.from_bytes(value[at + 2:at + 4], "little")
            if persist == 0:
                break
            block, at, nid = value[at + 4:at + 4 + size], at + 4 + size, None
            e = 0
            while e + 4 <= len(block):
                element, length = int.from_bytes(block[e:e + 2], "little"), int.from_bytes(block[e + 2:e + 4], "little")
                if element == 3:
                    nid = entry_id_nid(block[e + 4:e + 4 + length], counters)
                e += 4 + length
            out.append(nid)
        return out
    return [entry_id_nid(value, counters)]


def compare_links(src, out, source, output, where, problems):
    """The special folders' links a folder holds must name the saved
    folders that the source's name (the same paths), and be left out only
    where none of the folders they name is saved; in a list an unsaved
    folder's place stays empty, a persisted block naming one is left out."""
    def links(folder):
        found = {}
        for rs in folder.record_sets:
            for e in rs.entries:
                if e.entry_type in LINK_IDS:
                    found.setdefault(e.entry_type, (e.value_type, e.data))
        return found
    saved = links(out)
    for pid, (value_type, value) in links(src).items():
        wanted = []
        for nid in link_targets(pid, value_type, value, source.counters):
            path = source.paths.get(nid)
            kept = path if path is not None and (path in output.folders or path in ((), ("<root>",))) else None
            if pid == 0x36D9 and kept is None:
                continue
            wanted.append(kept)
        if not any(w is not None for w in wanted):
            if pid in saved:
                problems.append("folder %s: link %04X kept though it names no saved folder" % (where, pid))
            continue
        if pid not in saved:
            problems.append("folder %s: link %04X missing" % (where, pid))
            continue
        got = [output.paths.get(nid) if nid is not None else None for nid in link_targets(pid, *saved[pid])]
        if got != wanted:
            problems.append("folder %s: link %04X names %r, the source %r" % (where, pid, got, wanted))


def compare_item(src, out, s_names, o_names, skip, where, problems):
    sp = properties(src.record_sets, s_names, skip)
    op = properties(out.record_sets, o_names, skip)
    for key, value in sp.items():
        value = value or b""
        if key not in op:
            problems.append("%s: %s missing" % (where, show(key)))
        elif (op[key] or b"") != value:
            problems.append("%s: %s differs (%d bytes, saved %d)" % (where, show(key), len(value), len(op[key] or b"")))
    # pypff reads the attachments of contents items only.
    count = getattr(src, "number_of_attachments", 0)
    saved = getattr(out, "number_of_attachments", 0)
    if count != saved:
        problems.append("%s: %d attachments, saved %d" % (where, count, saved))
        return 0
    for i in range(count):
        sa, oa = src.get_attachment(i), out.get_attachment(i)
        skip_data = skip | {ATTACH_DATA}
        sap = properties(sa.record_sets, s_names, skip_data)
        oap = properties(oa.record_sets, o_names, skip_data)
        for key, value in sap.items():
            value = value or b""
            if key not in oap:
                problems.append("%s attachment %d: %s missing" % (where, i, show(key)))
            elif (oap[key] or b"") != value:
                problems.append("%s attachment %d: %s differs" % (where, i, show(key)))
        object_data = any(e.entry_type == ATTACH_DATA and e.value_type == PT_OBJECT
                          for rs in sa.record_sets for e in rs.entries)
        if not object_data and pff_store.attachment_digest(sa) != pff_store.attachment_digest(oa):
            problems.append("%s attachment %d: data differs (%d bytes, saved %d)" % (where, i, sa.size, oa.size))
    return count


def main():
    if any(a in ("-h", "--help") for a in sys.argv[1:]):
        print(__doc__)
        return 0
    if len(sys.argv) != 3 or any(a.startswith("-") for a in sys.argv[1:]):
        print(__doc__)
        return 2
    skip = made_anew_ids()
    folder_skip = skip | made_anew_ids("kFolderMadeAnew")
    source, output = Side(sys.argv[1]), Side(sys.argv[2])
    problems = []
    items = attachments = folders = 0
    for path, folder in sorted(source.folders.items()):
        saved = output.folders.get(path)
        if saved is None:
            problems.append("folder %s: not saved" % "\\".join(path))
            continue
        folders += 1
        compare_folder(folder, saved, source.names, output.names, folder_skip, "\\".join(path), problems)
        compare_links(folder, saved, source, output, "\\".join(path), problems)
    compare_links(source.root, output.root, source, output, "<root>", problems)
    for key, sources in sorted(source.items.items(), key=lambda kv: repr(kv[0])):
        saved = output.items.get(key, [])
        where = "%s%s %r" % ("\\".join(key[0]), " (associated)" if key[1] else "", key[2])
        if len(saved) < len(sources):
            problems.append("%s: %d in the source, %d saved" % (where, len(sources), len(saved)))
        for s, o in zip(sources, saved):
            items += 1
            attachments += compare_item(s, o, source.names, output.names, skip, where, problems)
    if problems:
        print("properties: %d differences (%d folders, %d items, %d attachments compared)" %
              (len(problems), folders, items, attachments))
        for p in problems[:MAX_REPORTED]:
            print("  " + p)
        return 1
    print("properties: ok (%d folders, %d items, %d attachments)" % (folders, items, attachments))
    return 0


if __name__ == "__main__":
    sys.exit(main())
