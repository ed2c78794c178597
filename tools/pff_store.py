"""What the pypff (libpff) scripts of tools/ share: the list of shared
stores, property lookups and text decoding, and the mail folder subtree of a
store found the way the tool finds it (the node named by the message store's
IPM-subtree entry ID, bytes 20-23, or 0x2142).

Import it from a script in tools/ (the scripts' own directory is on the
module path when they run): `import pff_store`.
"""
import hashlib

import pypff

STORES = [
    "ansi-sample.pst",
    "unicode-sample.pst",
    "unicode-submessage.pst",
    "unicode-dist-list.pst",
    "unicode-sample.ost",
    "unicode-enron.pst",
    "4k-sample.ost",
]

PT_STRING8 = 0x1E
PT_UNICODE = 0x1F


def open_store(path):
    f = pypff.file()
    f.open(path)
    return f


def entries(record_sets):
    """Property id -> the first entry of that id over every record set."""
    out = {}
    for rs in record_sets:
        for e in rs.entries:
            out.setdefault(e.entry_type, e)
    return out


def entry(record_sets, entry_type):
    return entries(record_sets).get(entry_type)


def text_of(e, codepage="cp1252"):
    """A string property's text, cut at the first NUL; None when absent."""
    if e is None or e.data is None:
        return None
    if e.value_type == PT_UNICODE:
        s = e.data.decode("utf-16-le", errors="replace")
    else:
        s = e.data.decode(codepage, errors="replace")
    return s.split("\x00", 1)[0]


def text(record_sets, entry_type):
    return text_of(entry(record_sets, entry_type))


def ipm_subtree_nid(f):
    e = entry(f.get_message_store().record_sets, 0x35E0)
    if e is not None and e.data is not None and len(e.data) >= 24:
        return int.from_bytes(e.data[20:24], "little")
    return 0x2142


def find_folder(folder, nid):
    if folder.identifier == nid:
        return folder
    for sub in folder.sub_folders:
        found = find_folder(sub, nid)
        if found is not None:
            return found
    return None


def mail_subtree(f):
    """The root folder of the mail folder subtree, or None."""
    return find_folder(f.get_root_folder(), ipm_subtree_nid(f))


def mail_subtree_names(f):
    """The display names of the folders from below the root down to the mail
    folder subtree (the folders pffexport writes that subtree into), or None
    when there is no such subtree."""
    top = mail_subtree(f)
    if top is None:
        return None

    def path_to(folder, names):
        if folder.identifier == top.identifier:
            return names
        for sub in folder.sub_folders:
            found = path_to(sub, names + [sub.name or ""])
            if found is not None:
                return found
        return None

    return path_to(f.get_root_folder(), [])


def attachment_name(att):
    """The long file name, else the short one, else the display name."""
    props = entries(att.record_sets)
    for pid in (0x3707, 0x3704, 0x3001):
        name = text_of(props.get(pid))
        if name:
            return name
    return ""


def attachment_digest(att):
    """SHA-256 of the bytes libpff reads (the bytes pffexport writes), or
    None when the attachment has no binary data (an embedded message)."""
    props = entries(att.record_sets)
    data_entry = props.get(0x3701)
    if data_entry is None or data_entry.value_type != 0x102:
        return None
    size = att.size
    data = att.read_buffer(size) if size else b""
    return hashlib.sha256(data).hexdigest()


def numeric_named_ids(f):
    """Property id (0x8000 and above) -> the number (LID) it stands for, for
    every numeric entry of the store's name-to-ID map; string-named ids are
    left out."""
    out = {}
    try:
        named = f.get_name_to_id_map()
    except Exception:
        return out
    stream = None
    for rs in named.record_sets:
        for e in rs.entries:
            if e.entry_type == 0x0003 and e.data:
                stream = e.data
    if stream is None:
        return out
    for at in range(0, len(stream) - 7, 8):
        number = int.from_bytes(stream[at:at + 4], "little")
        flags = int.from_bytes(stream[at + 4:at + 6], "little")
        index = int.from_bytes(stream[at + 6:at + 8], "little")
        if flags & 1 == 0:
            out[0x8000 + index] = number
    return out
